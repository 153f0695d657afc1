#include "cli.h"

#include <algorithm>

#include "commands.h"
#include "support/paths.h"
#include "terminal_text.h"

namespace velotag::cli {

namespace {

constexpr const char* kProgram = "velotag-cli";

std::string UsageText() {
  std::string text =
      "Usage: velotag-cli [OPTIONS] COMMAND [COMMAND ARGS] [PATH...]\n"
      "\n"
      "Runs a Velotag command on the MP3 files named by PATH (a folder stands for\n"
      "its MP3 files).\n"
      "\n"
      "Commands:\n";
  for (const Command& c : Commands()) text += std::string("  ") + c.synopsis + "\n";
  text +=
      "\n"
      "Options (anywhere before --):\n"
      "  -r, --recursive              add folders with their subfolders\n"
      "  --show v1|v2                 the tag version the list shows (default v1)\n"
      "  --edit v1|v2                 the tag version commands edit (default v1)\n"
      "  -y, --yes                    answer Yes to every question\n"
      "  --home DIR                   the program folder\n"
      "  -q, --quiet                  print no status lines\n"
      "  --cddb-server HOST[:PORT]    where CDDB lookups connect\n"
      "  --cddb-email ADDRESS         the address CDDB lookups greet the server with\n"
      "  --fingerprint-server HOST[:PORT]\n"
      "                               where fingerprint lookups connect\n"
      "  --update-server URL          the home web host of the self-update,\n"
      "                               https://HOST[:PORT] or http://HOST[:PORT]\n"
      "  --acoustid-key KEY           the AcoustID application key: autotag asks\n"
      "                               AcoustID instead of the fingerprint service\n"
      "  --acoustid-server URL        the AcoustID service (https://api.acoustid.org)\n"
      "  --musicbrainz-server URL     the MusicBrainz web service of the cd commands'\n"
      "                               --server musicbrainz (https://musicbrainz.org)\n"
      "  --format tsv|csv|json        output format\n"
      "  -h, --help                   show this help\n"
      "  --version                    show the program's version\n"
      "\n"
      "Exit status: 0 done, 1 a file failed or the command refused to start,\n"
      "2 usage error.\n";
  return text;
}

int UsageError(std::FILE* err, const std::string& message) {
  // A path named on the command line may hold control characters too.
  std::string text = EscapeControls(std::string(kProgram) + ": " + message + "\n", true) +
                     "Try 'velotag-cli --help' for more information.\n";
  std::fwrite(text.data(), 1, text.size(), err);
  return kExitUsage;
}

const Command* FindCommand(const std::string& name) {
  for (const Command& c : Commands())
    if (name == c.name) return &c;
  return nullptr;
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> kCommands = {
      {"list", "list [--format tsv|csv|json] PATH...   the media list's 12 columns",
       {}, 0, {"tsv", "csv", "json"}, RunList},
      {"change", "change [--auto-track] FIELD=VALUE... PATH...   change the checked fields",
       {{"--auto-track", false}}, 0, {}, RunChange, CountFieldAssignments},
      {"clear", "clear PATH...   remove the edited tag version", {}, 0, {}, RunClear},
      {"copy", "copy PATH...   copy the edited version into the other", {}, 0, {}, RunCopy},
      {"rename", "rename PATTERN PATH...   rename files from the shown tag", {}, 1, {},
       RunRename},
      {"pictures", "pictures PATH...   save the ID3v2 pictures next to the files", {}, 0, {},
       RunPictures},
      {"load", "load PATH...   the first file's tag as the field panel shows it", {}, 0, {},
       RunLoad},
      {"csv", "csv [-o FILE] PATH...   save the media list as CSV (UTF-16LE)",
       {{"-o", true}}, 0, {}, RunCsv},
      {"autotag", "autotag PATH...   artist and title by acoustic fingerprint", {}, 0, {},
       RunAutoTag},
      {"frames", "frames [--format json] PATH...   the ID3v2 header and frames of each file",
       {}, 0, {"json"}, RunFrames},
      {"update", "update check|upgrade|erase   the self-update: version check, upgrade, "
                 "download folder",
       {}, 1, {}, RunUpdate},
      {"cd",
       "cd drives   the CD drives\n"
       "  cd toc [--drive D]   the tracks of the disc in D (a device or a .cue image)\n"
       "  cd query [--drive D] [--server freedb|musicbrainz]   look the disc up (CDDB,\n"
       "     or the MusicBrainz releases of its disc ID)\n"
       "  cd read CATEGORY DISCID [--server freedb]   the CDDB record of a match\n"
       "  cd rip [--drive D] [--tracks 1,3-5] [--category C --discid ID | --server S] [--fast]\n"
       "     rip audio tracks into WAV files under CDRIP/, named from the CDDB record\n"
       "     or the first MusicBrainz release (--fast: no error correction)",
       {{"--drive", true}, {"--server", true}, {"--tracks", true}, {"--category", true},
        {"--discid", true}, {"--fast", false}},
       0, {}, RunCd, CountCdArguments},
  };
  return kCommands;
}

int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  const Command* command = FindCommand(FindCommandName(args));
  Options options;
  std::string error;
  if (!ParseOptions(args, command ? command->options : std::vector<CommandOption>{}, options,
                    error))
    return UsageError(err, error);
  if (options.help) {
    std::string text = UsageText();
    std::fwrite(text.data(), 1, text.size(), out);
    return std::fflush(out) == 0 ? kExitDone : kExitFailed;
  }
  if (options.version) {
    std::string text = std::string(kProgram) + " " + VELOTAG_VERSION + "\n";
    std::fwrite(text.data(), 1, text.size(), out);
    return std::fflush(out) == 0 ? kExitDone : kExitFailed;
  }
  if (options.command.empty()) return UsageError(err, "no command given");
  if (!command) return UsageError(err, "unknown command \"" + options.command + "\"");
  if (!options.format.empty() &&
      std::find(command->formats.begin(), command->formats.end(), options.format) ==
          command->formats.end())
    return UsageError(err, std::string(command->name) + " has no --format " + options.format);
  std::size_t leading = command->countLeading ? command->countLeading(options.arguments)
                                              : command->leadingArguments;
  if (options.arguments.size() < leading)
    return UsageError(err, std::string(command->name) + " needs more arguments");

  std::vector<std::string> own(options.arguments.begin(),
                               options.arguments.begin() + static_cast<std::ptrdiff_t>(leading));
  std::vector<std::string> paths(options.arguments.begin() + static_cast<std::ptrdiff_t>(leading),
                                 options.arguments.end());
  // Every PATH is checked before anything runs.
  for (const std::string& p : paths)
    if (GetPathType(p) == kPathMissing) return UsageError(err, "no such file or folder: " + p);

  Console console(out, err, options.quiet);
  CommandContext context{options, console, std::move(own), paths};
  int status = command->run(context);
  if (console.OutputFailed() && status == kExitDone) status = kExitFailed;
  return status;
}

}  // namespace velotag::cli
