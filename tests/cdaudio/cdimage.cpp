#include "cdimage.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace velotag::test {

namespace {

constexpr int kSector = 2352;

std::string Msf(long lsn) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", lsn / 4500, lsn / 75 % 60, lsn % 75);
  return buf;
}

}  // namespace

void FillSector(long lsn, std::uint8_t* out) {
  std::uint64_t x = 0x9E3779B97F4A7C15ULL * static_cast<std::uint64_t>(lsn + 1);
  for (int i = 0; i < kSector; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    for (int b = 0; b < 8; ++b) out[i + b] = static_cast<std::uint8_t>(x >> (8 * b));
  }
}

std::vector<std::uint8_t> CdImage::Sectors(long lsn, long count) const {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(count) * kSector);
  for (long i = 0; i < count; ++i) FillSector(lsn + i, out.data() + i * kSector);
  return out;
}

CdImage MakeCdImage(const std::string& folder, const std::string& name,
                    const std::vector<ImageTrack>& tracks, long pregap, int firstTrack) {
  CdImage image;
  image.cue = folder + name + ".cue";
  image.bin = folder + name + ".bin";
  image.firstTrack = firstTrack;
  std::string cue = "FILE \"" + name + ".bin\" BINARY\n";
  long lsn = 0;
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    char number[8];
    std::snprintf(number, sizeof number, "%02d", firstTrack + static_cast<int>(i));
    cue += std::string("  TRACK ") + number + (tracks[i].data ? " MODE1/2352\n" : " AUDIO\n");
    if (i == 0 && pregap > 0) {
      cue += "    INDEX 00 00:00:00\n";
      lsn = pregap;
    }
    cue += "    INDEX 01 " + Msf(lsn) + "\n";
    image.start.push_back(lsn);
    lsn += tracks[i].sectors;
  }
  image.leadOut = lsn;
  std::ofstream bin(image.bin, std::ios::binary);
  std::vector<std::uint8_t> sector(kSector);
  for (long s = 0; s < lsn; ++s) {
    FillSector(s, sector.data());
    bin.write(reinterpret_cast<const char*>(sector.data()), kSector);
  }
  std::ofstream(image.cue) << cue;
  if (!bin) throw std::runtime_error("cannot write " + image.bin);
  return image;
}

}  // namespace velotag::test
