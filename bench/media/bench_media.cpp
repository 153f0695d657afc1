// The media benchmarks, in one run on one machine:
//   scan    build the media rows of N files (velotag-cli list, ID3v2 shown)
//   change  change the artist of N files in ID3v2 edit mode (in place)
// each against the floor (the least any program must do per file), TagLib
// and mutagen doing the same work. Every contender runs as its own process
// on warm files; the best of the rounds counts.
//
//   build/bench/media/bench_media [files] [rounds]
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/largefile.h"
#include "support/paths.h"

extern char** environ;

namespace {

using velotag::Bytes;

Bytes ReadAll(const std::string& path) {
  velotag::FileHandle h(velotag::LargeFileOpen(path, true, false, true, false, velotag::kOpenExisting));
  Bytes b(static_cast<std::size_t>(std::max<velotag::Offset64>(0, velotag::LargeFileSize(h.get()))));
  if (velotag::LargeFileRead(h.get(), b.data(), b.size()) != b.size()) b.clear();
  return b;
}

void Append(Bytes& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

// An ID3v2.3 text frame with an ISO-8859-1 body.
void TextFrame(Bytes& out, const char* id, const std::string& text) {
  Append(out, id);
  std::uint32_t size = static_cast<std::uint32_t>(text.size() + 1);
  for (int shift : {24, 16, 8, 0}) out.push_back(static_cast<std::uint8_t>(size >> shift));
  out.push_back(0);
  out.push_back(0);
  out.push_back(0);  // encoding
  Append(out, text);
}

// About 10 KB: a 2.3 tag with six text frames and 2 KB of padding (room for
// an in-place edit, as every tag the program writes has) before a
// real MP3 tone; every second file ends in an ID3v1 block.
Bytes MakeFile(const Bytes& audio, int n) {
  Bytes frames;
  TextFrame(frames, "TIT2", "Title number " + std::to_string(n));
  TextFrame(frames, "TPE1", "Artist " + std::to_string(n % 97));
  TextFrame(frames, "TALB", "Album " + std::to_string(n % 31));
  TextFrame(frames, "TRCK", std::to_string(n % 20 + 1));
  TextFrame(frames, "TYER", "2001");
  TextFrame(frames, "TCON", "Rock");
  frames.resize(frames.size() + 2048, 0);
  std::uint32_t size = static_cast<std::uint32_t>(frames.size());
  Bytes file = {'I', 'D', '3', 3, 0, 0};
  for (int shift : {21, 14, 7, 0}) file.push_back(static_cast<std::uint8_t>((size >> shift) & 0x7F));
  file.insert(file.end(), frames.begin(), frames.end());
  file.insert(file.end(), audio.begin(), audio.end());
  if (n % 2 == 0) {
    Bytes v1(128, 0);
    std::memcpy(v1.data(), "TAG", 3);
    std::string title = "Title number " + std::to_string(n);
    std::memcpy(v1.data() + 3, title.data(), title.size());
    v1[127] = 17;
    file.insert(file.end(), v1.begin(), v1.end());
  }
  return file;
}

void WriteSet(const std::string& dir, const std::vector<Bytes>& files) {
  velotag::CreatePath(dir);
  char name[32];
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::snprintf(name, sizeof name, "track%05zu.mp3", i);
    velotag::WriteBytesToFile(dir + name, files[i]);
  }
}

// Wall time of one process, its output thrown away; negative when it failed.
double Run(const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1;
}

struct Contender {
  const char* name;
  std::vector<std::string> scan;
  std::vector<std::string> change;
};

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const char* tmp = std::getenv("TMPDIR");
  std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/velotag-bench-XXXXXX";
  std::vector<char> buf(root.begin(), root.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) return 1;
  root = std::string(buf.data()) + "/";
  std::string home = root + "home/";
  velotag::CreatePath(home);

  Bytes audio = ReadAll(VELOTAG_DEMO_TONE);
  std::vector<Bytes> files;
  std::size_t total = 0;
  for (int i = 0; i < count; ++i) {
    files.push_back(MakeFile(audio, i));
    total += files.back().size();
  }
  std::string base = root + "base/";
  WriteSet(base, files);
  std::printf("%d files, %.1f KB each on average, best of %d rounds, warm cache\n\n", count,
              total / 1024.0 / count, rounds);

  // "{dir}" stands for the folder, "{artist}" for the new artist.
  const std::vector<Contender> contenders = {
      {"floor", {BENCH_FLOOR, "scan", "{dir}"}, {BENCH_FLOOR, "change", "{dir}"}},
      {"velotag", {VELOTAG_CLI, "--home", home, "--show", "v2", "list", "{dir}"},
       {VELOTAG_CLI, "--home", home, "--edit", "v2", "-q", "change", "artist={artist}", "{dir}"}},
      {"taglib", {BENCH_TAGLIB, "scan", "{dir}"}, {BENCH_TAGLIB, "change", "{dir}", "{artist}"}},
      {"mutagen", {BENCH_PYTHON, BENCH_MUTAGEN, "scan", "{dir}"},
       {BENCH_PYTHON, BENCH_MUTAGEN, "change", "{dir}", "{artist}"}},
  };
  auto expand = [](const std::vector<std::string>& args, const std::string& dir,
                   const std::string& artist) {
    std::vector<std::string> out;
    for (std::string a : args) {
      if (auto p = a.find("{dir}"); p != std::string::npos) a.replace(p, 5, dir);
      if (auto p = a.find("{artist}"); p != std::string::npos) a.replace(p, 8, artist);
      out.push_back(a);
    }
    return out;
  };

  std::vector<double> scan(contenders.size(), 1e9), change(contenders.size(), 1e9);
  for (std::size_t c = 0; c < contenders.size(); ++c) {
    std::vector<std::string> args = expand(contenders[c].scan, base, "");
    Run(args);  // warm-up
    for (int r = 0; r < rounds; ++r) {
      double t = Run(args);
      if (t < 0) {
        std::fprintf(stderr, "%s scan failed\n", contenders[c].name);
        return 1;
      }
      scan[c] = std::min(scan[c], t);
    }
  }
  for (int r = 0; r < rounds; ++r) {
    for (std::size_t c = 0; c < contenders.size(); ++c) {
      // Each contender changes its own fresh copy, so no tool sees another's work.
      std::string work = root + "work-" + contenders[c].name + "-" + std::to_string(r) + "/";
      WriteSet(work, files);
      std::vector<std::string> args =
          expand(contenders[c].change, work, "Changed artist " + std::to_string(r));
      double t = Run(args);
      if (t < 0) {
        std::fprintf(stderr, "%s change failed\n", contenders[c].name);
        return 1;
      }
      change[c] = std::min(change[c], t);
      velotag::DeleteTree(work);
    }
  }
  std::printf("%-10s %12s %10s %12s %10s\n", "", "scan", "/ floor", "change", "/ floor");
  for (std::size_t c = 0; c < contenders.size(); ++c)
    std::printf("%-10s %10.3f s %9.2fx %10.3f s %9.2fx\n", contenders[c].name, scan[c],
                scan[c] / scan[0], change[c], change[c] / change[0]);
  std::printf("\nvelotag against the peers: scan %.2fx TagLib, %.2fx mutagen; "
              "change %.2fx TagLib, %.2fx mutagen\n",
              scan[1] / scan[2], scan[1] / scan[3], change[1] / change[2], change[1] / change[3]);
  velotag::DeleteTree(root);
  return 0;
}
