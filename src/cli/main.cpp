#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli.h"
#include "support/tempfiles.h"

int main(int argc, char** argv) {
  velotag::RemoveTempFilesOnSignals();
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return velotag::cli::RunCli(args, stdout, stderr);
  } catch (const std::exception& e) {
    // Never report an internal failure as success.
    std::fprintf(stderr, "velotag-cli: internal error: %s\n", e.what());
    return 1;
  } catch (...) {
    std::fprintf(stderr, "velotag-cli: internal error\n");
    return 1;
  }
}
