// The media benchmarks, in one run on one machine, on files tagged the way
// other programs leave them (TagLib: ID3v2.3 with 1 KB of padding):
//   scan        build the media rows of the small set (velotag-cli list, ID3v2 shown)
//   change (b)  change the artist of every file of the small set (10 KB files)
//   change (a)  change the artist of every file of the large set (4 MB files)
//   add (c)     give every file of the bare set (4 MB, untagged) a tag, durably:
//               against cp + sync (and the removal of the old files, rm + sync),
//               and TagLib and mutagen followed by sync
// each against the floor (the least any program must do per file), TagLib
// and mutagen doing the same work. Every contender runs as its own process
// on warm files; the best of the rounds counts.
//
//   build/bench/media/bench_media [small files] [large files] [rounds]
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
using velotag::FileHandle;
using velotag::Offset64;

Bytes ReadAll(const std::string& path) {
  FileHandle h = velotag::OpenRead(path);
  Bytes b(static_cast<std::size_t>(std::max<Offset64>(0, velotag::LargeFileSize(h.get()))));
  if (velotag::LargeFileRead(h.get(), b.data(), b.size()) != b.size()) b.clear();
  return b;
}

std::string FileName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "track%05d.mp3", i);
  return name;
}

void WriteSet(const std::string& dir, int count, const Bytes& audio) {
  velotag::CreatePath(dir);
  for (int i = 0; i < count; ++i) velotag::WriteBytesToFile(dir + FileName(i), audio);
}

// dst becomes a copy of src. A file that kept its size (a tag changed in
// place) gets only its head back; any other is copied whole.
void Restore(const std::string& src, const std::string& dst, int count) {
  velotag::CreatePath(dst);
  for (int i = 0; i < count; ++i) {
    Offset64 size = 0;
    FileHandle in = velotag::OpenRead(src + FileName(i), &size);
    const bool same = velotag::GetLargeFileSize(dst + FileName(i)) == size;
    FileHandle out = same ? velotag::OpenReadWrite(dst + FileName(i))
                          : velotag::OpenWrite(dst + FileName(i));
    const Offset64 n = same ? std::min<Offset64>(size, 65536) : size;
    if (velotag::LargeFileCopy(in.get(), 0, out.get(), 0, n) != n) std::exit(3);
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

void Sync() { Run({"/bin/sync"}); }

// "{dir}" stands for the folder worked on, "{src}" for the set it comes
// from, "{artist}" for the new artist.
std::vector<std::string> Expand(const std::vector<std::string>& args, const std::string& dir,
                                const std::string& src, const std::string& artist) {
  std::vector<std::string> out;
  for (std::string a : args) {
    for (auto [key, value] : {std::pair{"{dir}", dir}, {"{src}", src}, {"{artist}", artist}})
      if (auto p = a.find(key); p != std::string::npos) a.replace(p, std::strlen(key), value);
    out.push_back(a);
  }
  return out;
}

struct Contender {
  const char* name;
  std::vector<std::string> scan, change;
};

// Adding a tag, durably: what each program runs, and whether it works on a
// copy of the bare set made beforehand (cp makes its own).
struct Adder {
  const char* name;
  std::vector<std::string> args;
  bool prepared;
};

// The tag of a set's first file: its body size and the zeros that end it.
std::string DescribeTag(const std::string& file) {
  Bytes b = ReadAll(file);
  if (b.size() < 10 || std::memcmp(b.data(), "ID3", 3) != 0) return "no tag";
  const std::size_t body =
      (std::size_t{b[6]} << 21) | (std::size_t{b[7]} << 14) | (std::size_t{b[8]} << 7) | b[9];
  std::size_t end = 10 + body, padding = 0;
  while (end > 10 && end <= b.size() && b[end - 1] == 0) --end, ++padding;
  return "ID3v2." + std::to_string(b[3]) + " of " + std::to_string(body + 10) + " bytes with " +
         std::to_string(padding) + " bytes of padding";
}

}  // namespace

int main(int argc, char** argv) {
  const int small = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int large = argc > 2 ? std::atoi(argv[2]) : 300;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  const char* tmp = std::getenv("TMPDIR");
  std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/velotag-bench-XXXXXX";
  std::vector<char> buf(root.begin(), root.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) return 1;
  root = std::string(buf.data()) + "/";
  const std::string home = root + "home/";
  velotag::CreatePath(home);

  // The demo tone, and the same frames over and over for 4 MB of audio.
  const Bytes tone = ReadAll(VELOTAG_DEMO_TONE);
  Bytes longAudio;
  while (longAudio.size() < 4u * 1024 * 1024) longAudio.insert(longAudio.end(), tone.begin(), tone.end());
  const std::string smallSet = root + "small/", largeSet = root + "large/", bareSet = root + "bare/";
  WriteSet(smallSet, small, tone);
  WriteSet(largeSet, large, longAudio);
  WriteSet(bareSet, large, longAudio);
  for (const std::string& set : {smallSet, largeSet})
    if (Run({BENCH_TAGLIB, "tag", set}) < 0) return 1;
  Sync();
  const Offset64 smallBytes = velotag::GetLargeFileSize(smallSet + FileName(1));
  std::printf("small set: %d files of %.1f KB, %s by TagLib, ID3v1 on every second\n", small,
              smallBytes / 1024.0, DescribeTag(smallSet + FileName(1)).c_str());
  std::printf("large set: %d files of %.1f MB, tagged the same way\n", large,
              velotag::GetLargeFileSize(largeSet + FileName(1)) / 1048576.0);
  std::printf("bare set:  %d files of %.1f MB without tags\n", large, longAudio.size() / 1048576.0);
  std::printf("best of %d rounds, warm cache\n\n", rounds);

  const std::string sh = "/bin/sh";
  const std::vector<Contender> contenders = {
      {"floor", {BENCH_FLOOR, "scan", "{dir}"}, {BENCH_FLOOR, "change", "{dir}"}},
      {"velotag", {VELOTAG_CLI, "--home", home, "--show", "v2", "list", "{dir}"},
       {VELOTAG_CLI, "--home", home, "--edit", "v2", "-q", "change", "artist={artist}", "{dir}"}},
      {"taglib", {BENCH_TAGLIB, "scan", "{dir}"}, {BENCH_TAGLIB, "change", "{dir}", "{artist}"}},
      {"mutagen", {BENCH_PYTHON, BENCH_MUTAGEN, "scan", "{dir}"},
       {BENCH_PYTHON, BENCH_MUTAGEN, "change", "{dir}", "{artist}"}},
  };
  // The second line is the other half of what replacing whole files costs:
  // the old files removed and the removal flushed (on a file system mounted
  // with discard, the device is told about every freed block).
  const std::vector<Adder> adders = {
      {"cp + sync", {sh, "-c", "cp -r \"$0\" \"$1\" && sync", "{src}", "{dir}"}, false},
      {"rm + sync", {sh, "-c", "rm -r \"$0\" && sync", "{dir}"}, true},
      {"velotag",
       {VELOTAG_CLI, "--home", home, "--edit", "v2", "-q", "change", "artist={artist}", "{dir}"},
       true},
      {"taglib + sync",
       {sh, "-c", "\"$0\" change \"$1\" \"$2\" && sync", BENCH_TAGLIB, "{dir}", "{artist}"}, true},
      {"mutagen + sync",
       {sh, "-c", "\"$0\" \"$1\" change \"$2\" \"$3\" && sync", BENCH_PYTHON, BENCH_MUTAGEN,
        "{dir}", "{artist}"},
       true},
  };
  const std::size_t n = contenders.size();
  auto fail = [](const char* who, const char* what) {
    std::fprintf(stderr, "%s %s failed\n", who, what);
    return 1;
  };

  std::vector<double> scan(n, 1e9), changeSmall(n, 1e9), changeLarge(n, 1e9),
      add(adders.size(), 1e9);
  for (std::size_t c = 0; c < n; ++c) {
    const auto args = Expand(contenders[c].scan, smallSet, "", "");
    Run(args);  // warm-up
    for (int r = 0; r < rounds; ++r) {
      const double t = Run(args);
      if (t < 0) return fail(contenders[c].name, "scan");
      scan[c] = std::min(scan[c], t);
    }
  }
  // Each contender changes its own fresh copy, so no tool sees another's work.
  for (int r = 0; r < rounds; ++r) {
    const std::string artist = "Changed artist " + std::to_string(r);
    for (std::size_t c = 0; c < n; ++c) {
      const std::string work = root + "work-small/";
      Restore(smallSet, work, small);
      Sync();
      double t = Run(Expand(contenders[c].change, work, "", artist));
      if (t < 0) return fail(contenders[c].name, "change (b)");
      changeSmall[c] = std::min(changeSmall[c], t);
      velotag::DeleteTree(work);

      const std::string big = root + "work-large/";
      Restore(largeSet, big, large);
      Sync();
      t = Run(Expand(contenders[c].change, big, "", artist));
      if (t < 0) return fail(contenders[c].name, "change (a)");
      changeLarge[c] = std::min(changeLarge[c], t);
    }
  }
  velotag::DeleteTree(root + "work-large/");
  // Every program must copy the audio here; each starts from a copy of its
  // own that is already on the medium.
  for (int r = 0; r < rounds; ++r) {
    for (std::size_t c = 0; c < adders.size(); ++c) {
      const std::string work = root + "work-bare";
      if (adders[c].prepared) Restore(bareSet, work + "/", large);
      Sync();
      const double t = Run(Expand(adders[c].args, work, bareSet, "Added artist"));
      if (t < 0) return fail(adders[c].name, "add (c)");
      add[c] = std::min(add[c], t);
      velotag::DeleteTree(work + "/");
    }
  }

  std::printf("%-10s %10s %8s %13s %8s %13s %8s\n", "", "scan", "/ floor", "change (b)", "/ floor",
              "change (a)", "/ floor");
  for (std::size_t c = 0; c < n; ++c)
    std::printf("%-10s %8.3f s %7.2fx %11.3f s %7.2fx %11.3f s %7.2fx\n", contenders[c].name,
                scan[c], scan[c] / scan[0], changeSmall[c], changeSmall[c] / changeSmall[0],
                changeLarge[c], changeLarge[c] / changeLarge[0]);
  std::printf("\nadd a tag to the bare set, durably (c)\n");
  std::printf("%-15s %10s %10s %17s\n", "", "", "/ cp+sync", "/ (cp+rm)+sync");
  for (std::size_t c = 0; c < adders.size(); ++c)
    std::printf("%-15s %8.3f s %9.2fx %16.2fx\n", adders[c].name, add[c], add[c] / add[0],
                add[c] / (add[0] + add[1]));
  std::printf("\nvelotag against the peers: scan %.2fx TagLib, %.2fx mutagen; change (b) %.2fx "
              "TagLib, %.2fx mutagen; change (a) %.2fx TagLib, %.2fx mutagen; add (c) %.2fx "
              "TagLib, %.2fx mutagen\n",
              scan[1] / scan[2], scan[1] / scan[3], changeSmall[1] / changeSmall[2],
              changeSmall[1] / changeSmall[3], changeLarge[1] / changeLarge[2],
              changeLarge[1] / changeLarge[3], add[2] / add[3], add[2] / add[4]);
  velotag::DeleteTree(root);
  return 0;
}
