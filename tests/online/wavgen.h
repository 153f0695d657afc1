// Writes WAV files of changing tones for the tests, with optional extra chunks,
// and MP3 files of them.
#pragma once

#include <cstdint>
#include <string>

namespace velotag::test {

struct WavSpec {
  std::uint32_t rate = 44100;
  std::uint16_t channels = 2;
  std::uint16_t bits = 16;
  std::uint16_t format = 1;
  double seconds = 1;
  std::uint32_t fmtSize = 16;
  std::int32_t factFrames = -1;   // -1: no fact chunk
  std::string chunkBeforeData{};  // a whole chunk (id + size + body) put before "data"
};

void WriteWav(const std::string& path, const WavSpec& spec);

// A real MP3 of these tones made by lame (128 kbit/s) from a WAV at wav, or
// in a folder removed after; false when lame is missing (a test failure when
// lame fails).
bool WriteToneMp3(const std::string& mp3, double seconds, const std::string& wav = "");

}  // namespace velotag::test
