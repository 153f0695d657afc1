#include "options.h"

#include <cstdlib>

namespace velotag::cli {

namespace {

struct GlobalOption {
  const char* longName;
  const char* shortName;  // nullptr when none
  bool takesValue;
};

constexpr GlobalOption kGlobal[] = {
    {"--recursive", "-r", false},
    {"--show", nullptr, true},
    {"--edit", nullptr, true},
    {"--yes", "-y", false},
    {"--home", nullptr, true},
    {"--quiet", "-q", false},
    {"--cddb-server", nullptr, true},
    {"--cddb-email", nullptr, true},
    {"--fingerprint-server", nullptr, true},
    {"--update-server", nullptr, true},
    {"--acoustid-key", nullptr, true},
    {"--acoustid-server", nullptr, true},
    {"--musicbrainz-server", nullptr, true},
    {"--format", nullptr, true},
    {"--help", "-h", false},
    {"--version", nullptr, false},
};

const GlobalOption* FindGlobal(const std::string& name) {
  for (const GlobalOption& o : kGlobal)
    if (name == o.longName || (o.shortName && name == o.shortName)) return &o;
  return nullptr;
}

bool IsOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

// "--name=value" splits into its two halves.
void SplitInline(const std::string& arg, std::string& name, std::string& value, bool& inlined) {
  std::size_t eq = arg.find('=');
  inlined = arg.rfind("--", 0) == 0 && eq != std::string::npos;
  name = inlined ? arg.substr(0, eq) : arg;
  value = inlined ? arg.substr(eq + 1) : std::string();
}

bool ParseTagVersion(const std::string& value, int& out) {
  if (value == "v1") out = 1;
  else if (value == "v2") out = 2;
  else return false;
  return true;
}

// HOST[:PORT] with a non-empty host and, when given, a port of 1 to 65535.
bool ValidServer(const std::string& value) {
  if (value.empty()) return false;
  std::size_t colon = value.rfind(':');
  if (colon == std::string::npos || value.front() == '[') return value.front() != ':';
  if (colon == 0) return false;
  std::string port = value.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
    return false;
  long n = std::strtol(port.c_str(), nullptr, 10);
  return n >= 1 && n <= 65535;
}

bool ApplyGlobal(const GlobalOption& o, const std::string& value, Options& options,
                 std::string& error) {
  const std::string name = o.longName;
  if (name == "--recursive") options.recursive = true;
  else if (name == "--yes") options.yes = true;
  else if (name == "--quiet") options.quiet = true;
  else if (name == "--help") options.help = true;
  else if (name == "--version") options.version = true;
  else if (name == "--home") {
    if (value.empty()) {
      error = "--home needs a folder";
      return false;
    }
    options.home = value;
  } else if (name == "--show" || name == "--edit") {
    if (!ParseTagVersion(value, name == "--show" ? options.showVersion : options.editVersion)) {
      error = name + " takes v1 or v2, not \"" + value + "\"";
      return false;
    }
  } else if (name == "--cddb-email") {
    std::size_t at = value.rfind('@');
    if (at == std::string::npos || at == 0 || at + 1 == value.size() ||
        value.find(' ') != std::string::npos) {
      error = "--cddb-email takes an e-mail address, not \"" + value + "\"";
      return false;
    }
    options.cddbEmail = value;
  } else if (name == "--format") {
    if (value != "tsv" && value != "csv" && value != "json") {
      error = "--format takes tsv, csv or json, not \"" + value + "\"";
      return false;
    }
    options.format = value;
  } else if (name == "--update-server") {
    // A URL: the scheme says whether the home page comes over TLS.
    std::string host = value;
    for (const char* scheme : {"https://", "http://"})
      if (host.rfind(scheme, 0) == 0) host.erase(0, std::string(scheme).size());
    if (!host.empty() && host.back() == '/') host.pop_back();
    if (!ValidServer(host)) {
      error = name + " takes https://HOST[:PORT] or http://HOST[:PORT], not \"" + value + "\"";
      return false;
    }
    options.updateServer = value;
  } else if (name == "--acoustid-key") {
    if (value.empty() || value.find_first_of(" \t\r\n") != std::string::npos) {
      error = "--acoustid-key needs a key";
      return false;
    }
    options.acoustIdKey = value;
  } else if (name == "--acoustid-server" || name == "--musicbrainz-server") {
    // A base URL; the service's paths follow whatever path it has.
    std::string host = value;
    bool schemed = false;
    for (const char* scheme : {"https://", "http://"})
      if (host.rfind(scheme, 0) == 0) {
        host.erase(0, std::string(scheme).size());
        schemed = true;
      }
    host = host.substr(0, host.find('/'));
    if (!schemed || !ValidServer(host)) {
      error = name + " takes https://HOST[:PORT][/PATH] or http://..., not \"" + value + "\"";
      return false;
    }
    (name == "--acoustid-server" ? options.acoustIdServer : options.musicBrainzServer) = value;
  } else {
    if (!ValidServer(value)) {
      error = name + " takes HOST[:PORT], not \"" + value + "\"";
      return false;
    }
    if (name == "--cddb-server") options.cddbServer = value;
    else options.fingerprintServer = value;
  }
  return true;
}

}  // namespace

std::string FindCommandName(const std::vector<std::string>& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") return i + 1 < args.size() ? args[i + 1] : std::string();
    if (!IsOption(a)) return a;
    std::string name, value;
    bool inlined = false;
    SplitInline(a, name, value, inlined);
    const GlobalOption* o = FindGlobal(name);
    if (o && o->takesValue && !inlined) ++i;
  }
  return {};
}

bool ParseOptions(const std::vector<std::string>& args,
                  const std::vector<CommandOption>& commandOptions, Options& options,
                  std::string& error) {
  bool optionsEnded = false;
  bool haveCommand = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded || !IsOption(a)) {
      if (!haveCommand) {
        options.command = a;
        haveCommand = true;
      } else {
        options.arguments.push_back(a);
      }
      continue;
    }
    std::string name, value;
    bool inlined = false;
    SplitInline(a, name, value, inlined);
    bool takesValue = false;
    const GlobalOption* global = FindGlobal(name);
    const CommandOption* own = nullptr;
    if (!global)
      for (const CommandOption& c : commandOptions)
        if (name == c.name) own = &c;
    if (!global && !own) {
      error = "unknown option " + name;
      return false;
    }
    takesValue = global ? global->takesValue : own->takesValue;
    if (!takesValue && inlined) {
      error = name + " takes no value";
      return false;
    }
    if (takesValue && !inlined) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (global) {
      if (!ApplyGlobal(*global, value, options, error)) return false;
    } else {
      options.commandOptions[own->name] = value;
    }
  }
  return true;
}

}  // namespace velotag::cli
