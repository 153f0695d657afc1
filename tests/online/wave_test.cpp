#include "online/wave.h"

#include <gtest/gtest.h>

#include "testutil.h"
#include "wavgen.h"

namespace velotag {
namespace {

using test::TempDir;
using test::WavSpec;
using test::WriteWav;

std::string Chunk(const std::string& id, const std::string& body) {
  std::string c = id;
  for (int i = 0; i < 4; ++i) c.push_back(static_cast<char>((body.size() >> (8 * i)) & 0xff));
  return c + body;
}

TEST(WaveOpen, HeaderChunksAndDuration) {
  struct Case {
    const char* what;
    WavSpec spec;
    std::int64_t dataOffset;
    std::int32_t frames;
    float durationMs;
  } const cases[] = {
      {"plain", {44100, 2, 16, 1, 2.0}, 44, 88200, 2000},
      {"mono 8 kHz", {8000, 1, 16, 1, 0.5}, 44, 4000, 500},
      {"fmt with extra bytes", {22050, 2, 16, 1, 1.0, true, 18}, 46, 22050, 1000},
      {"odd fmt size is padded", {22050, 2, 16, 1, 1.0, true, 17}, 46, 22050, 1000},
      {"list before data", {22050, 1, 16, 1, 1.0, true, 16, -1, Chunk("LIST", "abcd")}, 56, 22050, 1000},
      {"odd chunk is padded", {22050, 1, 16, 1, 1.0, true, 16, -1, Chunk("junk", "abc") + std::string(1, '\0')}, 56, 22050, 1000},
      {"fact overrides", {22050, 1, 16, 1, 1.0, true, 16, 11025}, 56, 11025, 500},
      {"fact of 0 is ignored", {22050, 1, 16, 1, 1.0, true, 16, 0}, 56, 22050, 1000},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteWav(dir.file("a.wav"), c.spec);
    WaveInfo info;
    ASSERT_EQ(OpenWave(dir.file("a.wav"), info), 0) << c.what;
    EXPECT_EQ(info.dataOffset, c.dataOffset) << c.what;
    EXPECT_EQ(info.frameCount, c.frames) << c.what;
    EXPECT_FLOAT_EQ(info.durationMs, c.durationMs) << c.what;
    EXPECT_EQ(info.channels, c.spec.channels) << c.what;
  }
}

TEST(WaveOpen, RefusesWhatIsNoWave) {
  TempDir dir;
  WriteWav(dir.file("good.wav"), {8000, 1, 16, 1, 0.1});
  test::Bytes good = test::ReadFileBytes(dir.file("good.wav"));
  auto variant = [&](std::size_t at, const std::string& bytes) {
    test::Bytes b = good;
    for (std::size_t i = 0; i < bytes.size(); ++i) b[at + i] = static_cast<std::uint8_t>(bytes[i]);
    return b;
  };
  struct Case {
    const char* what;
    test::Bytes bytes;
  } const cases[] = {
      {"not RIFF", variant(0, "RIFX")},
      {"not WAVE", variant(8, "AVI ")},
      {"no fmt first", variant(12, "LIST")},
      {"rate 0", variant(24, std::string(4, '\0'))},
      {"no channels", variant(22, std::string(2, '\0'))},
      {"no data chunk", variant(36, "junk")},  // its size then runs past the end
      {"cut in the header", test::Bytes(good.begin(), good.begin() + 30)},
      {"cut before data", test::Bytes(good.begin(), good.begin() + 40)},
      {"a chunk of 4 GB", [&] {
         test::Bytes b = variant(36, "junk");
         for (int i = 40; i < 44; ++i) b[i] = 0xff;
         return b;
       }()},
  };
  for (const Case& c : cases) {
    test::WriteFileBytes(dir.file("bad.wav"), c.bytes);
    WaveInfo info;
    EXPECT_EQ(OpenWave(dir.file("bad.wav"), info), -1) << c.what;
    EXPECT_FALSE(info.file.valid()) << c.what;
  }
  WaveInfo info;
  EXPECT_EQ(OpenWave(dir.file("missing.wav"), info), -1);
}

TEST(WaveRead, UnitsAndLimits) {
  TempDir dir;
  // 1000 Hz mono 16-bit: a frame is 2 bytes, a second 2000 bytes.
  WriteWav(dir.file("a.wav"), {1000, 1, 16, 1, 3.0, true, 16, -1, "", Chunk("LIST", "trailing")});
  struct Case {
    double start, length;
    int unit;
    std::int64_t bytes;
  } const cases[] = {
      {0, 1, kWaveSeconds, 2000},     {1, 1, kWaveSeconds, 2000},
      {0, 135, kWaveSeconds, 6000},   {0, 250, kWaveMilliseconds, 500},
      {0, 10, kWaveFrames, 20},       {-5, 10, kWaveFrames, 20},
      {0, -1, kWaveFrames, 6000},     {2.5, 10, kWaveSeconds, 1000},
      {3, 1, kWaveSeconds, 0},        {2999, 100, kWaveFrames, 2},
  };
  WaveInfo info;
  ASSERT_EQ(OpenWave(dir.file("a.wav"), info), 0);
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(ReadWaveSamples(info, bytes, c.start, c.length, c.unit), c.bytes)
        << c.start << "+" << c.length << " unit " << c.unit;
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), c.bytes);
  }
}

TEST(WaveRead, NeverPastTheDataChunk) {
  TempDir dir;
  // A fact chunk that promises ten times the frames the data chunk holds.
  WriteWav(dir.file("a.wav"), {1000, 1, 16, 1, 1.0, true, 16, 10000, "", Chunk("LIST", std::string(50000, 'x'))});
  WaveInfo info;
  ASSERT_EQ(OpenWave(dir.file("a.wav"), info), 0);
  EXPECT_EQ(info.frameCount, 10000);
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(ReadWaveSamples(info, bytes, 0, -1, kWaveFrames), 2000);
}

TEST(WaveRead, TenMinutesGiveTheFirst135Seconds) {
  TempDir dir;
  WavSpec spec{44100, 2, 16, 1, 600.0, false};
  WriteWav(dir.file("long.wav"), spec);
  WaveInfo info;
  ASSERT_EQ(OpenWave(dir.file("long.wav"), info), 0);
  EXPECT_FLOAT_EQ(info.durationMs, 600000);
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(ReadWaveSamples(info, bytes, 0, 135, kWaveSeconds), 135LL * 44100 * 2 * 2);
}

}  // namespace
}  // namespace velotag
