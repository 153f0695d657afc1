// The rip benchmark: every track of a generated cue/bin image, ripped
// directly and securely (libcdio-paranoia) by RipTrack, against
// libcdio's cd-paranoia -B and a plain cp of the image's bytes, in one run
// on warm files. The best of the rounds counts.
//
//   build/bench/rip/bench_rip [minutes] [rounds] [work folder]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "cdaudio/rip.h"
#include "support/largefile.h"
#include "support/paths.h"

extern char** environ;

namespace {

constexpr long kTrackSectors = 4 * 60 * 75;  // four-minute tracks

// Noise, different in every sector, as music is to paranoia's matching.
void FillSector(long lsn, std::uint8_t* out) {
  std::uint64_t x = 0x9E3779B97F4A7C15ULL * static_cast<std::uint64_t>(lsn + 1);
  for (int i = 0; i < velotag::kCdSectorBytes; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    for (int b = 0; b < 8; ++b) out[i + b] = static_cast<std::uint8_t>(x >> (8 * b));
  }
}

int MakeImage(const std::string& folder, long sectors) {
  std::ofstream bin(folder + "disc.bin", std::ios::binary);
  std::vector<std::uint8_t> block(velotag::kCdSectorBytes * 75);
  for (long s = 0; s < sectors; s += 75) {
    for (int i = 0; i < 75; ++i) FillSector(s + i, block.data() + i * velotag::kCdSectorBytes);
    bin.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
  }
  std::string cue = "FILE \"disc.bin\" BINARY\n";
  int tracks = 0;
  for (long s = 0; s < sectors; s += kTrackSectors) {
    char line[96];
    std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\n    INDEX 01 %02ld:%02ld:%02ld\n", ++tracks,
                  s / 4500, s / 75 % 60, s % 75);
    cue += line;
  }
  std::ofstream(folder + "disc.cue") << cue;
  return tracks;
}

int Run(const std::vector<std::string>& argv, const std::string& cwd = "") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int status = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0)
    waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Best(int rounds, const std::function<bool()>& prepare, const std::function<bool()>& work) {
  double best = 1e30;
  for (int r = 0; r < rounds; ++r) {
    if (!prepare()) return -1;
    ::sync();
    auto start = std::chrono::steady_clock::now();
    if (!work()) return -1;
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

// The least a ripper reading 15 sectors at a time can do: the same blocks
// read from the image file and written to one WAV file per track.
bool FloorCopy(const std::string& bin, const std::string& out, int tracks, long sectors) {
  velotag::FileHandle in = velotag::OpenRead(bin);
  std::vector<std::uint8_t> block(velotag::kCdSectorBytes * velotag::kRipBlockSectors);
  for (int t = 0; t < tracks; ++t) {
    char name[32];
    std::snprintf(name, sizeof name, "floor%02d.wav", t + 1);
    velotag::FileHandle o = velotag::OpenWrite(out + name);
    std::array<std::uint8_t, velotag::kWaveHeaderBytes> header{};
    if (!o.valid() || velotag::LargeFileWrite(o.get(), header.data(), header.size()) != header.size())
      return false;
    const long first = t * kTrackSectors, last = std::min(sectors, first + kTrackSectors) - 1;
    for (long s = first; s <= last; s += velotag::kRipBlockSectors) {
      const std::size_t n = static_cast<std::size_t>(std::min<long>(velotag::kRipBlockSectors, last - s + 1)) *
                            velotag::kCdSectorBytes;
      if (velotag::LargeFileReadAt(in.get(), block.data(), n, s * velotag::kCdSectorBytes) != n ||
          velotag::LargeFileWrite(o.get(), block.data(), n) != n)
        return false;
    }
  }
  return true;
}

bool SameAudio(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  fa.seekg(44);
  fb.seekg(44);
  std::vector<char> x(1 << 20), y(1 << 20);
  while (fa && fb) {
    fa.read(x.data(), static_cast<std::streamsize>(x.size()));
    fb.read(y.data(), static_cast<std::streamsize>(y.size()));
    if (fa.gcount() != fb.gcount() || !std::equal(x.begin(), x.begin() + fa.gcount(), y.begin()))
      return false;
  }
  return fa.eof() && fb.eof();
}

}  // namespace

int main(int argc, char** argv) {
  const long minutes = argc > 1 ? std::atol(argv[1]) : 60;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  std::string work = velotag::WithTrailingSlash(argc > 3 ? argv[3] : "/tmp/velotag-bench-rip");
  velotag::DeleteTree(work);
  velotag::CreatePath(work + "out/");
  const long sectors = minutes * 60 * 75;
  const int tracks = MakeImage(work, sectors);
  const std::string cue = work + "disc.cue", out = work + "out/";
  const double mb = sectors * velotag::kCdSectorBytes / 1e6;
  Run({"cat", work + "disc.bin"});  // warm

  auto clean = [&] {
    velotag::DeleteTree(out);
    return velotag::CreatePath(out);
  };
  auto rip = [&](velotag::RipMode mode) {
    return [&, mode] {
      for (int t = 1; t <= tracks; ++t) {
        char name[32];
        std::snprintf(name, sizeof name, "track%02d.wav", t);
        if (!velotag::RipTrack(cue, t, out + name, 0, -1, true, {}, true, mode)) return false;
      }
      return true;
    };
  };
  const double cp = Best(rounds, clean, [&] { return Run({"cp", work + "disc.bin", out + "copy.bin"}) == 0; });
  const double cat = Best(rounds, clean, [&] {
    return Run({"sh", "-c", "exec cat \"$0\" > \"$1\"", work + "disc.bin", out + "copy.bin"}) == 0;
  });
  const double floor = Best(rounds, clean, [&] { return FloorCopy(work + "disc.bin", out, tracks, sectors); });
  const double direct = Best(rounds, clean, rip(velotag::RipMode::Direct));
  const double secure = Best(rounds, clean, rip(velotag::RipMode::Secure));
  const double paranoia =
      Best(rounds, clean, [&] { return Run({"cd-paranoia", "-B", "-c", "-d", cue}, out) == 0; });
  // The WAV data must be the same bytes, whichever way they were read.
  clean();
  rip(velotag::RipMode::Secure)();
  velotag::FileMove(out + "track01.wav", work + "secure01.wav");
  velotag::FileMove(out + "track09.wav", work + "secure09.wav");
  rip(velotag::RipMode::Direct)();
  Run({"cd-paranoia", "-B", "-c", "-d", cue, "--", "1"}, out);
  const bool same = SameAudio(work + "secure01.wav", out + "track01.wav") &&
         SameAudio(out + "track01.wav", out + "track01.cdda.wav") &&
         (tracks < 9 || SameAudio(work + "secure09.wav", out + "track09.wav"));

  std::printf("%ld minutes, %d tracks, %.1f MB of audio, best of %d, warm image\n\n", minutes,
              tracks, mb, rounds);
  std::printf("%-28s %9s %10s %8s\n", "contender", "seconds", "MB/s", "vs cp");
  auto line = [&](const char* name, double s) {
    std::printf("%-28s %9.3f %10.1f %7.2fx\n", name, s, mb / s, s / cp);
  };
  line("cp of the image", cp);
  line("cat of the image", cat);
  line("15-sector read/write loop", floor);
  line("RipTrack direct (--fast)", direct);
  line("RipTrack secure (paranoia)", secure);
  line("cd-paranoia -B", paranoia);
  std::printf("\ndirect / cp %.2fx (target <= 1.2), direct / loop %.2fx, secure / cd-paranoia %.2fx "
              "(target <= 1.0)\n",
              direct / cp, direct / floor, secure / paranoia);
  std::printf("WAV data of direct, secure and cd-paranoia identical: %s\n", same ? "yes" : "NO");
  velotag::DeleteTree(work);
  return same && direct > 0 && secure > 0 ? 0 : 1;
}
