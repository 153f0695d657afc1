// velotag-cli cd: the CD window's drive box, track list, CDDB and
// MusicBrainz lookups and rip, run through FormCDDB on a device or a disc
// image.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>

#include "commands.h"
#include "console_ui.h"
#include "library/formcddb.h"
#include "support/paths.h"
#include "support/strutil.h"

namespace velotag::cli {

namespace {

int Usage(CommandContext& context, const std::string& message) {
  context.console.PrintError("velotag-cli: " + message +
                             "\nTry 'velotag-cli --help' for more information.\n");
  return kExitUsage;
}

// The console, except that the rip's folder is not opened: the files
// written are printed instead.
class CdConsoleUI : public ConsoleUI {
 public:
  using ConsoleUI::ConsoleUI;
  void OpenExternally(const std::string&) override {}
};

std::string Option(const CommandContext& context, const char* name) {
  auto it = context.options.commandOptions.find(name);
  return it == context.options.commandOptions.end() ? std::string() : it->second;
}

bool Has(const CommandContext& context, const char* name) {
  return context.options.commandOptions.count(name) != 0;
}

// "1,3-5" as track numbers; false when it is not such a list.
bool ParseTrackList(const std::string& text, std::set<int>& tracks) {
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t comma = text.find(',', pos);
    std::string part = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    std::size_t dash = part.find('-');
    std::string a = part.substr(0, dash), b = dash == std::string::npos ? a : part.substr(dash + 1);
    auto number = [](const std::string& s, int& n) {
      if (s.empty() || s.size() > 2 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
      n = std::atoi(s.c_str());
      return n >= 1;
    };
    int from = 0, to = 0;
    if (!number(a, from) || !number(b, to) || to < from) return false;
    for (int t = from; t <= to; ++t) tracks.insert(t);
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return !tracks.empty();
}

class CdSession {
 public:
  explicit CdSession(CommandContext& context)
      : context_(context), ui_(context.console, context.options.yes) {
    settings_.Servers.CddbEmail = context.options.cddbEmail;
    settings_.Servers.MusicBrainz = context.options.musicBrainzServer;
    FormCDDBHost host;
    host.programFolder = context.options.home.empty() ? GetAppFolder()
                                                      : WithTrailingSlash(context.options.home);
    host.settings = &settings_;
    host.serverOverride = context.options.cddbServer;
    host.changed = [this](CddbControl what) {
      // The progress lines only; the rip's last text becomes a status line.
      if (what == CddbControl::RipText && form_->TxtCDrip.rfind("[ ", 0) == 0)
        context_.console.Progress(form_->TxtCDrip);
    };
    form_ = std::make_unique<FormCDDB>(ui_, host);
    ui_.SetStop([this] { form_->CmdCDDB_Click(kCddbStop); });
    if (MusicBrainz(context)) form_->CmbServer = "MusicBrainz";
  }

  static bool MusicBrainz(const CommandContext& context) {
    return Option(context, "--server") == "musicbrainz";
  }

  FormCDDB& form() { return *form_; }
  ConsoleUI& ui() { return ui_; }

  // The drive: --drive, else the system's first CD drive. False (with the
  // message printed) when there is none.
  bool ChooseDrive() {
    const std::string drive = Option(context_, "--drive");
    if (!drive.empty()) {
      form_->AddDrive(drive);
      return true;
    }
    form_->Form_Load();
    if (form_->DriveText().empty()) {
      context_.console.PrintError("velotag-cli: no CD drive found (--drive names a device or a .cue image)\n");
      return false;
    }
    return true;
  }

  bool HasDisc() {
    if (!form_->TrackLines().empty()) return true;
    context_.console.PrintError("velotag-cli: no disc in " + form_->DriveText() + "\n");
    return false;
  }

  void Print(const std::string& line) { context_.console.Print(line + "\n"); }

 private:
  CommandContext& context_;
  CdConsoleUI ui_;
  Settings settings_;
  std::unique_ptr<FormCDDB> form_;
};

bool Success(const CddbResponse& r) { return r.code / 100 == 2; }

int Drives(CommandContext& context) {
  std::vector<CdDrive> drives;
  ListCdDrives(drives, true);
  for (const CdDrive& d : drives) context.console.Print(d.drive + " " + d.identifier + "\n");
  return kExitDone;
}

int Toc(CdSession& s) {
  if (!s.ChooseDrive() || !s.HasDisc()) return kExitFailed;
  for (const std::string& line : s.form().TrackLines()) s.Print(line);
  return kExitDone;
}

// The MusicBrainz disc ID, the status line and a line per release.
int QueryMusicBrainz(CdSession& s) {
  s.form().CmdCDDB_Click(kCddbQuery);
  const MbLookup& found = s.form().MusicBrainzAnswer();
  s.Print(s.form().TxtCDDBdiscid);  // empty when no ID could be made
  s.Print(found.message);
  for (const std::string& line : s.form().LstCDDB(0).Lines()) s.Print(line);
  return found.status == MbStatus::Found ? kExitDone : kExitFailed;
}

int Query(CommandContext& context, CdSession& s) {
  if (!s.ChooseDrive()) return kExitFailed;
  if (CdSession::MusicBrainz(context)) return QueryMusicBrainz(s);
  std::vector<TocEntry> toc;
  ReadToc(s.form().DriveText(), toc);
  s.form().CmdCDDB_Click(kCddbQuery);
  const CddbResponse& r = s.form().Response();
  s.Print(CddbDiscId(toc));
  s.Print(r.message);
  for (const std::string& line : s.form().LstCDDB(0).Lines()) s.Print(line);
  return Success(r) ? kExitDone : kExitFailed;
}

int Read(CdSession& s, const std::string& category, const std::string& discId) {
  s.form().CmbCategories = category;
  s.form().TxtCDDBdiscid = discId;
  s.form().CmdCDDB_Click(kCddbRead);
  const CddbResponse& r = s.form().Response();
  s.Print(r.message);
  for (const std::string& line : s.form().LstCDDB(1).Lines()) s.Print(line);
  return Success(r) ? kExitDone : kExitFailed;
}

int Rip(CommandContext& context, CdSession& s) {
  const bool byId = Has(context, "--category") || Has(context, "--discid");
  if (byId && (Option(context, "--category").empty() || Option(context, "--discid").empty()))
    return Usage(context, "cd rip needs --category and --discid together");
  if (byId && CdSession::MusicBrainz(context))
    return Usage(context, "cd rip takes --category and --discid or --server musicbrainz, not both");
  std::set<int> wanted;
  if (Has(context, "--tracks") && !ParseTrackList(Option(context, "--tracks"), wanted))
    return Usage(context, "--tracks takes a list like 1,3-5, not \"" + Option(context, "--tracks") + "\"");
  if (!s.ChooseDrive() || !s.HasDisc()) return kExitFailed;
  FormCDDB& form = s.form();
  const auto& lines = form.TrackLines();
  for (int t : wanted)
    if (t < form.TrackNumber(0) || t > form.TrackNumber(static_cast<int>(lines.size()) - 1))
      return Usage(context, "the disc has no track " + std::to_string(t));
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const int t = form.TrackNumber(static_cast<int>(k));
    // By default every audio track.
    form.SetTrackSelected(static_cast<int>(k), wanted.empty() ? lines[k].rfind("Audio", 0) == 0
                                                              : wanted.count(t) != 0);
  }
  if (byId) {
    form.CmbCategories = Option(context, "--category");
    form.TxtCDDBdiscid = Option(context, "--discid");
    form.CmdCDDB_Click(kCddbRead);
    context.console.AddStatusLine(form.TxtCDDB[1]);
    // Names were asked for: without the record there is nothing to rip.
    if (!Success(form.Response())) return kExitFailed;
  } else if (Has(context, "--server")) {
    // The first match found for the disc names the files (with
    // MusicBrainz, the first release: the read takes it from the query).
    form.CmdCDDB_Click(kCddbQuery);
    context.console.AddStatusLine(form.TxtCDDB[0]);
    if (!form.LstCDDB(0).Lines().empty()) {
      form.CmdCDDB_Click(kCddbRead);
      context.console.AddStatusLine(form.TxtCDDB[1]);
    }
  }
  form.ChkSecure = !Has(context, "--fast");
  const std::size_t selected =
      static_cast<std::size_t>(std::count(form.TrackSelection().begin(), form.TrackSelection().end(), true));
  form.CmdCDDB_Click(kCddbRip);
  context.console.EndProgress();
  for (const std::string& file : form.RippedFiles()) s.Print(file);
  if (!form.TxtCDrip.empty()) context.console.AddStatusLine(form.TxtCDrip);
  if (s.ui().Refused() || form.RippedFiles().size() != selected) return kExitFailed;
  return kExitDone;
}

}  // namespace

std::size_t CountCdArguments(const std::vector<std::string>& arguments) { return arguments.size(); }

int RunCd(CommandContext& context) {
  const std::vector<std::string>& args = context.arguments;
  const std::string what = args.empty() ? std::string() : args[0];
  const std::size_t wantArgs = what == "read" ? 3 : 1;
  if (what != "drives" && what != "toc" && what != "query" && what != "read" && what != "rip")
    return Usage(context, "cd takes drives, toc, query, read or rip");
  if (args.size() != wantArgs)
    return Usage(context, what == "read" ? "cd read takes CATEGORY and DISCID"
                                         : "cd " + what + " takes no other arguments");
  const std::string server = Option(context, "--server");
  if (Has(context, "--server") && server != "freedb" && server != "musicbrainz")
    return Usage(context, "--server takes freedb or musicbrainz, not \"" + server + "\"");
  if (what == "read" && server == "musicbrainz")
    return Usage(context, "cd read reads CDDB records; MusicBrainz releases come with cd query");
  const std::string drive = Option(context, "--drive");
  if (Has(context, "--drive") && GetPathType(drive) == kPathMissing)
    return Usage(context, "no such device or image: " + drive);
  if (what == "drives") return Drives(context);
  CdSession session(context);
  if (what == "toc") return Toc(session);
  if (what == "query") return Query(context, session);
  if (what == "read") return Read(session, args[1], args[2]);
  return Rip(context, session);
}

}  // namespace velotag::cli
