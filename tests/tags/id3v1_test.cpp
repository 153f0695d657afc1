// The ID3v1 block at the end of a file and the genre list of its last byte.
#include "tags/id3v1.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>

#include "id3v2_builder.h"
#include "tags/genres.h"

namespace velotag {
namespace {

using namespace test;

Bytes Block(const std::string& title,
            std::initializer_list<std::pair<std::size_t, Bytes>> at = {}) {
  Bytes b(128, 0);
  std::memcpy(b.data(), "TAG", 3);
  std::memcpy(b.data() + 3, title.data(), std::min<std::size_t>(title.size(), 30));
  for (const auto& [offset, bytes] : at) std::copy(bytes.begin(), bytes.end(), b.begin() + offset);
  return b;
}

std::string Fields(const ID3v1Tag& t) {
  return t.Title + "|" + t.Artist + "|" + t.Album + "|" + std::to_string(t.Year) + "|" + t.Comment +
         "|" + std::to_string(t.Track) + "|" + std::to_string(t.Genre);
}

TEST(ID3v1, ReadingBlocks) {
  const std::pair<Bytes, const char*> cases[] = {
      {Cat({Bytes(72, 0), ToBytes("tAG"), Bytes(125, 0)}), "none"},  // letter case counts
      {ToBytes("TAG"), "none"},                                      // shorter than a block
      // Fields end at their first zero; the year is numeric; a comment
      // that fills byte 125 leaves no room for a track.
      {Block(std::string("ab\0cd", 5), {{93, ToBytes("19x9")}, {125, {'z', 5}}}), "ab|||19||0|0"},
      {Block("  pad  ", {{97, ToBytes(" c ")}, {127, {255}}}), "  pad  |||0| c |0|255"},  // blanks stay
  };
  TempDir dir;
  for (const auto& [file, fields] : cases) {
    WriteFileBytes(dir.file("f.mp3"), file);
    ID3v1Tag tag;
    const int result = ReadID3v1(dir.file("f.mp3"), tag);
    EXPECT_EQ(result == kTagNone ? "none" : Fields(tag), fields);
  }
  ID3v1Tag tag;
  ASSERT_EQ(ReadID3v1(DataPath("peers/mp3agic/v1tag.mp3"), tag), kTagDone);
  EXPECT_EQ(Fields(tag),
            "TITLE1234567890123456789012345|ARTIST123456789012345678901234|"
            "ALBUM1234567890123456789012345|2001|COMMENT123456789012345678901|1|13");
  EXPECT_EQ(ReadID3v1(DataPath("peers/mp3agic/notags.mp3"), tag), kTagNone);
}

TEST(ID3v1, RemoveTakesStackedBlocksAndStopsAtAFileItCannotCutOrNotNamedMp3) {
  TempDir dir;
  OpenToEveryone(dir.path());
  const std::string f = dir.file("stack.mp3"), ro = dir.file("ro.mp3");
  WriteFileBytes(f, Cat({Bytes(500, 0x55), Block("1"), Block("2")}));
  EXPECT_EQ(RemoveAllID3v1(f), 2);
  EXPECT_EQ(ReadFileBytes(f), Bytes(500, 0x55));
  EXPECT_EQ(RemoveID3v1(f), kTagNone);
  EXPECT_EQ(RemoveAllID3v1(dir.file("missing.mp3")), 0);
  ID3v1Tag tag;  // only .mp3 names are touched, in any letter case
  WriteFileBytes(dir.file("song.mp3.bak"), Block("bak"));
  WriteFileBytes(dir.file("song.MP3"), Bytes(100, 0));
  EXPECT_EQ(WriteID3v1(dir.file("song.MP3"), tag), kTagDone);
  const std::string bak = dir.file("song.mp3.bak");
  EXPECT_TRUE(WriteID3v1(bak, tag) == kTagFailed && ReadID3v1(bak, tag) == kTagFailed &&
              RemoveID3v1(bak) == kTagFailed && ReadID3v1(dir.file("missing.mp3"), tag) == kTagFailed);
  EXPECT_EQ(ReadFileBytes(dir.file("song.mp3.bak")), Block("bak"));
  WriteFileBytes(ro, Block("ro"));
  ::chmod(ro.c_str(), 0444);
  EXPECT_TRUE(RunUnprivileged([&] {
    return RemoveID3v1(ro) == kTagFailed && RemoveAllID3v1(ro) == 0 &&
           WriteID3v1(ro, tag) == kTagFailed && ReadID3v1(ro, tag) == kTagDone;
  }));
  EXPECT_EQ(ReadFileBytes(ro), Block("ro"));
}

// Ours, written twice onto the audio (the second block replaces the first),
// read back by us and, where it reads the block as we do, by mutagen; it
// takes the last byte of a 30-byte comment for a track.
TEST(ID3v1, MutagenAgreesBothWays) {
  // Title, artist, album, year, comment, genre, track; then as read back.
  // ű and ő are outside ISO-8859-1; line breaks become blanks.
  const std::string x30(30, 'x'), x28(28, 'x');
  const std::tuple<ID3v1Tag, std::string, bool> cases[] = {
      {{"Árvíztűrő", "Sigur Rós", x30, 1999, x28, 17, 12},
       "Árvízt?r?|Sigur Rós|" + x30 + "|1999|" + x28 + "|12|17", true},
      {{std::string(40, 't'), "", "", 12345, x30, 17, 7},
       std::string(30, 't') + "|||2345|" + x28 + "|7|17", true},
      {{"", "", "", 2001, "a\r\nb\rc\nd\n\re", 0, 1}, "|||2001|a b c d  e|1|0", true},
      {{"", "", "", 0, x30, 255, 0}, "|||0|" + x30 + "|0|255", false}};
  TempDir dir;
  const std::string ours = dir.file("ours.mp3"), theirs = dir.file("theirs.mp3");
  for (const auto& [in, out, byMutagen] : cases) {
    WriteFileBytes(ours, Bytes(300, 0xAA));
    ID3v1Tag written = in, tag;
    ASSERT_EQ(WriteID3v1(ours, written), kTagDone);
    ASSERT_EQ(WriteID3v1(ours, written), kTagDone);
    EXPECT_EQ(written.Comment.find_first_of("\r\n"), std::string::npos) << "the caller's record";
    EXPECT_EQ(ReadFileBytes(ours).size(), 428u);
    ASSERT_EQ(ReadID3v1(ours, tag), kTagDone);
    EXPECT_EQ(Fields(tag), out);
    if (byMutagen) {
      const Json m = ParseJson(RunTool("mutagen_id3v1.py", {"read", ours}));
      EXPECT_EQ(m["title"].string + "|" + m["artist"].string + "|" + m["album"].string + "|" +
                    m["year"].string + "|" + m["comment"].string + "|" +
                    std::to_string(int(m["track"].number)) + "|" + std::to_string(int(m["genre"].number)),
                out);
    }
  }
  ID3v1Tag tag;
  WriteFileBytes(theirs, Bytes(300, 0x11));
  RunTool("mutagen_id3v1.py", {"write", theirs, R"({"title": "Crème brûlée", "artist": "Björk",
      "album": "Post", "year": "1995", "comment": "Latin-1 only: ÿ", "track": 3, "genre": 52})"});
  ASSERT_EQ(ReadID3v1(theirs, tag), kTagDone);
  EXPECT_EQ(Fields(tag), "Crème brûlée|Björk|Post|1995|Latin-1 only: ÿ|3|52");
  EXPECT_EQ(ReadFileBytes(theirs).size(), 428u);
}

// mutagen's list is the second opinion on every name: a swap or a slip in
// any of the 148 shows. Where they differ, ours keeps what stored files
// were written with.
TEST(Genres, NamesAgreeWithMutagenAndTextsFindTheirIndex) {
  const std::map<int, std::string> kept = {
      {40, "AlternRock"}, {59, "Gangsta"}, {67, "Psychadelic"}, {79, "Hardcase Rock"},
      {84, "Fast Fusion"}, {85, "Bebob"},   {123, "A capella"}, {133, "Negerpunk"}, {146, "Jpop"}};
  const ProcessResult r = RunProcess(
      {PythonPath(), "-c", "from mutagen._constants import GENRES; print('\\n'.join(GENRES[:148]))"});
  std::istringstream theirs(r.out);
  std::string name;
  for (int i = 0; std::getline(theirs, name); ++i)
    EXPECT_EQ(GenreName(static_cast<std::uint8_t>(i)), kept.count(i) ? kept.at(i) : name) << i;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), kGenreCount);
  EXPECT_EQ(GenreName(148), "148");
  EXPECT_EQ(GenreName(255), "");
  const std::tuple<std::string, bool, int, std::string> cases[] = {
      {"  Rock  ", false, 17, "Rock"},       {"Classic  Rock", true, 1, "ClassicRock"},
      {"Classic  Rock", false, 255, "Classic  Rock"}, {"Psychedelic", false, 255, "Psychedelic"},
      {"200", false, 200, "200"},            {"-1", false, 255, "-1"},
      {"13.5", false, 14, "13.5"},           {"(17)", false, 255, "(17)"},
      {"HEAVY metal", false, 137, "HEAVY metal"}, {"Synthpop", false, 147, "Synthpop"}};
  for (const auto& [in, ignoreSpaces, index, after] : cases) {
    std::string text = in;
    EXPECT_EQ(GenreIndex(text, ignoreSpaces), index) << in;
    EXPECT_EQ(text, after) << in;
  }
}

}  // namespace
}  // namespace velotag
