// Writes WAV files for the tests: tones of a few frequencies, or silence
// (sparse), with optional extra chunks.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velotag::test {

struct WavSpec {
  WavSpec(std::uint32_t rate_ = 44100, std::uint16_t channels_ = 2, std::uint16_t bits_ = 16,
          std::uint16_t format_ = 1, double seconds_ = 1, bool tones_ = true,
          std::uint32_t fmtSize_ = 16, std::int32_t factFrames_ = -1,
          std::string chunkBeforeData_ = "", std::string chunkAfterData_ = "")
      : rate(rate_), channels(channels_), bits(bits_), format(format_), seconds(seconds_),
        tones(tones_), fmtSize(fmtSize_), factFrames(factFrames_),
        chunkBeforeData(std::move(chunkBeforeData_)), chunkAfterData(std::move(chunkAfterData_)) {}
  std::uint32_t rate;
  std::uint16_t channels;
  std::uint16_t bits;
  std::uint16_t format;
  double seconds;
  bool tones;                    // else silence, written sparse
  std::uint32_t fmtSize;
  std::int32_t factFrames;       // -1: no fact chunk
  std::string chunkBeforeData;   // a whole chunk (id + size + body) put before "data"
  std::string chunkAfterData;
};

void WriteWav(const std::string& path, const WavSpec& spec);

}  // namespace velotag::test
