// The commands that run the main window's logic: the PATH arguments fill the
// media list as the window's buttons would, every row counts as selected, and
// the "(Sel MP3)" variant of the window's command runs on them.
#include <unistd.h>

#include <array>
#include <cstdlib>

#include "commands.h"
#include "console_ui.h"
#include "json.h"
#include "library/fingerprint.h"
#include "library/form1.h"
#include "support/largefile.h"
#include "support/paths.h"
#include "support/safewrite.h"
#include "support/tempfiles.h"
#include "terminal_text.h"

namespace velotag::cli {

namespace {

// FIELD names of `change` and `load`, in the field panel's order; field k is
// check box k.
constexpr std::array<const char*, kCheckBoxCount> kFieldNames = {
    "track",     "title",     "artist",     "album",     "year",      "genre",
    "comment",   "disc",      "albumartist", "composer", "publisher", "origartist",
    "copyright", "url",       "encoded",    "bpm",       "picture"};
constexpr int kLastID3v1Field = 6;

int FieldIndex(const std::string& name) {
  for (int k = 0; k < kCheckBoxCount; ++k)
    if (name == kFieldNames[static_cast<std::size_t>(k)]) return k;
  return -1;
}

// The input of field k: text box k for 0..4, the genre box for 5, text box
// k - 1 from 6 on.
std::string& FieldInput(FieldPanel& panel, int k) {
  if (k == 5) return panel.CmbID3v1;
  return panel.TxtID3[static_cast<std::size_t>(k < 5 ? k : k - 1)];
}

int UsageError(CommandContext& context, const std::string& message) {
  context.console.PrintError("velotag-cli: " + message +
                             "\nTry 'velotag-cli --help' for more information.\n");
  return kExitUsage;
}

// The window's logic behind a console, with the media list filled.
class Session {
 public:
  // Commands that only work on the files (change, clear, copy, pictures,
  // autotag) need no tag columns in the rows; reading them would double the
  // work on a big folder.
  enum class Rows { WithTags, FilesOnly };

  Session(CommandContext& context, Rows rows = Rows::WithTags,
          std::unique_ptr<FingerprintLookup> fingerprint = nullptr)
      : context_(context),
        ui_(context.console, context.options.yes),
        form_(ui_, Paths(context.options), std::move(fingerprint)) {
    ui_.SetStop([this] { form_.CmdSTOP_Click(); });
    form_.SetModes(context.options.showVersion - 1, context.options.editVersion - 1);
    form_.AddMediaPaths(context.paths, context.options.recursive, rows == Rows::WithTags);
    form_.Grid().SetAllItemSelectCheckbox(kBulkSet, kBulkLeave, false);
  }

  Form1& form() { return form_; }
  ConsoleUI& ui() { return ui_; }

  int Status() const {
    if (ui_.Refused() || ui_.Failed()) return kExitFailed;
    return context_.console.OutputFailed() ? kExitFailed : kExitDone;
  }

  static AppPaths Paths(const Options& options) {
    if (options.home.empty()) {
      AppPaths p = AppPaths::ForThisProcess();
      p.ExeName = "velotag";
      return p;
    }
    return AppPaths{WithTrailingSlash(options.home), "velotag"};
  }

 private:
  CommandContext& context_;
  ConsoleUI ui_;
  Form1 form_;
};

void PrintTsv(Console& console, MyListview& grid) {
  std::string line;
  for (int c = 0; c < kMediaColumnCount; ++c) {
    if (c) line += '\t';
    line += EscapeCell(grid.GetColumnheaderValue(c));
  }
  console.Print(line + "\n");
  std::vector<std::string> row;
  for (std::int32_t i = 0; i < grid.ItemCount(); ++i) {
    grid.GetItem(i, row);
    line.clear();
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c) line += '\t';
      line += EscapeCell(row[c]);
    }
    console.Print(line + "\n");
  }
}

void PrintJson(Console& console, MyListview& grid) {
  JsonWriter j;
  j.BeginArray();
  std::vector<std::string> row;
  for (std::int32_t i = 0; i < grid.ItemCount(); ++i) {
    grid.GetItem(i, row);
    j.BeginObject();
    for (int c = 0; c < kMediaColumnCount; ++c) {
      j.Key(grid.GetColumnheaderValue(c));
      j.String(row[static_cast<std::size_t>(c)]);
    }
    j.EndObject();
  }
  j.EndArray();
  console.Print(j.str() + "\n");
}

// The grid's own CSV layout, written by the grid and handed out as UTF-8.
bool PrintCsv(Console& console, MyListview& grid) {
  TempFile csv = TempFile::Create(TempFolder(), "QRN", "");
  const std::string file = csv.path();
  if (file.empty()) return false;
  bool ok = grid.SaveCSV(file, true, false);
  std::string text;
  ok = ok && ReadTextFile(file, text, 0, kTextUtf16);
  csv.reset();
  if (ok) console.Print(text);
  return ok;
}

}  // namespace

std::size_t CountFieldAssignments(const std::vector<std::string>& arguments) {
  std::size_t n = 0;
  // A FIELD=VALUE has a name without "/" before its "=" and is not a file.
  while (n < arguments.size()) {
    const std::string& a = arguments[n];
    std::size_t eq = a.find('=');
    if (eq == std::string::npos || eq == 0 || a.substr(0, eq).find('/') != std::string::npos ||
        GetPathType(a) != kPathMissing)
      break;
    ++n;
  }
  return n;
}

int RunList(CommandContext& context) {
  Session session(context);
  MyListview& grid = session.form().Grid();
  const std::string& format = context.options.format;
  if (format == "json") {
    PrintJson(context.console, grid);
  } else if (format == "csv") {
    if (!PrintCsv(context.console, grid)) {
      context.console.FileFailed("File write error: the CSV text could not be made");
      return kExitFailed;
    }
  } else {
    PrintTsv(context.console, grid);
  }
  return session.Status();
}

int RunChange(CommandContext& context) {
  bool autoTrack = context.options.commandOptions.count("--auto-track") != 0;
  std::vector<std::pair<int, std::string>> fields;
  for (const std::string& arg : context.arguments) {
    std::size_t eq = arg.find('=');
    int k = eq == std::string::npos ? -1 : FieldIndex(arg.substr(0, eq));
    if (k < 0) {
      std::string names;
      for (const char* name : kFieldNames) names += std::string(names.empty() ? "" : " ") + name;
      return UsageError(context, "unknown field \"" + arg.substr(0, eq) +
                                     "\" in change; the fields are: " + names);
    }
    if (k > kLastID3v1Field && context.options.editVersion == 1)
      return UsageError(context, std::string(kFieldNames[static_cast<std::size_t>(k)]) +
                                     " is an ID3v2 field; add --edit v2");
    fields.emplace_back(k, arg.substr(eq + 1));
  }
  if (fields.empty() && !autoTrack)
    return UsageError(context, "change needs at least one FIELD=VALUE or --auto-track");
  Session session(context, Session::Rows::FilesOnly);
  FieldPanel& panel = session.form().Panel();
  panel.ChkID3v1 = {};
  for (const auto& [k, value] : fields) {
    panel.ChkID3v1[static_cast<std::size_t>(k)] = 1;
    FieldInput(panel, k) = value;
  }
  if (autoTrack) {
    panel.ChkID3v1AutoTrack = 1;
    panel.ChkID3v1[0] = 1;
  }
  session.form().CmdID3v1_Click(kCmdChangeSel);
  return session.Status();
}

int RunClear(CommandContext& context) {
  Session session(context, Session::Rows::FilesOnly);
  session.form().CmdID3v1_Click(kCmdClearTagSel);
  return session.Status();
}

int RunCopy(CommandContext& context) {
  Session session(context, Session::Rows::FilesOnly);
  session.form().CmdID3v1_Click(kCmdCopySel);
  return session.Status();
}

int RunRename(CommandContext& context) {
  Session session(context);
  session.form().Options().RenamePattern = context.arguments.at(0);
  session.form().CmdInput_Click(kCmdRename);
  return session.Status();
}

int RunPictures(CommandContext& context) {
  Session session(context, Session::Rows::FilesOnly);
  session.form().CmdInput_Click(kCmdSavePicturesSel);
  for (const std::string& text : session.ui().Texts())
    if (text.rfind("Picture: ", 0) == 0) context.console.Print(text.substr(9) + "\n");
  return session.Status();
}

int RunLoad(CommandContext& context) {
  Session session(context);
  Form1& form = session.form();
  // The window's Load ends silently on an empty list; a script gets the
  // line the other commands refuse with, and no empty field lines.
  if (form.Grid().ItemCount() == 0) {
    form.AddStatusLine("Please load MP3 to media browser");
    return kExitFailed;
  }
  // "Load" works on the first selected row: the first one.
  form.Grid().SetAllItemSelectCheckbox(kBulkClear, kBulkLeave, false);
  form.Grid().SetItemSelected(0, true, false);
  form.CmdInput_Click(kCmdLoadID3);
  FieldPanel& panel = form.Panel();
  std::string out;
  for (int k = 0; k < kCheckBoxCount; ++k)
    out += std::string(kFieldNames[static_cast<std::size_t>(k)]) + "=" +
           EscapeCell(FieldInput(panel, k)) + "\n";
  for (const std::string& entry : panel.CmbTXXX) out += "txxx=" + EscapeCell(entry) + "\n";
  context.console.Print(out);
  return session.Status();
}

int RunCsv(CommandContext& context) {
  Session session(context);
  auto o = context.options.commandOptions.find("-o");
  std::string written = session.form().SaveListCsv(o == context.options.commandOptions.end() ? "" : o->second);
  if (!written.empty()) context.console.Print(written + "\n");
  return written.empty() ? kExitFailed : session.Status();
}

int RunAutoTag(CommandContext& context) {
  AppPaths paths = Session::Paths(context.options);
  std::unique_ptr<FingerprintLookup> lookup =
      MakeFingerprintLookup(paths.ProgramFolder, context.options.fingerprintServer);
  lookup->SetAcoustId(context.options.acoustIdKey, context.options.acoustIdServer, 0.5);
  Session session(context, Session::Rows::FilesOnly, std::move(lookup));
  session.form().CmdInput_Click(kCmdAutoTag);
  // A file the lookup found nothing for is a file not done.
  int rows = session.form().Grid().ItemCount();
  for (const std::string& text : session.ui().Texts()) {
    const std::string prefix = "Auto tagged file(s): ";
    if (text.rfind(prefix, 0) == 0 && std::atoi(text.c_str() + prefix.size()) < rows)
      return kExitFailed;
  }
  return session.Status();
}

}  // namespace velotag::cli
