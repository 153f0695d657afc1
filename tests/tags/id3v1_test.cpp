#include "tags/id3v1.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "support/largefile.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::Bytes;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

Bytes Block(const Bytes& file) { return Bytes(file.end() - 128, file.end()); }

std::string Field(const Bytes& block, std::size_t offset, std::size_t width) {
  return std::string(block.begin() + static_cast<long>(offset),
                     block.begin() + static_cast<long>(offset + width));
}

TEST(ID3v1Names, OnlyMp3NamesAreTouched) {
  TempDir dir;
  WriteFileBytes(dir.file("song.MP3"), Bytes(100, 0));
  WriteFileBytes(dir.file("song.mp3.bak"), Bytes(100, 0));
  ID3v1Tag tag;
  tag.Title = "x";
  EXPECT_EQ(WriteID3v1(dir.file("song.MP3"), tag), kTagDone);
  EXPECT_EQ(WriteID3v1(dir.file("song.mp3.bak"), tag), kTagFailed);
  EXPECT_EQ(ReadID3v1(dir.file("song.mp3.bak"), tag), kTagFailed);
  EXPECT_EQ(RemoveID3v1(dir.file("song.mp3.bak")), kTagFailed);
  EXPECT_EQ(ReadFileBytes(dir.file("song.mp3.bak")).size(), 100u);
  EXPECT_EQ(ReadID3v1(dir.file("missing.mp3"), tag), kTagFailed);
}

TEST(ID3v1Write, AppendsThenOverwritesInPlace) {
  TempDir dir;
  std::string f = dir.file("a.mp3");
  WriteFileBytes(f, Bytes(100, 0xAA));
  ID3v1Tag tag;
  EXPECT_EQ(ReadID3v1(f, tag), kTagNone);
  tag.Title = "First";
  EXPECT_EQ(WriteID3v1(f, tag), kTagDone);
  EXPECT_EQ(ReadFileBytes(f).size(), 228u);
  tag.Title = "Second";
  EXPECT_EQ(WriteID3v1(f, tag), kTagDone);
  Bytes file = ReadFileBytes(f);
  ASSERT_EQ(file.size(), 228u);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 100), Bytes(100, 0xAA));
  ID3v1Tag back;
  EXPECT_EQ(ReadID3v1(f, back), kTagDone);
  EXPECT_EQ(back.Title, "Second");
}

TEST(ID3v1Write, ExactLayout) {
  TempDir dir;
  std::string f = dir.file("layout.mp3");
  WriteFileBytes(f, {});
  ID3v1Tag tag;
  tag.Title = std::string(40, 't');
  tag.Artist = "Art";
  tag.Album = "";
  tag.Year = 12345;
  tag.Comment = std::string(30, 'c');
  tag.Track = 7;
  tag.Genre = 255;
  ASSERT_EQ(WriteID3v1(f, tag), kTagDone);
  Bytes b = Block(ReadFileBytes(f));
  EXPECT_EQ(Field(b, 0, 3), "TAG");
  EXPECT_EQ(Field(b, 3, 30), std::string(30, 't'));
  EXPECT_EQ(Field(b, 33, 30), std::string("Art") + std::string(27, '\0'));
  EXPECT_EQ(Field(b, 63, 30), std::string(30, '\0'));
  EXPECT_EQ(Field(b, 93, 4), "2345");
  EXPECT_EQ(Field(b, 97, 28), std::string(28, 'c'));
  EXPECT_EQ(b[125], 0);
  EXPECT_EQ(b[126], 7);
  EXPECT_EQ(b[127], 255);
}

struct RoundTrip {
  const char* name;
  ID3v1Tag in;
  ID3v1Tag out;
};

TEST(ID3v1Write, RoundTrips) {
  auto make = [](std::string title, std::string comment, int year, int track, int genre) {
    ID3v1Tag t;
    t.Title = std::move(title);
    t.Comment = std::move(comment);
    t.Year = year;
    t.Track = static_cast<std::uint8_t>(track);
    t.Genre = static_cast<std::uint8_t>(genre);
    return t;
  };
  const RoundTrip cases[] = {
      {"track cuts the comment to 28", make("", std::string(30, 'x'), 0, 7, 17),
       make("", std::string(28, 'x'), 0, 7, 17)},
      {"no track keeps 30", make("", std::string(30, 'x'), 0, 0, 17),
       make("", std::string(30, 'x'), 0, 0, 17)},
      {"year 0 is none", make("t", "", 0, 0, 255), make("t", "", 0, 0, 255)},
      {"year 99 as 0099", make("t", "", 99, 0, 255), make("t", "", 99, 0, 255)},
      {"blanks are not trimmed", make("  pad  ", " c ", 2001, 1, 0),
       make("  pad  ", " c ", 2001, 1, 0)},
      {"latin-1 survives", make("Caf\xC3\xA9 \xC3\xBF", "", 0, 0, 0),
       make("Caf\xC3\xA9 \xC3\xBF", "", 0, 0, 0)},
      {"beyond latin-1 becomes ?", make("\xC5\x91r\xC3\xBC", "", 0, 0, 0),
       make("?r\xC3\xBC", "", 0, 0, 0)},
      {"CR LF and lone CR become blanks", make("", "a\r\nb\rc\nd", 0, 0, 0),
       make("", "a b c d", 0, 0, 0)},
      {"LF CR gives two blanks", make("", "a\n\rb", 0, 0, 0), make("", "a  b", 0, 0, 0)},
  };
  TempDir dir;
  for (const RoundTrip& c : cases) {
    std::string f = dir.file("rt.mp3");
    WriteFileBytes(f, Bytes(10, 0));
    ID3v1Tag in = c.in;
    ASSERT_EQ(WriteID3v1(f, in), kTagDone) << c.name;
    ID3v1Tag back;
    ASSERT_EQ(ReadID3v1(f, back), kTagDone) << c.name;
    EXPECT_EQ(back.Title, c.out.Title) << c.name;
    EXPECT_EQ(back.Comment, c.out.Comment) << c.name;
    EXPECT_EQ(back.Year, c.out.Year) << c.name;
    EXPECT_EQ(back.Track, c.out.Track) << c.name;
    EXPECT_EQ(back.Genre, c.out.Genre) << c.name;
  }
}

TEST(ID3v1Write, TheCallersCommentLosesItsLineBreaks) {
  TempDir dir;
  WriteFileBytes(dir.file("c.mp3"), {});
  ID3v1Tag tag;
  tag.Comment = "a\r\nb";
  WriteID3v1(dir.file("c.mp3"), tag);
  EXPECT_EQ(tag.Comment, "a b");
}

TEST(ID3v1Read, NoBlockCases) {
  TempDir dir;
  ID3v1Tag tag;
  tag.Title = "untouched";
  Bytes lower(200, 0);
  std::memcpy(lower.data() + 72, "tag", 3);
  WriteFileBytes(dir.file("lower.mp3"), lower);
  EXPECT_EQ(ReadID3v1(dir.file("lower.mp3"), tag), kTagNone);
  WriteFileBytes(dir.file("short.mp3"), Bytes{'T', 'A', 'G'});
  EXPECT_EQ(ReadID3v1(dir.file("short.mp3"), tag), kTagNone);
  EXPECT_EQ(tag.Title, "untouched");
}

TEST(ID3v1Read, FieldsEndAtTheFirstZeroAndYearIsNumeric) {
  TempDir dir;
  Bytes b(128, 0);
  std::memcpy(b.data(), "TAG", 3);
  std::memcpy(b.data() + 3, "ab\0cd", 5);
  std::memcpy(b.data() + 93, "19x9", 4);
  b[125] = 'z';  // not 0: byte 126 is comment text, not a track
  b[126] = 5;
  WriteFileBytes(dir.file("f.mp3"), b);
  ID3v1Tag tag;
  ASSERT_EQ(ReadID3v1(dir.file("f.mp3"), tag), kTagDone);
  EXPECT_EQ(tag.Title, "ab");
  EXPECT_EQ(tag.Year, 19);
  EXPECT_EQ(tag.Track, 0);
  EXPECT_EQ(tag.Comment, "");
}

TEST(ID3v1Remove, StackedBlocksAllGo) {
  TempDir dir;
  std::string f = dir.file("stack.mp3");
  Bytes audio(500, 0x55);
  Bytes file = audio;
  for (int i = 0; i < 2; ++i) {
    Bytes b(128, 0);
    std::memcpy(b.data(), "TAG", 3);
    file.insert(file.end(), b.begin(), b.end());
  }
  WriteFileBytes(f, file);
  EXPECT_EQ(RemoveAllID3v1(f), 2);
  EXPECT_EQ(ReadFileBytes(f), audio);
  EXPECT_EQ(RemoveID3v1(f), kTagNone);
  EXPECT_EQ(RemoveAllID3v1(f), 0);
  EXPECT_EQ(RemoveAllID3v1(dir.file("missing.mp3")), 0);
}

TEST(ID3v1Remove, AFileThatCannotBeWrittenEndsTheLoop) {
  TempDir dir;
  test::OpenToEveryone(dir.path());
  std::string f = dir.file("ro.mp3");
  Bytes b(128, 0);
  std::memcpy(b.data(), "TAG", 3);
  WriteFileBytes(f, b);
  ::chmod(f.c_str(), 0444);
  EXPECT_TRUE(test::RunUnprivileged([&] {
    ID3v1Tag tag;
    return RemoveID3v1(f) == kTagFailed && RemoveAllID3v1(f) == 0 &&
           WriteID3v1(f, tag) == kTagFailed && ReadID3v1(f, tag) == kTagDone;
  }));
  EXPECT_EQ(ReadFileBytes(f), b);
}

// Files from other projects' test suites.
TEST(ID3v1Peers, ReadsBlocksOthersWrote) {
  ID3v1Tag tag;
  ASSERT_EQ(ReadID3v1(test::DataPath("peers/mp3agic/v1tag.mp3"), tag), kTagDone);
  EXPECT_EQ(tag.Title, "TITLE1234567890123456789012345");
  EXPECT_EQ(tag.Artist, "ARTIST123456789012345678901234");
  EXPECT_EQ(tag.Album, "ALBUM1234567890123456789012345");
  EXPECT_EQ(tag.Year, 2001);
  EXPECT_EQ(tag.Comment, "COMMENT123456789012345678901");
  EXPECT_EQ(tag.Track, 1);
  EXPECT_EQ(tag.Genre, 13);
  ID3v1Tag none;
  EXPECT_EQ(ReadID3v1(test::DataPath("peers/mp3agic/notags.mp3"), none), kTagNone);
}

// mutagen as a second opinion, both ways.
class ID3v1Mutagen : public ::testing::Test {
 protected:
  test::Json ReadWithMutagen(const std::string& file) {
    auto r = test::RunProcess({test::PythonPath(), test::ToolPath("mutagen_id3v1.py"), "read", file});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return test::ParseJson(r.out);
  }
  void WriteWithMutagen(const std::string& file, const std::string& json) {
    auto r = test::RunProcess(
        {test::PythonPath(), test::ToolPath("mutagen_id3v1.py"), "write", file, json});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
};

TEST_F(ID3v1Mutagen, MutagenReadsWhatWeWrite) {
  TempDir dir;
  std::string f = dir.file("ours.mp3");
  WriteFileBytes(f, Bytes(300, 0xFF));
  ID3v1Tag tag;
  tag.Title = "Árvíztűrő";  // ű and ő are outside Latin-1
  tag.Artist = "Sigur Rós";
  tag.Album = std::string(30, 'A');
  tag.Year = 1999;
  tag.Comment = "twenty-eight characters!!!!!";
  tag.Track = 12;
  tag.Genre = 17;
  ASSERT_EQ(WriteID3v1(f, tag), kTagDone);
  test::Json m = ReadWithMutagen(f);
  EXPECT_EQ(m["title"].string, "Árvízt?r?");
  EXPECT_EQ(m["artist"].string, tag.Artist);
  EXPECT_EQ(m["album"].string, tag.Album);
  EXPECT_EQ(m["year"].string, "1999");
  EXPECT_EQ(m["comment"].string, tag.Comment);
  EXPECT_EQ(m["track"].number, 12);
  EXPECT_EQ(m["genre"].number, 17);
}

TEST_F(ID3v1Mutagen, WeReadWhatMutagenWrites) {
  TempDir dir;
  std::string f = dir.file("theirs.mp3");
  WriteFileBytes(f, Bytes(300, 0x11));
  WriteWithMutagen(f, R"({"title": "Crème brûlée", "artist": "Björk", "album": "Post",
                          "year": "1995", "comment": "Latin-1 only: ÿ", "track": 3,
                          "genre": 52})");
  ID3v1Tag tag;
  ASSERT_EQ(ReadID3v1(f, tag), kTagDone);
  EXPECT_EQ(tag.Title, "Crème brûlée");
  EXPECT_EQ(tag.Artist, "Björk");
  EXPECT_EQ(tag.Album, "Post");
  EXPECT_EQ(tag.Year, 1995);
  EXPECT_EQ(tag.Comment, "Latin-1 only: ÿ");
  EXPECT_EQ(tag.Track, 3);
  EXPECT_EQ(tag.Genre, 52);
  EXPECT_EQ(ReadFileBytes(f).size(), 428u);
}

}  // namespace
}  // namespace velotag
