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
  // The files of the media list, in order.
  std::vector<std::string> files;
};

struct Command {
  const char* name;
  const char* synopsis;  // for the usage text
  std::vector<CommandOption> options;
  // How many leading arguments are the command's own (not PATHs).
  std::size_t leadingArguments;
  // Formats the command accepts with --format; empty = none.
  std::vector<std::string> formats;
  // Returns the exit status; usage problems found here return kExitUsage.
  int (*run)(CommandContext& context);
};

const std::vector<Command>& Commands();

int RunFrames(CommandContext& context);

}  // namespace velotag::cli
