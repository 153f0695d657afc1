// Disc images for the CD tests: a .cue sheet and its .bin, read by libcdio's
// BIN/CUE driver as a drive would be. Every sector is noise computed from
// its address, so a sector read from the wrong place, twice or byte-swapped
// never passes for the right one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velotag::test {

struct ImageTrack {
  long sectors = 0;
  bool data = false;  // MODE1/2352
};

struct CdImage {
  std::string cue, bin;
  std::vector<long> start;  // each track's first sector (LSN)
  long leadOut = 0;
  std::vector<std::uint8_t> Sectors(long lsn, long count) const;
  long Length(std::size_t i) const { return (i + 1 < start.size() ? start[i + 1] : leadOut) - start[i]; }
};

// name.cue and name.bin in folder; pregap sectors lie before track 1's INDEX 01.
CdImage MakeCdImage(const std::string& folder, const std::string& name,
                    const std::vector<ImageTrack>& tracks, long pregap = 0, int firstTrack = 1);

}  // namespace velotag::test
