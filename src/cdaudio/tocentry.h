// One entry of a disc's table of contents: a track's start, or the
// lead-out. A plain record shared by the ripper and the CDDB client.
#pragma once

#include <cstdint>

namespace velotag {

inline constexpr int kFramesPerSecond = 75;
// A drive reports addresses counted from the start of the lead-in: the
// first sector of the program area (LSN 0) is at 00:02:00.
inline constexpr std::int32_t kMsfOffset = 150;
// Control bit of a data track.
inline constexpr std::uint8_t kTocDataBit = 4;
// Sectors between an enhanced CD's audio session and its data session:
// lead-out 6750 + lead-in 4500 + pregap 150.
inline constexpr std::int32_t kSessionGap = 11400;

struct TocEntry {
  std::uint8_t control = 0;  // Control (low nibble) and ADR (high nibble)
  std::uint8_t minutes = 0;
  std::uint8_t seconds = 0;
  std::uint8_t frames = 0;
};

inline std::int32_t TocFrames(const TocEntry& e) {
  return (e.minutes * 60 + e.seconds) * kFramesPerSecond + e.frames;
}

inline bool IsDataEntry(const TocEntry& e) { return (e.control & kTocDataBit) != 0; }

}  // namespace velotag
