// The command table of velotag-cli. Each command gets the parsed options,
// the console and the media list built from its PATH arguments.
#pragma once

#include <string>
#include <vector>

#include "console.h"
#include "options.h"

namespace velotag::cli {

struct CommandContext {
  const Options& options;
  Console& console;
  // The command's arguments that are not paths (PATTERN, FIELD=VALUE ...).
  std::vector<std::string> arguments;
  // The PATH arguments as given.
  std::vector<std::string> paths;
};

struct Command {
  const char* name;
  const char* synopsis;  // for the usage text
  std::vector<CommandOption> options;
  // How many leading arguments are the command's own (not PATHs); when
  // countLeading is set, it decides from the arguments themselves.
  std::size_t leadingArguments;
  // Formats the command accepts with --format; empty = none.
  std::vector<std::string> formats;
  // Returns the exit status; usage problems found here return kExitUsage.
  int (*run)(CommandContext& context);
  std::size_t (*countLeading)(const std::vector<std::string>& arguments) = nullptr;
};

// change's FIELD=VALUE arguments: those before the first PATH.
std::size_t CountFieldAssignments(const std::vector<std::string>& arguments);

const std::vector<Command>& Commands();

int RunFrames(CommandContext& context);
int RunList(CommandContext& context);
int RunChange(CommandContext& context);
int RunClear(CommandContext& context);
int RunCopy(CommandContext& context);
int RunRename(CommandContext& context);
int RunPictures(CommandContext& context);
int RunLoad(CommandContext& context);
int RunCsv(CommandContext& context);
int RunAutoTag(CommandContext& context);
int RunUpdate(CommandContext& context);
int RunCd(CommandContext& context);
// cd takes no PATH: every argument is its own.
std::size_t CountCdArguments(const std::vector<std::string>& arguments);

}  // namespace velotag::cli
