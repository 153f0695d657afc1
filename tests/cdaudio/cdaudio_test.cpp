// Tables of contents and rips on disc images the tests write, read through
// libcdio's BIN/CUE driver; cd-info (libcdio-utils) is the second opinion
// on the table of contents.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>

#include "cdaudio/drives.h"
#include "cdaudio/rip.h"
#include "cdimage.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::CdImage;
using Bytes = std::vector<std::uint8_t>;

struct DiscCase {
  const char* name;
  std::vector<test::ImageTrack> tracks;
  long pregap;
  int firstTrack;
};

const DiscCase kDiscs[] = {
    {"plain", {{1000}, {800}, {37}}, 0, 1},
    {"datalast", {{600}, {450}, {300, true}}, 0, 1},  // CD-Extra: a data track last
    {"pregap", {{700}, {500}}, 300, 1},               // audio hidden before track 1
    {"fromtwo", {{400}, {400}, {400}}, 0, 2},         // numbering starts at 2
};

// The WAV file of count sectors from lsn.
Bytes Wave(const CdImage& image, long lsn, long count) {
  std::array<std::uint8_t, kWaveHeaderBytes> h{};
  BuildWaveHeader(h, 44100, 2, 16, static_cast<std::uint32_t>(count * kCdSectorBytes));
  Bytes out(h.begin(), h.end()), data = image.Sectors(lsn, count);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::string Msf(const TocEntry& e) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", e.minutes, e.seconds, e.frames);
  return buf;
}

// The table of contents agrees with the image and with cd-info; every
// audio track, read both ways, holds exactly the track's sectors, at their
// absolute addresses; a data track is refused without a file.
TEST(CdToc, AgreesWithTheImageAndWithCdInfoAndEveryTrackRips) {
  test::TempDir dir;
  for (const DiscCase& c : kDiscs) {
    SCOPED_TRACE(c.name);
    CdImage image = test::MakeCdImage(dir.path(), c.name, c.tracks, c.pregap, c.firstTrack);
    std::vector<TocEntry> toc;
    int first = 0;
    // One entry per track and the lead-out, however the numbering starts.
    ASSERT_EQ(ReadToc(image.cue, toc, &first), static_cast<int>(c.tracks.size()) + 1);
    EXPECT_EQ(first, c.firstTrack);
    std::string cdInfo = test::RunProcess({"/usr/bin/cd-info", "--no-cddb", "--no-device-info",
                                           "--no-disc-mode", "--no-analyze", image.cue}).out;
    for (std::size_t i = 0; i < toc.size(); ++i) {
      const bool leadOut = i == c.tracks.size();
      EXPECT_EQ(TocFrames(toc[i]), (leadOut ? image.leadOut : image.start[i]) + 150);
      // The lead-out carries the last track's control.
      EXPECT_EQ(IsDataEntry(toc[i]), c.tracks[std::min(i, c.tracks.size() - 1)].data);
      // "  2: 00:15:25  001000 audio"
      std::string number = leadOut ? "170" : std::to_string(c.firstTrack + static_cast<int>(i));
      std::string kind = leadOut ? "leadout" : IsDataEntry(toc[i]) ? "data" : "audio";
      EXPECT_TRUE(std::regex_search(cdInfo, std::regex("\\s" + number + ": " + Msf(toc[i]) +
                                                       "\\s+\\d+ " + kind)))
          << cdInfo;
      for (RipMode mode : {RipMode::Direct, RipMode::Secure}) {
        if (leadOut) break;
        const std::string wav = dir.file(std::string(c.name) + std::to_string(i) + ".wav");
        ASSERT_EQ(RipTrack(image.cue, c.firstTrack + static_cast<int>(i), wav, 0, -1, true, {}, true, mode),
                  !c.tracks[i].data) << i;
        EXPECT_TRUE(c.tracks[i].data ? ::access(wav.c_str(), F_OK) != 0
                                     : test::ReadFileBytes(wav) == Wave(image, image.start[i], image.Length(i)));
        ::unlink(wav.c_str());
      }
    }
  }
  std::vector<TocEntry> toc(2);
  test::WriteFileText(dir.file("junk.cue"), "no cue sheet\n");
  for (std::string none : {dir.file("missing.cue"), dir.file("junk.cue"), dir.path()})
    EXPECT_EQ(ReadToc(none, toc), 0) << none;
  EXPECT_TRUE(toc.empty());
  EXPECT_FALSE(LoadMedia(dir.file("plain.cue"), false));  // an image has no tray
  // No such track, no such disc: no file.
  for (const auto& [cue, track] : {std::pair{dir.file("plain.cue"), 4}, {dir.file("none.cue"), 1}}) {
    EXPECT_FALSE(RipTrack(cue, track, dir.file("x.wav"), 0, -1, true, {}, true, RipMode::Direct)) << cue;
    EXPECT_NE(::access(dir.file("x.wav").c_str(), F_OK), 0);
  }
}

// Stopped by the callback, or cut short where the disc's data end: the file
// keeps the blocks read, and its header tells their size, not the track's.
TEST(CdRip, AnEarlyEndKeepsWhatWasReadWithAHeaderToMatch) {
  test::TempDir dir;
  CdImage image = test::MakeCdImage(dir.path(), "d", {{200}, {600}});
  // Its data end 70 sectors into track 2: the lead-out comes before track 3.
  CdImage cut = test::MakeCdImage(dir.path(), "cut", {{200}, {70}});
  test::WriteFileText(cut.cue, "FILE \"cut.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                               "  TRACK 02 AUDIO\n    INDEX 01 00:02:50\n"
                               "  TRACK 03 AUDIO\n    INDEX 01 00:10:50\n");
  for (RipMode mode : {RipMode::Direct, RipMode::Secure}) {
    for (bool stop : {true, false}) {
      SCOPED_TRACE(std::string(mode == RipMode::Direct ? "direct" : "secure") + (stop ? " stop" : " cut"));
      const CdImage& disc = stop ? image : cut;
      std::vector<float> percents;
      auto progress = [&](int track, const std::string& drive, float percent) {
        EXPECT_EQ(track, 2);
        EXPECT_EQ(drive, disc.cue);
        percents.push_back(percent);
        return !stop || percents.size() < 3;
      };
      EXPECT_FALSE(RipTrack(disc.cue, 2, dir.file("x.wav"), 0, -1, true, progress, true, mode));
      EXPECT_TRUE(test::ReadFileBytes(dir.file("x.wav")) == Wave(image, 200, stop ? 45 : 70));
      EXPECT_NEAR(percents.at(0), 100.0f * 15 / 600, 0.001f);
    }
  }
}

TEST(CdRip, WaveHeaderAndTheEndOfACdExtraSession) {
  // Python's struct module wrote this header of a 3-minute track.
  std::array<std::uint8_t, kWaveHeaderBytes> h{};
  BuildWaveHeader(h, 44100, 2, 16, 180 * 75 * 2352);
  std::string text;
  for (std::uint8_t b : h) text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
  EXPECT_EQ(text, "52494646647fe40157415645666d7420100000000100020044ac000010b102000400100064617461407fe401");
  // The first session's lead-out and the next lead-in (11400 sectors) lie
  // before a CD-Extra disc's data track: the last audio track ends before them.
  const std::array<long, 5> cases[] = {
      // start, libcdio's last, next is data, last session, expected
      {0, 199999, 1, 200000, 188599}, {0, 199999, 0, 200000, 199999},
      {0, 199999, 1, 0, 199999},      {190000, 200000, 1, 200000, 200000}};
  for (const auto& c : cases) EXPECT_EQ(AudioTrackLastSector(c[0], c[1], c[2] != 0, c[3]), c[4]);
}

}  // namespace
}  // namespace velotag
