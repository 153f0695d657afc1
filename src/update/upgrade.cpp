#include "update/upgrade.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "support/largefile.h"
#include "support/paths.h"
#include "support/safewrite.h"
#include "support/strutil.h"
#include "support/textenc.h"
#include "update/extract.h"
#include "update/script.h"
#include "update/version.h"

extern char** environ;

namespace velotag {

namespace {

bool ReadPage(const std::string& file, std::string& page) {
  Offset64 size = 0;
  FileHandle f = OpenRead(file, &size);
  if (!f.valid() || size > kMaxHomePageBytes) return false;
  Bytes bytes(static_cast<std::size_t>(size));
  if (LargeFileRead(f.get(), bytes.data(), bytes.size()) != bytes.size()) return false;
  page = Utf8BytesToString(bytes);
  return true;
}

}  // namespace

std::string UpdateHomeUrl(const std::string& setting) {
  std::string url = TrimBlanks(setting);
  if (url.empty()) return kDefaultUpdateHost;
  std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) {
    url = "https://" + url;
  } else {
    std::string name = AsciiLower(url.substr(0, scheme));
    if (name != "http" && name != "https") return {};
    url = name + url.substr(scheme);
  }
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

std::vector<std::string> ArchiveUrls(const std::string& home) {
  return {home + "/id3/Velotag.zip", home + "/hollowcrag/progik/Velotag.zip"};
}

bool FetchHomePage(const UpdateSite& site, const std::string& caption, std::string& page) {
  std::string url = site.home + kHomePagePath;
  std::string file = site.downloadFolder;
  if (site.home.empty() || !site.download(url, file, site.timeoutMs, kMaxHomePageBytes)) {
    site.log(caption + " UNSUCCESSFUL...");
    return false;
  }
  if (!ReadPage(file, page)) {
    site.log("File read error: " + file);
    return false;
  }
  return true;
}

bool CheckLastVersion(const UpdateSite& site, const std::string& caption,
                      const std::string& localVersion) {
  std::string page;
  if (!FetchHomePage(site, caption, page)) return false;
  bool answered = false;
  for (const std::string& line : VersionCheckLines(caption, page, localVersion, &answered))
    site.log(line);
  return answered;
}

UpgradeResult PrepareUpgrade(const UpdateSite& site, const std::string& caption,
                             const UpgradeTarget& target) {
  UpgradeResult result;
  std::string page;
  if (!FetchHomePage(site, caption, page)) return result;
  std::string sha256 = PublishedSha256(page);
  if (sha256.empty()) {
    site.log("No SHA-256 on the home page: " + site.home + kHomePagePath);
    site.log(caption + " UNSUCCESSFUL...");
    return result;
  }
  std::string local = site.downloadFolder;
  std::string archive = DownloadFirstMirror(local, ArchiveUrls(site.home), site.timeoutMs,
                                            site.download, sha256, site.log);
  if (archive.empty()) {
    site.log(caption + " UNSUCCESSFUL...");
    return result;
  }
  site.log(caption + ": DOWNLOAD SUCCESSFUL...");
  result.archive = archive;

  const std::string extracted = site.downloadFolder + "extracted/";
  Extraction x = ExtractUpgradeArchive(archive, extracted, target.newExeName);
  if (x.ok && GetPathType(extracted + target.newExeName) != kPathFile) {
    x.ok = false;
    x.error = target.newExeName + " is not in it";
  }
  // Copying such an entry over the program folder would replace the very
  // files the script copies from.
  for (const std::string& name : x.names)
    if (x.ok && site.downloadFolder.rfind(target.programFolder + name + "/", 0) == 0) {
      x.ok = false;
      x.error = "it holds " + name;
    }
  if (!x.ok) {
    DeleteTree(extracted);
    site.log("Can't extract " + archive + ": " + x.error);
    site.log(caption + " UNSUCCESSFUL...");
    return result;
  }

  ShellUpgradePlan plan;
  plan.programFolder = target.programFolder;
  plan.extractedFolder = extracted;
  plan.backupFolder = site.downloadFolder + "old/";
  plan.logFile = target.logFile;
  plan.names = x.names;
  plan.newExeName = target.newExeName;
  plan.runningExeName = target.runningExeName;
  plan.restartArguments = target.restartArguments;
  plan.pid = target.pid;
  plan.startTime = ProcessStartTime(target.pid);
  plan.settleSeconds = target.settleSeconds;
  const std::string script = site.downloadFolder + kUpgradeScriptName;
  std::string text = BuildUpgradeShellScript(plan);
  if (text.empty() || !ReplaceFileBytes(script, Bytes(text.begin(), text.end())) ||
      ::chmod(script.c_str(), 0700) != 0) {
    site.log(std::string("Can't create ") + kUpgradeScriptName);
    result.outcome = UpgradeOutcome::OfferFile;
    return result;
  }
  result.outcome = UpgradeOutcome::Prepared;
  result.script = script;
  return result;
}

bool StartUpgradeScript(const std::string& script) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  // Its own session, so that closing the terminal or the window's process
  // group does not take it along; nothing of ours stays open in it.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  for (int fd = 0; fd <= 2; ++fd)
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  std::string shell = "/bin/sh", path = script;
  char* argv[] = {shell.data(), path.data(), nullptr};
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, argv[0], &actions, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0;
}

std::string ProcessStartTime(long pid) {
  std::string stat;
  std::string file = "/proc/" + std::to_string(pid) + "/stat";
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd == -1) return {};
  char buf[1024];
  ssize_t n = ::read(fd, buf, sizeof buf);
  ::close(fd);
  if (n <= 0) return {};
  stat.assign(buf, static_cast<std::size_t>(n));
  // The name in parentheses may hold blanks and parentheses itself.
  std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return {};
  std::size_t p = close + 1;
  // Fields after the name start at 3; the start time is field 22.
  for (int field = 3; field <= 22; ++field) {
    p = stat.find_first_not_of(' ', p);
    if (p == std::string::npos) return {};
    std::size_t end = stat.find(' ', p);
    if (field == 22) return stat.substr(p, end == std::string::npos ? std::string::npos : end - p);
    if (end == std::string::npos) return {};
    p = end;
  }
  return {};
}

bool CanReplaceProgram(const std::string& folder) {
  return !folder.empty() && !IsSystemFolder(folder) && ::access(folder.c_str(), W_OK) == 0;
}

}  // namespace velotag
