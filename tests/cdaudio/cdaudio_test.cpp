// Drives, tables of contents and rips on disc images the tests write,
// through libcdio's BIN/CUE driver; cd-info (libcdio-utils) is the second
// opinion on the table of contents.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <regex>

#include "cdaudio/drives.h"
#include "cdaudio/rip.h"
#include "cdimage.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::CdImage;
using test::ImageTrack;
using test::TempDir;

constexpr long kSector = kCdSectorBytes;

struct DiscCase {
  const char* name;
  std::vector<ImageTrack> tracks;
  long pregap;
  int firstTrack;
};

const std::vector<DiscCase>& Discs() {
  static const std::vector<DiscCase> kDiscs = {
      {"plain", {{1000}, {800}, {37}}, 0, 1},
      // CD-Extra style: audio, then a data track last.
      {"datalast", {{600}, {450}, {300, true}}, 0, 1},
      // Track 1 starts after a hidden pregap of audio.
      {"pregap", {{700}, {500}}, 300, 1},
      // A disc whose numbering does not start at 1.
      {"fromtwo", {{400}, {400}, {400}}, 0, 2},
  };
  return kDiscs;
}

std::vector<std::uint8_t> WaveHeader(std::uint32_t dataSize) {
  std::array<std::uint8_t, kWaveHeaderBytes> h{};
  BuildWaveHeader(h, 44100, 2, 16, dataSize);
  return {h.begin(), h.end()};
}

std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// cd-info's track list: number -> "MM:SS:FF type".
std::map<int, std::string> CdInfoTracks(const std::string& cue) {
  std::map<int, std::string> tracks;
  test::ProcessResult r = test::RunProcess({"/usr/bin/cd-info", "--no-cddb", "--no-device-info",
                                            "--no-disc-mode", "--no-analyze", cue});
  std::regex line(R"(^\s*(\d+): (\d\d:\d\d:\d\d)\s+\d+ (audio|data|leadout))");
  std::istringstream in(r.out);
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    if (std::regex_search(l, m, line)) tracks[std::stoi(m[1])] = m[2].str() + " " + m[3].str();
  }
  return tracks;
}

std::string MsfText(const TocEntry& e) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", e.minutes, e.seconds, e.frames);
  return buf;
}

TEST(CdToc, EntriesFromImagesAgreeWithTheirLayoutAndWithCdInfo) {
  TempDir dir;
  const bool haveCdInfo = ::access("/usr/bin/cd-info", X_OK) == 0;
  for (const DiscCase& c : Discs()) {
    SCOPED_TRACE(c.name);
    CdImage image = test::MakeCdImage(dir.path(), c.name, c.tracks, c.pregap, c.firstTrack);
    std::vector<TocEntry> toc;
    int first = 0;
    const int count = ReadToc(image.cue, toc, &first);
    // One entry per track and the lead-out, however the numbering starts.
    ASSERT_EQ(count, static_cast<int>(c.tracks.size()) + 1);
    ASSERT_EQ(toc.size(), c.tracks.size() + 1);
    EXPECT_EQ(first, c.firstTrack);
    for (std::size_t i = 0; i < c.tracks.size(); ++i) {
      EXPECT_EQ(TocFrames(toc[i]), image.start[i] + 150) << i;
      EXPECT_EQ(IsDataEntry(toc[i]), c.tracks[i].data) << i;
    }
    EXPECT_EQ(TocFrames(toc.back()), image.leadOut + 150);
    if (!haveCdInfo) continue;
    std::map<int, std::string> info = CdInfoTracks(image.cue);
    ASSERT_EQ(info.size(), toc.size());
    for (std::size_t i = 0; i < c.tracks.size(); ++i)
      EXPECT_EQ(info[c.firstTrack + static_cast<int>(i)],
                MsfText(toc[i]) + (IsDataEntry(toc[i]) ? " data" : " audio"));
    EXPECT_EQ(info[170], MsfText(toc.back()) + " leadout");
  }
}

TEST(CdToc, NothingReadableGivesNoEntries) {
  TempDir dir;
  test::WriteFileText(dir.file("empty.cue"), "");
  test::WriteFileText(dir.file("junk.cue"), "this is no cue sheet\n");
  for (std::string source : {dir.file("missing.cue"), dir.file("empty.cue"), dir.file("junk.cue"),
                             dir.path(), std::string()}) {
    std::vector<TocEntry> toc(3);
    EXPECT_EQ(ReadToc(source, toc), 0) << source;
    EXPECT_TRUE(toc.empty());
  }
}

TEST(CdToc, AnImageHasNoTrayToMove) {
  TempDir dir;
  CdImage image = test::MakeCdImage(dir.path(), "d", {{75}});
  EXPECT_FALSE(LoadMedia(image.cue, false));
  EXPECT_FALSE(LoadMedia(image.cue, true));
  std::string id = GetDriveIdentifier(image.cue);
  EXPECT_FALSE(id.empty());
  EXPECT_EQ(id.find("  "), std::string::npos);
  EXPECT_NE(id.front(), ' ');
  EXPECT_NE(id.back(), ' ');
}

// Every audio track of every disc, read both ways: the WAV holds exactly the
// track's sectors, at their absolute addresses.
TEST(CdRip, EveryAudioTrackHoldsItsSectorsBothWays) {
  TempDir dir;
  for (const DiscCase& c : Discs()) {
    CdImage image = test::MakeCdImage(dir.path(), c.name, c.tracks, c.pregap, c.firstTrack);
    for (std::size_t i = 0; i < c.tracks.size(); ++i) {
      if (c.tracks[i].data) continue;
      const int track = c.firstTrack + static_cast<int>(i);
      const long count = image.LastSector(i) - image.start[i] + 1;
      const auto expected =
          Concat(WaveHeader(static_cast<std::uint32_t>(count * kSector)), image.Sectors(image.start[i], count));
      for (RipMode mode : {RipMode::Direct, RipMode::Secure}) {
        SCOPED_TRACE(std::string(c.name) + " track " + std::to_string(track) +
                     (mode == RipMode::Direct ? " direct" : " secure"));
        std::string wav = dir.file("out.wav");
        ASSERT_TRUE(RipTrack(image.cue, track, wav, 0, -1, true, {}, true, mode));
        auto got = test::ReadFileBytes(wav);
        ASSERT_EQ(got.size(), expected.size());
        EXPECT_TRUE(got == expected);
      }
    }
  }
}

TEST(CdRip, PartsOfATrack) {
  TempDir dir;
  CdImage image = test::MakeCdImage(dir.path(), "d", {{900}, {400}}, 150);
  struct Case {
    std::int64_t start, length;
    bool frames;
    long first, count;  // sectors from the track's start; count 0: fails, no file
  } cases[] = {
      {0, -1, true, 0, 900},
      {100, 30, true, 100, 30},
      {-5, 20, true, 0, 20},          // a negative start counts as 0
      {890, 50, true, 890, 10},       // the end of the track limits the length
      {899, -1, true, 899, 1},
      {2, 3, false, 150, 225},        // seconds
      {11, -1, false, 825, 75},
      {900, -1, true, 0, 0},          // starts past the end
      {13, -1, false, 0, 0},
      {5, 0, true, 0, 0},             // nothing asked
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.start) + "/" + std::to_string(c.length));
    std::string wav = dir.file("part.wav");
    ::unlink(wav.c_str());
    bool ok = RipTrack(image.cue, 1, wav, c.start, c.length, c.frames, {}, true, RipMode::Direct);
    if (c.count == 0) {
      EXPECT_FALSE(ok);
      EXPECT_NE(::access(wav.c_str(), F_OK), 0);
      continue;
    }
    ASSERT_TRUE(ok);
    EXPECT_TRUE(test::ReadFileBytes(wav) ==
                Concat(WaveHeader(static_cast<std::uint32_t>(c.count * kSector)),
                       image.Sectors(image.start[0] + c.first, c.count)));
  }
}

TEST(CdRip, RefusesWithoutCreatingTheFile) {
  TempDir dir;
  CdImage image = test::MakeCdImage(dir.path(), "d", {{100}, {100, true}}, 0, 3);
  struct Case {
    std::string drive;
    int track;
    bool audioOnly;
  } cases[] = {
      {image.cue, 4, true},  // a data track
      {image.cue, 2, true},  // before the first track
      {image.cue, 5, true},  // after the last
      {image.cue, 0, false},
      {dir.file("none.cue"), 3, true},
      {"", 3, true},
  };
  for (const Case& c : cases) {
    std::string wav = dir.file("refused.wav");
    EXPECT_FALSE(RipTrack(c.drive, c.track, wav, 0, -1, true, {}, c.audioOnly, RipMode::Direct))
        << c.drive << " " << c.track;
    EXPECT_NE(::access(wav.c_str(), F_OK), 0);
  }
  // A file in a folder that does not exist cannot be made.
  EXPECT_FALSE(RipTrack(image.cue, 3, dir.file("no/such/x.wav"), 0, -1, true, {}, true,
                        RipMode::Direct));
}

// Stopped by the callback, or cut short where the disc's data end: the
// file keeps the blocks read, and its header tells their size, not the
// track's.
TEST(CdRip, AnEndBeforeTheTrackEndsKeepsWhatWasReadWithAHeaderToMatch) {
  TempDir dir;
  CdImage image = test::MakeCdImage(dir.path(), "d", {{200}, {600}});
  // The same disc with its data ending 70 sectors into track 2, as a disc
  // that cannot be read past there: the lead-out comes before track 2 ends.
  CdImage broken = test::MakeCdImage(dir.path(), "broken", {{200}, {70}});
  test::WriteFileText(broken.cue, "FILE \"broken.bin\" BINARY\n"
                                  "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                  "  TRACK 02 AUDIO\n    INDEX 01 00:02:50\n"
                                  "  TRACK 03 AUDIO\n    INDEX 01 00:10:50\n");
  for (RipMode mode : {RipMode::Direct, RipMode::Secure}) {
    for (bool stop : {true, false}) {
      SCOPED_TRACE(std::string(mode == RipMode::Direct ? "direct" : "secure") +
                   (stop ? " stop" : " unreadable"));
      const CdImage& disc = stop ? image : broken;
      std::string wav = dir.file("cut.wav");
      int calls = 0;
      std::vector<float> percents;
      auto progress = [&](int track, const std::string& drive, float percent) {
        EXPECT_EQ(track, 2);
        EXPECT_EQ(drive, disc.cue);
        percents.push_back(percent);
        return !stop || ++calls < 3;
      };
      EXPECT_FALSE(RipTrack(disc.cue, 2, wav, 0, -1, true, progress, true, mode));
      const long sectors = stop ? 3 * kRipBlockSectors : 70;
      EXPECT_TRUE(test::ReadFileBytes(wav) ==
                  Concat(WaveHeader(static_cast<std::uint32_t>(sectors * kSector)),
                         image.Sectors(200, sectors)));
      ASSERT_GE(percents.size(), 3u);
      EXPECT_NEAR(percents[0], 100.0f * 15 / 600, 0.001f);
    }
  }
}

TEST(CdRip, WaveHeaders) {
  struct Case {
    std::uint32_t rate;
    std::uint16_t channels, bits;
    std::uint32_t size;
    const char* hex;
  } cases[] = {
      // A 3-minute track.
      {44100, 2, 16, 180 * 75 * 2352,
       "52494646647fe40157415645666d7420100000000100020044ac000010b102000400100064617461407fe401"},
      // 0 rate and channels, and odd bits, mean CD audio.
      {0, 0, 12, 0,
       "524946462400000057415645666d7420100000000100020044ac000010b10200040010006461746100000000"},
      {8000, 1, 8, 10,
       "524946462e00000057415645666d74201000000001000100401f0000401f000001000800646174610a000000"},
  };
  for (const Case& c : cases) {
    std::array<std::uint8_t, kWaveHeaderBytes> h{};
    EXPECT_EQ(BuildWaveHeader(h, c.rate, c.channels, c.bits, c.size), 44);
    std::string hex;
    for (std::uint8_t b : h) {
      char buf[3];
      std::snprintf(buf, sizeof buf, "%02x", b);
      hex += buf;
    }
    EXPECT_EQ(hex, c.hex);
  }
}

// Before a CD-Extra disc's data session the first session's lead-out and
// the next lead-in cannot be read; the audio ends before them.
TEST(CdRip, TheLastAudioTrackOfACdExtraDiscEndsBeforeTheSessionGap) {
  struct Case {
    long start, libcdioLast;
    bool nextIsData;
    long session, expected;
  } cases[] = {
      {0, 200000 - 1, true, 200000, 200000 - 11400 - 1},
      {0, 200000 - 1, false, 200000, 200000 - 1},  // audio follows: nothing to cut
      {0, 200000 - 1, true, 0, 200000 - 1},        // single session
      {150000, 160000, true, 200000, 160000},      // the session lies past this track
      {190000, 200000, true, 200000, 200000},      // a gap that would swallow the track
  };
  for (const Case& c : cases)
    EXPECT_EQ(AudioTrackLastSector(c.start, c.libcdioLast, c.nextIsData, c.session), c.expected);
}

}  // namespace
}  // namespace velotag
