// libFuzzer target: the WAV reader on arbitrary files, reading samples the
// way the fingerprint code does (from 0 for a number of seconds) and from
// other starts and units.
//
// Promises: the samples read lie inside the data chunk and inside the file,
// and the count returned is the bytes handed back.
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "online/wave.h"

using namespace velotag;
using velotag::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string file = fuzz::WorkFolder() + "sound.wav";
  fuzz::WriteFile(file, data, size);
  WaveInfo info;
  if (OpenWave(file, info) != 0) return 0;
  Check(info.dataOffset >= 44 && info.dataOffset <= static_cast<std::int64_t>(size),
        "the data starts after the header, inside the file");
  const double starts[] = {0, 1, 0.5, 1e3, 1e12, -5};
  const double lengths[] = {135, 120, 1, 0, 1e15, -1};
  std::vector<std::uint8_t> bytes;
  for (int unit : {kWaveSeconds, kWaveMilliseconds, kWaveFrames}) {
    for (std::size_t i = 0; i < std::size(starts); ++i) {
      std::int64_t got = ReadWaveSamples(info, bytes, starts[i], lengths[(i + unit) % std::size(lengths)], unit);
      Check(got == static_cast<std::int64_t>(bytes.size()), "the count is the bytes handed back");
      Check(got <= info.dataSize && info.dataOffset + got <= static_cast<std::int64_t>(size),
            "samples come from the data chunk");
    }
  }
  CloseWave(info);
  return 0;
}
