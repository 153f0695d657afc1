// The commands that run the main window's logic: the PATH arguments fill the
// media list as the window's buttons would, every row counts as selected, and
// the "(Sel MP3)" variant of the window's command runs on them.
#include "commands.h"
#include "console_ui.h"
#include "json.h"
#include "library/fingerprint.h"
#include "library/form1.h"
#include "support/paths.h"
#include "support/textenc.h"
#include "terminal_text.h"

namespace velotag::cli {

namespace {

// The field a FIELD name of `change` names; null when none.
const PanelFieldInfo* FindField(const std::string& name) {
  for (const PanelFieldInfo& f : kPanelFields)
    if (name == f.name) return &f;
  return nullptr;
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
    added_ = form_.AddMediaPaths(context.paths, context.options.recursive, rows == Rows::WithTags);
    form_.Grid().SetAllItemSelectCheckbox(kBulkSet, kBulkLeave, false);
  }

  Form1& form() { return form_; }

  // The exit status after the command's result: a file whose tags could
  // not even be listed fails it too.
  int Status(const BatchResult& result = {}) const {
    if (!added_.Ok() || !result.Ok() || ui_.Refused() || ui_.Failed()) return kExitFailed;
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
  BatchResult added_;
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

// The grid's own CSV layout, made by the grid as UTF-16 and handed out as
// UTF-8.
bool PrintCsv(Console& console, MyListview& grid) {
  std::string units;
  const bool ok = grid.WriteCSV([&units](std::string_view piece) {
    units.append(piece);
    return true;
  }, true, false);
  if (ok) console.Print(DecodeUtf16(reinterpret_cast<const std::uint8_t*>(units.data()), units.size(), false));
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
  std::vector<std::pair<PanelField, std::string>> fields;
  for (const std::string& arg : context.arguments) {
    std::size_t eq = arg.find('=');
    const PanelFieldInfo* f = eq == std::string::npos ? nullptr : FindField(arg.substr(0, eq));
    if (!f) {
      std::string names;
      for (const PanelFieldInfo& known : kPanelFields)
        names += std::string(names.empty() ? "" : " ") + known.name;
      return UsageError(context, "unknown field \"" + arg.substr(0, eq) +
                                     "\" in change; the fields are: " + names);
    }
    if (f->v2Only && context.options.editVersion == 1)
      return UsageError(context, std::string(f->name) + " is an ID3v2 field; add --edit v2");
    fields.emplace_back(f->field, arg.substr(eq + 1));
  }
  if (fields.empty() && !autoTrack)
    return UsageError(context, "change needs at least one FIELD=VALUE or --auto-track");
  Session session(context, Session::Rows::FilesOnly);
  FieldPanel& panel = session.form().Panel();
  panel.ChkID3v1 = {};
  for (const auto& [field, value] : fields) {
    panel.Check(field) = 1;
    panel.Input(field) = value;
  }
  if (autoTrack) {
    panel.ChkID3v1AutoTrack = 1;
    panel.Check(PanelField::Track) = 1;
  }
  return session.Status(session.form().RunBatch(BatchKind::Change, false));
}

int RunClear(CommandContext& context) {
  Session session(context, Session::Rows::FilesOnly);
  return session.Status(session.form().RunBatch(BatchKind::Clear, false));
}

int RunCopy(CommandContext& context) {
  Session session(context, Session::Rows::FilesOnly);
  return session.Status(session.form().RunBatch(BatchKind::Copy, false));
}

int RunRename(CommandContext& context) {
  Session session(context);
  session.form().Options().RenamePattern = context.arguments.at(0);
  return session.Status(session.form().RenameFiles());
}

int RunPictures(CommandContext& context) {
  Session session(context, Session::Rows::FilesOnly);
  const BatchResult result = session.form().SavePictures(false);
  for (const std::string& file : result.written) context.console.Print(file + "\n");
  return session.Status(result);
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
  const BatchResult result = form.LoadID3Data();
  const FieldPanel& panel = form.Panel();
  std::string out;
  for (const PanelFieldInfo& f : kPanelFields)
    out += std::string(f.name) + "=" + EscapeCell(panel.Input(f.field)) + "\n";
  for (const std::string& entry : panel.CmbTXXX) out += "txxx=" + EscapeCell(entry) + "\n";
  context.console.Print(out);
  return session.Status(result);
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
  const BatchResult result = session.form().AutoTag();
  // A file the lookup found nothing for is a file not done.
  if (result.done < session.form().Grid().ItemCount()) return kExitFailed;
  return session.Status(result);
}

}  // namespace velotag::cli
