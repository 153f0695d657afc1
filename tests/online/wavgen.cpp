#include "wavgen.h"

#include <gtest/gtest.h>

#include <cmath>

#include "testutil.h"

namespace velotag::test {

namespace {

void Put(std::string& s, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

}  // namespace

void WriteWav(const std::string& path, const WavSpec& w) {
  const std::uint32_t align = w.channels * ((w.bits + 7u) / 8u);
  const auto frames = static_cast<std::uint64_t>(std::llround(w.seconds * w.rate));
  std::string data;
  for (std::uint64_t f = 0; f < frames; ++f) {
    double t = static_cast<double>(f) / w.rate;
    // A melody of changing tones, so the sound is not the same all through.
    double freq = 220.0 * std::pow(2.0, static_cast<int>(t * 4) % 12 / 12.0);
    double v = 0.4 * std::sin(2 * M_PI * freq * t) + 0.2 * std::sin(2 * M_PI * 3 * freq * t);
    for (std::uint16_t c = 0; c < w.channels; ++c) {
      if (w.bits == 8) {
        Put(data, static_cast<std::uint32_t>(128 + static_cast<int>(v * 127)), 1);
      } else {
        Put(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(v * 32767)), 2);
        data.append(align / w.channels - 2, '\0');
      }
    }
  }
  std::string fmt;
  Put(fmt, w.fmtSize, 4);
  Put(fmt, w.format, 2);
  Put(fmt, w.channels, 2);
  Put(fmt, w.rate, 4);
  Put(fmt, w.rate * align, 4);
  Put(fmt, align, 2);
  Put(fmt, w.bits, 2);
  fmt.append(w.fmtSize > 16 ? w.fmtSize - 16 + (w.fmtSize & 1) : 0, '\0');
  if (w.factFrames >= 0) {
    fmt += "fact";
    Put(fmt, 4, 4);
    Put(fmt, static_cast<std::uint32_t>(w.factFrames), 4);
  }
  fmt += w.chunkBeforeData + "data";
  Put(fmt, static_cast<std::uint32_t>(data.size()), 4);
  std::string riff = "RIFF";  // the size of what follows: "WAVEfmt " and the rest
  Put(riff, static_cast<std::uint32_t>(8 + fmt.size() + data.size()), 4);
  WriteFileText(path, riff + "WAVEfmt " + fmt + data);
}

bool WriteToneMp3(const std::string& mp3, double seconds, const std::string& wav) {
  TempDir scratch;
  const std::string from = wav.empty() ? scratch.file("tones.wav") : wav;
  WriteWav(from, {.seconds = seconds});
  const ProcessResult r = RunProcess({"lame", "--quiet", "-b", "128", from, mp3});
  if (r.exitCode > 0) ADD_FAILURE() << "lame: " << r.err;
  return r.exitCode == 0;
}

}  // namespace velotag::test
