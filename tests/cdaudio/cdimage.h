// Disc images for the CD tests: a .cue sheet and its .bin, written by the
// test, read by libcdio's BIN/CUE driver as a drive would be. Every sample
// is noise computed from its sector's address, so that a sector read from
// the wrong place, or twice, or byte-swapped, never passes for the right one.
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
  int firstTrack = 1;
  std::vector<long> start;  // each track's first sector (LSN)
  long leadOut = 0;
  // The track's sectors as a WAV file must hold them.
  std::vector<std::uint8_t> Sectors(long lsn, long count) const;
  long LastSector(std::size_t trackIndex) const {
    return trackIndex + 1 < start.size() ? start[trackIndex + 1] - 1 : leadOut - 1;
  }
};

// name.cue and name.bin in folder (with a trailing "/"). pregap sectors of
// audio lie before track 1's INDEX 01 (a hidden track).
CdImage MakeCdImage(const std::string& folder, const std::string& name,
                    const std::vector<ImageTrack>& tracks, long pregap = 0, int firstTrack = 1);
// One sector's bytes.
void FillSector(long lsn, std::uint8_t* out);

}  // namespace velotag::test
