// velotag-cli as a function: arguments in, exit status out.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace velotag::cli {

int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace velotag::cli
