// ModWAVE: reading the header and the samples of a RIFF/WAVE file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/largefile.h"

namespace velotag {

struct WaveInfo {
  std::string fileName;
  // The first 36 bytes of the file.
  char riffId[4] = {};
  std::uint32_t riffSize = 0;
  char formatId[4] = {};
  char fmtId[4] = {};
  std::uint32_t fmtSize = 0;
  std::uint16_t audioFormat = 0;  // 1 = PCM
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;
  std::uint32_t byteRate = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
  FileHandle file;
  std::int64_t extraFmtBytes = 0;
  std::int64_t dataOffset = -1;  // first sample byte, -1 until found
  std::int64_t dataSize = 0;
  float durationMs = 0;
  std::int32_t frameCount = 0;
};

inline constexpr int kWaveSeconds = 0;
inline constexpr int kWaveMilliseconds = 1;
inline constexpr int kWaveFrames = 2;

// 0 when the file is a RIFF/WAVE file with a "fmt " chunk first and a "data"
// chunk found; -1 otherwise (the file is then closed).
int OpenWave(const std::string& fileName, WaveInfo& info);
// Reads length units from start (seconds, milliseconds or frames) of the
// PCM data, never past the data chunk; returns the bytes read.
std::int64_t ReadWaveSamples(WaveInfo& info, std::vector<std::uint8_t>& bytes, double start,
                             double length, int unit);
void CloseWave(WaveInfo& info);

}  // namespace velotag
