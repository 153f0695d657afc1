// CmdUpdate: the self-update buttons. The work is the update module's; here
// are the busy counter, the download folder, the dialogs and the hand-off
// to the closing window.
#include <unistd.h>

#include <array>

#include "library/about.h"
#include "library/form1.h"
#include "online/http.h"
#include "support/largefile.h"
#include "support/paths.h"
#include "update/mirror.h"
#include "update/upgrade.h"

namespace velotag {

namespace {

constexpr std::array<const char*, kUpdateCommandCount> kUpdateCaptions = {
    "AUTO Upgrade", "Check last version", "Erase download folder"};

// Where "Ver: " finds a downloaded executable's version without running it.
[[gnu::used]] const char kVersionStamp[] = "@(#)velotag " VELOTAG_VERSION;

}  // namespace

const char* Form1::UpdateCaption(int index) {
  return index >= 0 && index < kUpdateCommandCount ? kUpdateCaptions[static_cast<std::size_t>(index)]
                                                   : "";
}

std::string Form1::DownloadFolder() const {
  return paths_.ProgramFolder + paths_.ExeName + "-download/";
}

void Form1::CmdUpdate_Click(int index) { RunUpdate(index); }

bool Form1::RunUpdate(int index) {
  if (index == kCmdEraseDownload) return EraseDownloadFolder();
  if (index != kCmdAutoUpgrade && index != kCmdCheckVersion) return false;
  if (busyCount_ != 0) {
    AddStatusLine("Still working...");
    return false;
  }
  busyCount_ = 1;
  const bool ok = index == kCmdCheckVersion ? CheckVersion() : AutoUpgrade();
  LowerBusy();
  return ok;
}

bool Form1::PrepareDownloadFolder() {
  const std::string folder = DownloadFolder();
  if (GetPathType(folder) >= kPathFolder) {
    if (GetPathType(folder + kDownloadMarker) == kPathFile) return true;
    // Someone else's folder of that name: never ours to fill or erase.
    AddStatusLine("Not the program's download folder: " + folder);
    return false;
  }
  return CreatePath(folder) && WriteBytesToFile(folder + kDownloadMarker, Bytes{'\n'});
}

// Like start-up, it erases only the folder it made itself.
bool Form1::EraseDownloadFolder() {
  const std::string caption = kUpdateCaptions[kCmdEraseDownload];
  const std::string folder = DownloadFolder();
  bool ok = true;
  if (GetPathType(folder) != kPathMissing) {
    if (GetPathType(folder + kDownloadMarker) != kPathFile) {
      AddStatusLine("Not the program's download folder: " + folder);
      ok = false;
    } else {
      std::vector<std::string> failures;
      ok = DeleteTree(folder, &failures);
      for (const std::string& line : failures) AddStatusLine(line);
    }
  }
  AddStatusLine(caption + (ok ? " SUCCESSFUL..." : " UNSUCCESSFUL..."));
  return ok;
}

namespace {

UpdateSite MakeSite(Form1& form, const std::string& home, const std::string& folder) {
  UpdateSite site;
  site.home = UpdateHomeUrl(home);
  site.downloadFolder = folder;
  site.timeoutMs = kNetworkTimeoutMs;
  site.download = [&form](std::string& url, std::string& local, int timeoutMs,
                          std::int64_t maxBytes) {
    // Stop ends the transfer under way and every one after it.
    if (form.BusyCount() == 0) return false;
    bool keepGoing = true;
    std::string cookies;
    return HttpDownload(url, local, timeoutMs, 5, keepGoing, true, maxBytes, "", cookies, "",
                        [&form, &keepGoing] {
                          form.PumpMessages();
                          if (form.BusyCount() == 0) keepGoing = false;
                        });
  };
  site.log = [&form](const std::string& line) { form.AddStatusLine(line); };
  return site;
}

}  // namespace

bool Form1::CheckVersion() {
  const std::string caption = kUpdateCaptions[kCmdCheckVersion];
  if (!PrepareDownloadFolder()) {
    AddStatusLine(caption + " UNSUCCESSFUL...");
    return false;
  }
  return CheckLastVersion(MakeSite(*this, options_.Servers.Update, DownloadFolder()), caption,
                   kVersionText);
}

bool Form1::AutoUpgrade() {
  const std::string caption = kUpdateCaptions[kCmdAutoUpgrade];
  const std::string install =
      WithTrailingSlash(paths_.InstallFolder.empty() ? paths_.ProgramFolder : paths_.InstallFolder);
  if (!CanReplaceProgram(install)) {
    // Installed from a package: the package manager owns these files.
    CheckVersion();
    AddStatusLine("The program folder " + install +
                  " is not writable: updates come from the package manager");
    return false;
  }
  if (!PrepareDownloadFolder()) {
    AddStatusLine(caption + " UNSUCCESSFUL...");
    return false;
  }
  UpgradeTarget target;
  target.programFolder = install;
  target.runningExeName = paths_.Executable.empty() ? paths_.ExeName : paths_.Executable;
  target.newExeName = upgradeExeName_;
  target.restartArguments = upgradeRestartArgs_;
  target.logFile = paths_.ProgramFolder + paths_.ExeName + "-upgrade.log";
  target.pid = static_cast<long>(::getpid());
  UpgradeResult r = PrepareUpgrade(MakeSite(*this, options_.Servers.Update, DownloadFolder()),
                                   caption, target);
  if (r.outcome == UpgradeOutcome::OfferFile) {
    OfferDownloadedFile(r.archive);
  } else if (r.outcome == UpgradeOutcome::Prepared) {
    // The window closes itself; the script runs once it has.
    upgradeMarker_ = r.archive;
    closingRequest_ = true;
  }
  return r.outcome == UpgradeOutcome::Prepared;
}

void Form1::OfferDownloadedFile(const std::string& path) {
  DownloadKind kind;
  std::string text = OfferDownloadedText(path, kind);
  if (!ui_.AskYesNo(text, "OPEN")) return;
  if (kind == DownloadKind::Zip || kind == DownloadKind::Rar) ui_.OpenExternally(path);
  else ui_.OpenExternally(GetFolderPart(path));
}

bool Form1::StartPreparedUpgrade() {
  if (upgradeMarker_.empty()) return false;
  const std::string script = DownloadFolder() + kUpgradeScriptName;
  if (GetPathType(script) != kPathFile) return false;
  upgradeMarker_.clear();
  return StartUpgradeScript(script);
}

}  // namespace velotag
