// The command line of velotag-cli: global options, the command and its own
// options, and the remaining arguments.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace velotag::cli {

// An option that a command accepts besides the global ones.
struct CommandOption {
  const char* name;     // "--auto-track", "-o"
  bool takesValue;
};

struct Options {
  bool recursive = false;
  int showVersion = 1;          // --show v1|v2
  int editVersion = 1;          // --edit v1|v2
  bool yes = false;
  std::string home;
  bool quiet = false;
  std::string cddbServer;
  std::string cddbEmail;
  std::string fingerprintServer;
  std::string updateServer;
  std::string acoustIdKey;
  std::string acoustIdServer;
  std::string musicBrainzServer;
  std::string format;           // "" = the command's default
  bool help = false;
  bool version = false;

  std::string command;
  // The command's own options: name -> value ("" for a flag).
  std::map<std::string, std::string> commandOptions;
  // Everything after the command that is not an option, in order.
  std::vector<std::string> arguments;
};

// Finds the command name (the first argument that is neither an option nor
// an option's value); "" when there is none.
std::string FindCommandName(const std::vector<std::string>& args);

// Parses args (without the program name). commandOptions are the options
// of the command found by FindCommandName. False with a message on a usage
// error.
bool ParseOptions(const std::vector<std::string>& args,
                  const std::vector<CommandOption>& commandOptions, Options& options,
                  std::string& error);

}  // namespace velotag::cli
