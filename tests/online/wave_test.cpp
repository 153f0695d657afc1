#include "online/wave.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "testutil.h"
#include "wavgen.h"

namespace velotag {
namespace {

using test::WavSpec;

std::string Chunk(const std::string& id, const std::string& body) {
  std::string c = id;
  for (int i = 0; i < 4; ++i) c.push_back(static_cast<char>((body.size() >> (8 * i)) & 0xff));
  return c + body;
}

TEST(Wave, HeaderChunksAndDuration) {
  struct Case {
    WavSpec spec;
    std::int64_t dataOffset;
    std::int32_t frames;
  } const cases[] = {
      {{.rate = 8000, .channels = 1, .seconds = 0.5}, 44, 4000},
      {{.fmtSize = 18}, 46, 44100},  // fmt with extra bytes
      {{.fmtSize = 17}, 46, 44100},  // ... padded to an even size
      {{.chunkBeforeData = Chunk("LIST", "abcd")}, 56, 44100},
      {{.chunkBeforeData = Chunk("junk", "abc") + '\0'}, 56, 44100},  // padded
      {{.factFrames = 11025}, 56, 11025},  // a fact chunk tells the frames ...
      {{.factFrames = 0}, 56, 44100},      // ... unless it says 0
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    test::WriteWav(dir.file("a.wav"), c.spec);
    ::chmod(dir.file("a.wav").c_str(), 0444);
    WaveInfo info;
    ASSERT_EQ(OpenWave(dir.file("a.wav"), info), 0) << c.dataOffset << " " << c.frames;
    struct stat st {};
    ::stat(dir.file("a.wav").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);  // reading a sound leaves it read-only
    EXPECT_EQ(info.dataOffset, c.dataOffset) << c.frames;
    EXPECT_EQ(info.frameCount, c.frames) << c.dataOffset;
    EXPECT_FLOAT_EQ(info.durationMs, c.frames * 1000.0f / c.spec.rate) << c.frames;
  }
}

TEST(Wave, RefusesWhatIsNoWave) {
  test::TempDir dir;
  test::WriteWav(dir.file("good.wav"), {.rate = 8000, .channels = 1, .seconds = 0.1});
  const test::Bytes good = test::ReadFileBytes(dir.file("good.wav"));
  auto variant = [&](std::size_t at, const std::string& bytes, std::size_t size = 0) {
    test::Bytes b(good.begin(), size ? good.begin() + static_cast<long>(size) : good.end());
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(at));
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
      {"a chunk of 4 GB", variant(36, "junk\xff\xff\xff\xff")},
      {"cut in the header", variant(0, "", 30)},
      {"cut before data", variant(0, "", 40)},
      {"missing", {}},
  };
  for (const Case& c : cases) {
    const std::string file = dir.file(c.bytes.empty() ? "missing.wav" : "bad.wav");
    if (!c.bytes.empty()) test::WriteFileBytes(file, c.bytes);
    WaveInfo info;
    EXPECT_EQ(OpenWave(file, info), -1) << c.what;
    EXPECT_FALSE(info.file.valid()) << c.what;
  }
}

TEST(Wave, ReadsInUnitsAndNeverPastTheData) {
  test::TempDir dir;
  // 1000 Hz mono 16-bit: a frame is 2 bytes, a second 2000 bytes; a fact
  // chunk promises ten times the frames the data chunk holds.
  test::WriteWav(dir.file("a.wav"), {.rate = 1000, .channels = 1, .seconds = 3, .factFrames = 30000,
                                     .chunkAfterData = Chunk("LIST", std::string(50000, 'x'))});
  struct Case {
    double start, length;
    int unit;
    std::int64_t bytes;
  } const cases[] = {
      {0, 1, kWaveSeconds, 2000},   {1, 1, kWaveSeconds, 2000},  {0, 135, kWaveSeconds, 6000},
      {0, 250, kWaveMilliseconds, 500}, {0, 10, kWaveFrames, 20}, {-5, 10, kWaveFrames, 20},
      {0, -1, kWaveFrames, 6000},   {2.5, 10, kWaveSeconds, 1000}, {3, 1, kWaveSeconds, 0},
      {2999, 100, kWaveFrames, 2},
  };
  WaveInfo info;
  ASSERT_EQ(OpenWave(dir.file("a.wav"), info), 0);
  EXPECT_EQ(info.frameCount, 30000);
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(ReadWaveSamples(info, bytes, c.start, c.length, c.unit), c.bytes)
        << c.start << "+" << c.length << " unit " << c.unit;
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), c.bytes);
  }
}

}  // namespace
}  // namespace velotag
