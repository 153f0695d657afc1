// Reads and writes the ID3v2 tags of many files and reports the time per
// file, so that a change to the tag code can be measured.
//
//   build/bench/bench_id3v2 [FILES] [FOLDER]
//
// FILES (default 10000) MP3 files of 8 KiB audio behind a 2.3 tag with ten
// text frames, a comment and a 4 KiB picture are made in FOLDER (default a
// new folder under $TMPDIR) and then: read (open, frames, the 16 fields),
// written in place (one title changed), and written through the temporary
// file (a frame that no longer fits). The folder is removed at the end when
// the benchmark made it.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"

using namespace velotag;
using Clock = std::chrono::steady_clock;

namespace {

void Report(const char* what, Clock::time_point start, std::size_t files) {
  double s = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%-34s %8.3f s  %8.1f us/file  %8.0f files/s\n", what, s, s * 1e6 / files,
              files / s);
}

bool MakeTemplate(const std::string& path) {
  std::vector<std::uint8_t> audio(8192);
  for (std::size_t i = 0; i < audio.size(); ++i) audio[i] = static_cast<std::uint8_t>(i * 13);
  audio[0] = 0xFF, audio[1] = 0xFB, audio[2] = 0x90, audio[3] = 0x64;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd == -1 || ::write(fd, audio.data(), audio.size()) != static_cast<ssize_t>(audio.size()))
    return false;
  ::close(fd);
  std::string image = path + ".jpg";
  fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::uint8_t> jpeg(4096, 0xA5);
  if (fd == -1 || ::write(fd, jpeg.data(), jpeg.size()) != 4096) return false;
  ::close(fd);
  ID3v2Tag tag;
  OpenID3v2(path, tag, 3);
  ReadID3v2Frames(tag);
  const char* ids[] = {"TIT2", "TPE1", "TALB", "TRCK", "TDRC", "TCON", "TCOM", "TPE2", "TPOS", "TENC"};
  for (const char* id : ids) SetID3v2Text(tag, id, std::string("value of ") + id, 3, false);
  SetID3v2Comment(tag, "eng", "", "a comment", 3, false);
  SetID3v2Picture(tag, "", image, 3, false);
  bool ok = WriteID3v2(tag);
  ::unlink(image.c_str());
  return ok;
}

bool Copy(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY);
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  char buf[65536];
  ssize_t n;
  bool ok = in != -1 && out != -1;
  while (ok && (n = ::read(in, buf, sizeof buf)) > 0) ok = ::write(out, buf, n) == n;
  if (in != -1) ::close(in);
  if (out != -1) ::close(out);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t files = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
  std::string folder;
  bool made = false;
  if (argc > 2) {
    folder = std::string(argv[2]) + "/";
  } else {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velotag-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) return 1;
    folder = pattern + "/";
    made = true;
  }
  std::vector<std::string> names;
  for (std::size_t i = 0; i < files; ++i) names.push_back(folder + std::to_string(i) + ".mp3");
  if (!MakeTemplate(names[0])) return 1;
  for (std::size_t i = 1; i < files; ++i)
    if (!Copy(names[0], names[i])) return 1;
  std::printf("%zu files of %lld bytes in %s\n", files,
              static_cast<long long>(GetLargeFileSize(names[0])), folder.c_str());

  std::size_t chars = 0;
  auto start = Clock::now();
  for (const std::string& n : names) {
    ID3v2Tag tag;
    if (OpenID3v2(n, tag, 4) != kTagDone || !ReadID3v2Frames(tag)) return 1;
    for (int f = 0; f < kID3v2FieldCount; ++f) chars += GetID3v2Field(tag, f).size();
  }
  Report("read: open, frames, 16 fields", start, files);

  start = Clock::now();
  for (const std::string& n : names) {
    ID3v2Tag tag;
    OpenID3v2(n, tag, 4);
    ReadID3v2Frames(tag);
    SetID3v2Text(tag, "TIT2", "changed", 3, false);
    if (!WriteID3v2(tag)) return 1;
  }
  Report("write in place", start, files);

  start = Clock::now();
  for (const std::string& n : names) {
    ID3v2Tag tag;
    OpenID3v2(n, tag, 4);
    ReadID3v2Frames(tag);
    SetID3v2Text(tag, "TIT3", std::string(8000, 'x'), 3, false);
    if (!WriteID3v2(tag)) return 1;
  }
  Report("write through the temporary file", start, files);

  if (made) {
    for (const std::string& n : names) ::unlink(n.c_str());
    ::rmdir(folder.c_str());
  }
  return chars == 0;
}
