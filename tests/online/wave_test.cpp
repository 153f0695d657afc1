#include "online/wave.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Headers of every shape, sound or broken; reading one never makes it writable.
TEST(Wave, HeaderChunksDurationAndRefusals) {
  const WavSpec tiny{.rate = 8000, .channels = 1, .seconds = 0.1};
  struct Case {
    const char* what;
    WavSpec spec;
    std::int64_t dataOffset;  // -1: refused
    std::int32_t frames = 0;
    std::size_t at = 0;  // where patch overwrites the file
    std::string patch = "";
    std::size_t cut = 0;  // the length it is cut to
  } const cases[] = {
      {"mono", {.rate = 8000, .channels = 1, .seconds = 0.5}, 44, 4000},
      {"fmt with extra bytes", {.fmtSize = 18}, 46, 44100},
      {"... padded to an even size", {.fmtSize = 17}, 46, 44100},
      {"a chunk before the data", {.chunkBeforeData = Chunk("LIST", "abcd")}, 56, 44100},
      {"... padded", {.chunkBeforeData = Chunk("junk", "abc") + '\0'}, 56, 44100},
      {"a fact chunk tells the frames", {.factFrames = 11025}, 56, 11025},
      {"... unless it says 0", {.factFrames = 0}, 56, 44100},
      {"not RIFF", tiny, -1, 0, 0, "RIFX"},
      {"not WAVE", tiny, -1, 0, 8, "AVI "},
      {"no fmt first", tiny, -1, 0, 12, "LIST"},
      {"rate 0", tiny, -1, 0, 24, std::string(4, '\0')},
      {"no channels", tiny, -1, 0, 22, std::string(2, '\0')},
      {"no data chunk", tiny, -1, 0, 36, "junk"},  // its size then runs past the end
      {"a chunk of 4 GB", tiny, -1, 0, 36, "junk\xff\xff\xff\xff"},
      {"cut in the header", tiny, -1, 0, 0, "", 30},
      {"cut before data", tiny, -1, 0, 0, "", 40},
  };
  test::TempDir dir;
  const std::string file = dir.file("a.wav");
  for (const Case& c : cases) {
    ::unlink(file.c_str());
    test::WriteWav(file, c.spec);
    test::Bytes b = test::ReadFileBytes(file);
    std::copy(c.patch.begin(), c.patch.end(), b.begin() + static_cast<long>(c.at));
    if (c.cut) b.resize(c.cut);
    test::WriteFileBytes(file, b);
    ::chmod(file.c_str(), 0444);
    WaveInfo info;
    EXPECT_EQ(OpenWave(file, info), c.dataOffset < 0 ? -1 : 0) << c.what;
    EXPECT_EQ(info.file.valid(), c.dataOffset >= 0) << c.what;
    struct stat st {};
    ::stat(file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u) << c.what;
    if (c.dataOffset < 0) continue;
    EXPECT_EQ(info.dataOffset, c.dataOffset) << c.what;
    EXPECT_EQ(info.frameCount, c.frames) << c.what;
    EXPECT_FLOAT_EQ(info.durationMs, c.frames * 1000.0f / c.spec.rate) << c.what;
  }
  WaveInfo info;
  EXPECT_EQ(OpenWave(dir.file("missing.wav"), info), -1);
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
      {1, 1, kWaveSeconds, 2000},   {0, 135, kWaveSeconds, 6000}, {0, 250, kWaveMilliseconds, 500},
      {-5, 10, kWaveFrames, 20},    {0, -1, kWaveFrames, 6000},   {2.5, 10, kWaveSeconds, 1000},
      {3, 1, kWaveSeconds, 0},      {2999, 100, kWaveFrames, 2},
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
