#include "cdimage.h"

#include <cstdio>
#include <fstream>

namespace velotag::test {

namespace {

constexpr int kSector = 2352;

void FillSector(long lsn, std::uint8_t* out) {
  std::uint64_t x = 0x9E3779B97F4A7C15ULL * static_cast<std::uint64_t>(lsn + 1);
  for (int i = 0; i < kSector; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    for (int b = 0; b < 8; ++b) out[i + b] = static_cast<std::uint8_t>(x >> (8 * b));
  }
}

}  // namespace

std::vector<std::uint8_t> CdImage::Sectors(long lsn, long count) const {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(count) * kSector);
  for (long i = 0; i < count; ++i) FillSector(lsn + i, out.data() + i * kSector);
  return out;
}

CdImage MakeCdImage(const std::string& folder, const std::string& name,
                    const std::vector<ImageTrack>& tracks, long pregap, int firstTrack) {
  CdImage image{folder + name + ".cue", folder + name + ".bin", {}, pregap};
  std::string cue = "FILE \"" + name + ".bin\" BINARY\n";
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    char text[96];
    std::snprintf(text, sizeof text, "  TRACK %02d %s\n%s    INDEX 01 %02ld:%02ld:%02ld\n",
                  firstTrack + static_cast<int>(i), tracks[i].data ? "MODE1/2352" : "AUDIO",
                  i == 0 && pregap ? "    INDEX 00 00:00:00\n" : "", image.leadOut / 4500,
                  image.leadOut / 75 % 60, image.leadOut % 75);
    cue += text;
    image.start.push_back(image.leadOut);
    image.leadOut += tracks[i].sectors;
  }
  std::ofstream(image.cue) << cue;
  std::vector<std::uint8_t> all = image.Sectors(0, image.leadOut);
  std::ofstream(image.bin, std::ios::binary).write(reinterpret_cast<const char*>(all.data()),
                                                   static_cast<std::streamsize>(all.size()));
  return image;
}

}  // namespace velotag::test
