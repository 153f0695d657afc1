// What the libFuzzer targets share: a private work folder for the targets
// that need files, whole-file reads and writes, and the check that turns a
// broken promise into a crash the fuzzer reports.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace velotag::fuzz {

using Bytes = std::vector<std::uint8_t>;

inline void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
  }
}

// A folder of this process's own under $TMPDIR, removed (with the files
// the targets leave in it) at exit.
inline const std::string& WorkFolder() {
  static std::string folder;
  if (folder.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/velotag-fuzz-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) std::abort();
    folder = std::string(buf.data()) + "/";
    std::atexit([] {
      ::nftw(
          folder.c_str(),
          [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
          FTW_DEPTH | FTW_PHYS);
    });
  }
  return folder;
}

inline void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd == -1) std::abort();
  if (size && ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  ::close(fd);
}

inline std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::vector<std::uint8_t> out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  std::uint8_t buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

}  // namespace velotag::fuzz
