#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

#include "id3v2_builder.h"
#include "support/paths.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "testutil.h"

namespace velotag {
namespace {

using namespace test;

const char* TitleID(int version) { return version == 2 ? "TT2" : "TIT2"; }

std::uint32_t SynchsafeAt(const Bytes& b, std::size_t at) {
  return (std::uint32_t{b[at]} << 21) | (std::uint32_t{b[at + 1]} << 14) |
         (std::uint32_t{b[at + 2]} << 7) | b[at + 3];
}

// Runs body in a forked child (for process limits that must not touch the
// test runner) and returns its answer.
bool RunInChild(const std::function<bool()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body() ? 0 : 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(ID3v2Set, IdentifiersFollowTheTagsVersion) {
  struct Case {
    const char* given;
    const char* v22;  // "" = refused
    const char* v23;
    const char* v24;
  };
  const Case cases[] = {
      {"TDRC", "TYE", "TYER", "TDRC"}, {"TYER", "TYE", "TYER", "TDRC"},
      {"TALB", "TAL", "TALB", "TALB"}, {"TAL", "TAL", "TALB", "TALB"},
      {" tit2 ", "TT2", "TIT2", "TIT2"}, {"TSOP", "", "", "TSOP"},
      {"TXXX", "", "", ""},            {"TXX", "", "", ""},
      {"WXXX", "", "", ""},            {"COMM", "", "", ""},
      {"TZZZ", "", "", ""},            {"", "", "", ""},
      {"TORY", "TOR", "TORY", "TDOR"}, {"TDOR", "TOR", "TORY", "TDOR"},
  };
  TempDir dir;
  for (int version : {2, 3, 4}) {
    for (const Case& c : cases) {
      ID3v2Tag tag;
      WriteFileBytes(dir.file("s.mp3"), Tag(version, Frame(version, TitleID(version), TextBody("x")), 10));
      ASSERT_EQ(OpenAndRead(dir.file("s.mp3"), tag), kTagDone);
      const char* want = version == 2 ? c.v22 : version == 3 ? c.v23 : c.v24;
      bool set = SetID3v2Text(tag, c.given, "v", 3, false);
      EXPECT_EQ(set, *want != '\0') << c.given << " v" << version;
      if (set) {
        EXPECT_EQ(tag.Frames.back().FrameID == want || tag.Frames[0].FrameID == want, true)
            << c.given << " v" << version;
        EXPECT_EQ(GetID3v2Text(want, tag, false), "v");
      } else {
        EXPECT_EQ(tag.Frames.size(), 1u) << "unchanged: " << c.given;
        EXPECT_EQ(tag.FrameCount, 1);
      }
    }
  }
}

TEST(ID3v2Set, BodiesPerEncodingAndVersion) {
  struct Case {
    int version;
    int encoding;
    Bytes body;
  };
  const Case cases[] = {
      {4, 3, {3, 'A', 0xC3, 0xA9, 0}},
      {4, 2, {2, 0, 'A', 0, 0xE9, 0, 0}},
      {4, 1, {1, 0xFF, 0xFE, 'A', 0, 0xE9, 0, 0, 0}},
      {4, 0, {0, 'A', 0xE9, 0}},
      {3, 3, {1, 0xFF, 0xFE, 'A', 0, 0xE9, 0, 0, 0}},
      {3, 2, {1, 0xFF, 0xFE, 'A', 0, 0xE9, 0, 0, 0}},
      {2, 3, {1, 0xFF, 0xFE, 'A', 0, 0xE9, 0, 0, 0}},
      {2, 0, {0, 'A', 0xE9, 0}},
      {4, 9, {1, 0xFF, 0xFE, 'A', 0, 0xE9, 0, 0, 0}},  // unknown: the default
  };
  for (const Case& c : cases) {
    ID3v2Tag tag;
    tag.Version = static_cast<std::uint8_t>(c.version);
    ASSERT_TRUE(SetID3v2Text(tag, "TIT2", "A\xC3\xA9", c.encoding, false));
    ASSERT_EQ(tag.Frames.size(), 1u);
    EXPECT_EQ(tag.Frames[0].Data, c.body) << c.version << "/" << c.encoding;
    EXPECT_EQ(tag.Frames[0].Size, static_cast<std::int32_t>(c.body.size()));
    EXPECT_EQ(GetID3v2Field(tag, kFieldTitle), "A\xC3\xA9") << c.version << "/" << c.encoding;
  }
  // A text that ends in a zero gets no second terminator; an empty text
  // still makes a frame.
  ID3v2Tag tag;
  SetID3v2Text(tag, "TIT2", std::string("x\0", 2), 3, false);
  EXPECT_EQ(tag.Frames[0].Data, (Bytes{3, 'x', 0}));
  SetID3v2Text(tag, "TPE1", "", 1, false);
  EXPECT_EQ(tag.Frames[1].Data, (Bytes{1, 0xFF, 0xFE, 0, 0}));
}

TEST(ID3v2Set, SlotsReplaceAppendAndKeepEncoding) {
  TempDir dir;
  for (int version : {2, 3, 4}) {
    const std::string artist = version == 2 ? "TP1" : "TPE1";
    const std::string album = version == 2 ? "TAL" : "TALB";
    Bytes frames = Cat({Frame(version, artist, TextBody("A"), version == 2 ? 0 : 0x0040),
                        Frame(version, album, TextBody("Alb")), Frame(version, artist, TextBody("B"))});
    WriteFileBytes(dir.file("r.mp3"), Tag(version, frames, 10));
    ID3v2Tag tag;
    ASSERT_EQ(OpenAndRead(dir.file("r.mp3"), tag), kTagDone);
    ASSERT_TRUE(SetID3v2Text(tag, "TPE1", "C", kID3KeepEncoding, false));
    EXPECT_EQ(tag.FrameCount, 2) << version;
    EXPECT_EQ(tag.Frames[0].FrameID, artist);
    EXPECT_EQ(tag.Frames[0].Data, (Bytes{0, 'C', 0})) << "encoding 0 kept";
    EXPECT_EQ(tag.Frames[0].Flags, 0) << "a replaced frame gets flags 0";
    EXPECT_EQ(GetID3v2Field(tag, kFieldArtist), "C");
    ASSERT_TRUE(SetID3v2Text(tag, "TPE1", "D", 3, true));
    EXPECT_EQ(GetID3v2Field(tag, kFieldArtist), "C D");
    EXPECT_EQ(tag.FrameCount, 3);

    EXPECT_TRUE(DeleteID3v2Frame(tag, "TALB", false)) << "2.4 name on v" << version;
    EXPECT_EQ(GetID3v2Field(tag, kFieldAlbum), "");
    EXPECT_FALSE(DeleteID3v2Frame(tag, "TALB", false));
    EXPECT_FALSE(DeleteID3v2Frame(tag, "  ", false));
    EXPECT_EQ(tag.FrameCount, 2);
    EXPECT_TRUE(DeleteID3v2Frame(tag, "", true));
    EXPECT_EQ(tag.FrameCount, 0);
    EXPECT_FALSE(DeleteID3v2Frame(tag, "", true));
  }
}

struct WriterCase {
  const char* name;
  int version;
  Bytes before;        // junk in front of the tag
  std::size_t padding; // of the existing tag; SIZE_MAX = no tag
  std::size_t textLength;
  std::uint8_t flags;
  bool inPlace;
  std::uint32_t newBody;  // expected body size after the write
};

Bytes InitialFile(const WriterCase& c, const Bytes& audio) {
  if (c.padding == SIZE_MAX) return Cat({c.before, audio});
  Bytes frames = Cat({Frame(c.version, TitleID(c.version), TextBody("old")),
                      Frame(c.version, c.version == 2 ? "UFI" : "PRIV", {'o', 'w', 'n', 0, 1, 2})});
  return Cat({c.before, Tag(c.version, frames, c.padding, c.flags), audio});
}

TEST(ID3v2Write, PathsOfTheWriter) {
  const std::size_t noTag = SIZE_MAX;
  const Bytes junk(1000, 0x11);
  std::vector<WriterCase> cases;
  for (int v : {2, 3, 4}) {
    const std::uint32_t frameHeader = v == 2 ? 6 : 10;
    cases.push_back({"in place", v, {}, 4000, 20, 0, true, 0});
    cases.push_back({"in place after junk", v, junk, 4000, 20, 0, true, 0});
    cases.push_back({"grows through a rewrite", v, {}, 10, 3000, 0, false,
                     4096});  // frames ~3030 bytes -> next multiple of 2048
    cases.push_back({"rewrite keeps junk", v, junk, 10, 3000, 0, false, 4096});
    // 2048 bytes of content exactly give 4096: there is always padding.
    cases.push_back({"content of exactly 2048", v, {}, 10,
                     2048 - (frameHeader + 6) - (frameHeader + 1) - 1, 0, false, 4096});
    cases.push_back({"no tag yet", v, {}, noTag, 20, 0, false, 2048});
  }
  cases.push_back({"2.4 footer in place", 4, {}, 4000, 20, 0x10, true, 0});
  cases.push_back({"2.4 footer rewrite", 4, junk, 10, 3000, 0x10, false, 4096});

  const Bytes audio = Audio(5000);
  TempDir dir;
  for (const WriterCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " v" + std::to_string(c.version));
    const std::string f = dir.file("w.mp3");
    const Bytes initial = InitialFile(c, audio);
    WriteFileBytes(f, initial);
    ID3v2Tag tag;
    OpenID3v2(f, tag, c.version);
    ReadID3v2Frames(tag);
    const std::string text(c.textLength, 't');
    ASSERT_TRUE(SetID3v2Text(tag, "TIT2", text, 0, false));
    ASSERT_TRUE(WriteID3v2(tag));
    EXPECT_TRUE(tag.FileHandle.valid());

    const Bytes after = ReadFileBytes(f);
    const std::size_t at = c.before.size();
    EXPECT_EQ(Slice(after, 0, at), c.before);
    EXPECT_EQ(tag.TagOffset, static_cast<Offset64>(at));
    const std::uint32_t body = SynchsafeAt(after, at + 6);
    const bool footer = c.flags & 0x10;
    if (c.inPlace) {
      EXPECT_EQ(after.size(), initial.size());
      EXPECT_EQ(Slice(after, at, 10), Slice(initial, at, 10)) << "header byte for byte";
    } else {
      EXPECT_EQ(body, c.newBody);
      EXPECT_EQ(after[at + 3], c.version);
      EXPECT_EQ(after[at + 5], c.padding == noTag ? 0 : c.flags);
      EXPECT_EQ(GetPathType(f + ".id3tmp"), kPathMissing);
    }
    EXPECT_EQ(tag.TagSize, static_cast<std::int32_t>(body));
    const std::size_t end = at + 10 + body + (footer ? 10 : 0);
    if (footer) {
      Bytes expected = Slice(after, at, 10);
      expected[0] = '3';
      expected[1] = 'D';
      expected[2] = 'I';
      EXPECT_EQ(Slice(after, at + 10 + body, 10), expected) << "footer mirrors the header";
    }
    ASSERT_EQ(after.size(), end + audio.size());
    EXPECT_EQ(Slice(after, end, audio.size()), audio) << "audio untouched";

    ID3v2Tag back;
    ASSERT_EQ(OpenAndRead(f, back), kTagDone);
    EXPECT_EQ(GetID3v2Field(back, kFieldTitle), text);
    if (c.padding != noTag) {
      ASSERT_EQ(back.FrameCount, 2);
      EXPECT_EQ(back.Frames[1].Data, (Bytes{'o', 'w', 'n', 0, 1, 2})) << "other frames kept";
    }
    // Written again without changes: in place, same bytes.
    ASSERT_TRUE(WriteID3v2(back));
    EXPECT_EQ(ReadFileBytes(f), after);
  }
}

TEST(ID3v2Write, EmptyTagIsAllPadding) {
  TempDir dir;
  for (int v : {2, 3, 4}) {
    std::string f = dir.file("e.mp3");
    WriteFileBytes(f, Audio(100));
    ID3v2Tag tag;
    ASSERT_EQ(OpenAndRead(f, tag), kTagNone);
    tag.Version = static_cast<std::uint8_t>(v);
    ASSERT_TRUE(WriteID3v2(tag));
    Bytes after = ReadFileBytes(f);
    ASSERT_EQ(after.size(), 100u + 10 + 2048);
    EXPECT_EQ(Slice(after, 0, 10), Header(v, 0, 2048));
    EXPECT_EQ(Slice(after, 10, 2048), Bytes(2048, 0));
    ID3v2Tag back;
    EXPECT_EQ(OpenAndRead(f, back), kTagDone);
    EXPECT_EQ(back.FrameCount, 0);
  }
}

TEST(ID3v2Write, TwentyByteFrameInAFileWithoutTag) {
  TempDir dir;
  std::string f = dir.file("n.mp3");
  WriteFileBytes(f, Audio(700));
  ID3v2Tag tag;
  ASSERT_EQ(OpenAndRead(f, tag), kTagNone);
  ASSERT_TRUE(SetID3v2Text(tag, "TIT2", std::string(18, 'x'), 3, false));  // 20-byte body
  ASSERT_TRUE(WriteID3v2(tag));
  Bytes after = ReadFileBytes(f);
  EXPECT_EQ(after.size(), 700u + 2058);
  EXPECT_EQ(Slice(after, 0, 10), (Bytes{'I', 'D', '3', 4, 0, 0, 0, 0, 0x10, 0}));
  EXPECT_EQ(Slice(after, 10, 10), (Bytes{'T', 'I', 'T', '2', 0, 0, 0, 20, 0, 0}));
  EXPECT_EQ(Slice(after, 40, 2018), Bytes(2018, 0));
}

TEST(ID3v2Write, FlagsOfUntouchedFramesAreKept) {
  TempDir dir;
  struct Case {
    int version;
    std::uint16_t flags;
  };
  for (Case c : {Case{3, 0x0040}, Case{3, 0x8000}, Case{3, 0x00E0}, Case{4, 0x0100},
                 Case{4, 0x0820}}) {
    for (bool grow : {false, true}) {
      Bytes body = {0, 0, 0, 9, 'x', 0x9C, 1, 2, 3};
      Bytes frames = Frame(c.version, "TSSE", body, c.flags);
      WriteFileBytes(dir.file("k.mp3"), Cat({Tag(c.version, frames, 3000), Audio()}));
      ID3v2Tag tag;
      ASSERT_EQ(OpenAndRead(dir.file("k.mp3"), tag), kTagDone);
      SetID3v2Text(tag, "TIT2", grow ? std::string(5000, 'g') : "new", 3, false);
      ASSERT_TRUE(WriteID3v2(tag));
      Bytes after = ReadFileBytes(dir.file("k.mp3"));
      EXPECT_EQ(Slice(after, 10, 10 + body.size()), frames) << c.version << " " << c.flags;
      EXPECT_EQ(after[10 + frames.size() + 8], 0) << "the set frame has flags 0";
      EXPECT_EQ(after[10 + frames.size() + 9], 0);
    }
  }
}

TEST(ID3v2Write, UnsynchronisationIsUndoneAndCleared) {
  // A JPEG-like picture full of FF bytes that unsynchronisation would alter.
  const Bytes image = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0xD9};
  TempDir dir;
  struct Case {
    int version;
    std::uint8_t flags;
    std::size_t padding;
  };
  for (Case c : {Case{3, 0x80, 3000}, Case{3, 0x80, 10}, Case{2, 0x80, 3000}, Case{4, 0x90, 3000},
                 Case{4, 0x90, 10}}) {
    SCOPED_TRACE(std::to_string(c.version) + (c.padding > 100 ? " in place" : " rewrite"));
    const std::string id = TitleID(c.version);
    const Bytes plain = {1, 0xFF, 0xFE, 0x41, 0, 0, 0};  // "A" behind a mark
    Bytes frame = c.version == 4 ? Frame(4, id, Unsynchronise(plain))
                                 : Unsynchronise(Frame(c.version, id, plain));
    WriteFileBytes(dir.file("u.mp3"), Cat({Tag(c.version, frame, c.padding, c.flags), Audio()}));
    WriteFileBytes(dir.file("cover.jpg"), image);
    ID3v2Tag tag;
    ASSERT_EQ(OpenAndRead(dir.file("u.mp3"), tag), kTagDone);
    EXPECT_EQ(GetID3v2Field(tag, kFieldTitle), "A");
    ASSERT_TRUE(SetID3v2Picture(tag, "", dir.file("cover.jpg"), 0, false));
    ASSERT_TRUE(WriteID3v2(tag));
    Bytes after = ReadFileBytes(dir.file("u.mp3"));
    EXPECT_EQ(after[5] & 0x80, 0) << "the header no longer claims unsynchronisation";
    if (c.flags & 0x10) {
      std::uint32_t body = SynchsafeAt(after, 6);
      EXPECT_EQ(after[10 + body + 5], after[5]) << "footer flags follow";
    }
    ID3v2Tag back;
    ASSERT_EQ(OpenAndRead(dir.file("u.mp3"), back), kTagDone);
    EXPECT_FALSE(back.Unsynchronisation);
    EXPECT_EQ(GetID3v2Field(back, kFieldTitle), "A");
    ASSERT_EQ(back.FrameCount, 2);
    ID3v2Picture pic;
    ASSERT_TRUE(DecodeID3v2Picture(back, back.Frames[1], pic));
    EXPECT_EQ(Bytes(pic.Image, pic.Image + pic.ImageSize), image);
  }
}

TEST(ID3v2Write, NeverWritesOverBytesThatAreNotATag) {
  TempDir dir;
  const Bytes audio = Audio(4000);
  struct Case {
    const char* name;
    Bytes block;  // what sits where a tag was expected
  };
  // A size that claims 20000 bytes in a shorter file, and an unknown version.
  const Case cases[] = {
      {"body past the end", Cat({Header(3, 0, 20000), Frame(3, "TIT2", TextBody("x"))})},
      {"unknown version", Cat({{'I', 'D', '3', 7, 0, 0}, Synchsafe(100), Bytes(100, 0x33)})},
      {"cut header", {'I', 'D', '3', 3}},
  };
  for (const Case& c : cases) {
    for (bool junkFirst : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (junkFirst ? " after junk" : ""));
      Bytes junk = junkFirst ? Bytes(500, 0x11) : Bytes{};
      Bytes tail = c.block.size() < 10 ? Bytes{} : audio;  // a cut header ends the file
      Bytes initial = Cat({junk, c.block, tail});
      WriteFileBytes(dir.file("b.mp3"), initial);
      ID3v2Tag tag;
      int r = OpenAndRead(dir.file("b.mp3"), tag);
      EXPECT_NE(r, kTagFailed);
      EXPECT_FALSE(RemoveID3v2(tag)) << "nothing we can vouch for is cut out";
      EXPECT_EQ(ReadFileBytes(dir.file("b.mp3")), initial);
      ASSERT_TRUE(SetID3v2Text(tag, "TIT2", "New", 3, false));
      ASSERT_TRUE(WriteID3v2(tag));
      Bytes after = ReadFileBytes(dir.file("b.mp3"));
      // junk, new tag, then every byte of the old block and what followed.
      ASSERT_EQ(after.size(), initial.size() + 10 + tag.TagSize);
      EXPECT_EQ(Slice(after, 0, junk.size()), junk);
      EXPECT_EQ(Slice(after, junk.size() + 10 + tag.TagSize, initial.size() - junk.size()),
                Slice(initial, junk.size(), initial.size() - junk.size()));
      ID3v2Tag back;
      ASSERT_EQ(OpenAndRead(dir.file("b.mp3"), back), kTagDone);
      EXPECT_EQ(back.TagOffset, static_cast<Offset64>(junk.size()));
      EXPECT_EQ(GetID3v2Field(back, kFieldTitle), "New");
    }
  }
}

TEST(ID3v2Write, RefusesWhatTheFormatCannotHold) {
  TempDir dir;
  WriteFileBytes(dir.file("big.mp3"), Cat({Tag(2, Frame(2, "TT2", TextBody("x")), 100), Audio()}));
  const Bytes before = ReadFileBytes(dir.file("big.mp3"));
  ID3v2Tag tag;
  ASSERT_EQ(OpenAndRead(dir.file("big.mp3"), tag), kTagDone);
  // A 2.2 frame size has three bytes.
  ID3v2Frame huge;
  huge.FrameID = "PIC";
  huge.Size = 0x1000000;
  huge.Data.assign(0x1000000, 0);
  tag.Frames.push_back(std::move(huge));
  tag.FrameCount = 2;
  EXPECT_FALSE(WriteID3v2(tag));
  EXPECT_EQ(ReadFileBytes(dir.file("big.mp3")), before);
}

TEST(ID3v2Remove, TagsOfEveryVersion) {
  TempDir dir;
  const Bytes audio = Audio(3000);
  for (int v : {2, 3, 4}) {
    for (std::uint8_t flags : {std::uint8_t{0}, std::uint8_t{0x10}, std::uint8_t{0x40}}) {
      if (v != 4 && flags == 0x10) continue;
      for (bool junkFirst : {false, true}) {
        SCOPED_TRACE("v" + std::to_string(v) + " flags " + std::to_string(flags));
        Bytes junk = junkFirst ? Bytes(700, 0x11) : Bytes{};
        Bytes ext = flags == 0x40 && v != 2 ? (v == 3 ? Bytes{0, 0, 0, 6, 0, 0, 0, 0, 0, 0}
                                                     : Bytes{0, 0, 0, 6, 1, 0})
                                           : Bytes{};
        Bytes tagBytes = Tag(v, Cat({ext, Frame(v, TitleID(v), TextBody("t"))}), 50, flags);
        WriteFileBytes(dir.file("r.mp3"), Cat({junk, tagBytes, audio}));
        ID3v2Tag tag;
        ASSERT_EQ(OpenAndRead(dir.file("r.mp3"), tag), kTagDone);
        ASSERT_TRUE(RemoveID3v2(tag));
        EXPECT_EQ(ReadFileBytes(dir.file("r.mp3")), Cat({junk, audio}));
        EXPECT_EQ(tag.TagOffset, -1);
        EXPECT_EQ(tag.FrameCount, 0);
        EXPECT_FALSE(tag.ExtendedHeader || tag.Footer);
        EXPECT_TRUE(tag.FileHandle.valid());
        EXPECT_FALSE(RemoveID3v2(tag)) << "no tag left";
        // The same record writes a clean new tag afterwards.
        SetID3v2Text(tag, "TIT2", "again", 3, false);
        ASSERT_TRUE(WriteID3v2(tag));
        Bytes after = ReadFileBytes(dir.file("r.mp3"));
        EXPECT_EQ(after[junk.size() + 5], 0);
        ID3v2Tag back;
        ASSERT_EQ(OpenAndRead(dir.file("r.mp3"), back), kTagDone);
        EXPECT_EQ(GetID3v2Field(back, kFieldTitle), "again");
      }
    }
  }
}

TEST(ID3v2Rewrite, ReplacesTheFileInOneStepAndKeepsItsMode) {
  TempDir dir;
  std::string f = dir.file("m.mp3");
  WriteFileBytes(f, Cat({Tag(3, Frame(3, "TIT2", TextBody("x")), 10), Audio()}));
  ::chmod(f.c_str(), 0640);
  WriteFileBytes(f + ".id3tmp", Bytes(50, 0x77));  // a leftover of an old failure
  struct stat before {};
  ::stat(f.c_str(), &before);
  ID3v2Tag tag;
  ASSERT_EQ(OpenAndRead(f, tag), kTagDone);
  SetID3v2Text(tag, "TIT2", std::string(3000, 'y'), 3, false);
  ASSERT_TRUE(WriteID3v2(tag));
  struct stat after {};
  ::stat(f.c_str(), &after);
  EXPECT_NE(after.st_ino, before.st_ino) << "a new file took the name";
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(GetPathType(f + ".id3tmp"), kPathMissing);
  // The record's handle follows the new file.
  struct stat handle {};
  ::fstat(tag.FileHandle.get(), &handle);
  EXPECT_EQ(handle.st_ino, after.st_ino);
}

TEST(ID3v2Rewrite, FallsBackToATemporaryFolder) {
  TempDir dir;
  std::string tmp = dir.file("tmp");
  ::mkdir(tmp.c_str(), 0700);
  std::string f = dir.file("q.mp3");
  WriteFileBytes(f, Cat({Tag(4, Frame(4, "TIT2", TextBody("x")), 10), Audio()}));
  ::mkdir((f + ".id3tmp").c_str(), 0700);  // the usual name cannot be created
  const char* old = std::getenv("TMPDIR");
  std::string saved = old ? old : "";
  ::setenv("TMPDIR", tmp.c_str(), 1);
  ID3v2Tag tag;
  ASSERT_EQ(OpenAndRead(f, tag), kTagDone);
  SetID3v2Text(tag, "TIT2", std::string(3000, 'z'), 3, false);
  bool written = WriteID3v2(tag);
  if (old) ::setenv("TMPDIR", saved.c_str(), 1); else ::unsetenv("TMPDIR");
  ASSERT_TRUE(written);
  std::vector<FolderEntry> left;
  EXPECT_EQ(ListFolder(tmp + "/", left), 0);
  ID3v2Tag back;
  ASSERT_EQ(OpenAndRead(f, back), kTagDone);
  EXPECT_EQ(GetID3v2Field(back, kFieldTitle), std::string(3000, 'z'));
}

TEST(ID3v2Rewrite, AFailedCopyLeavesTheFileAndTheTemporaryFile) {
  TempDir dir;
  std::string f = dir.file("full.mp3");
  WriteFileBytes(f, Cat({Tag(3, Frame(3, "TIT2", TextBody("x")), 10), Audio(20000)}));
  const Bytes before = ReadFileBytes(f);
  // A file size limit stands in for a full disk: the temporary file cannot
  // grow past 8 KiB.
  EXPECT_TRUE(RunInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{8192, 8192};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ID3v2Tag tag;
    if (OpenAndRead(f, tag) != kTagDone) return false;
    SetID3v2Text(tag, "TIT2", std::string(3000, 'y'), 3, false);
    if (WriteID3v2(tag)) return false;
    if (RemoveID3v2(tag)) return false;
    // The record still reads the untouched file.
    return tag.FileHandle.valid() && ReadID3v2Frames(tag);
  }));
  EXPECT_EQ(ReadFileBytes(f), before);
  EXPECT_EQ(GetPathType(f + ".id3tmp"), kPathFile) << "left for the next write to replace";
}

// A file of the user's with the read-only attribute: listing it changes
// nothing, writing it gives it the owner's write bit as the attribute step
// always did. Run as an ordinary user: root writes read-only files anyway.
TEST(ID3v2Write, AReadOnlyFileBecomesWritableOnlyWhenWritten) {
  TempDir dir;
  OpenToEveryone(dir.path());
  EXPECT_TRUE(RunUnprivileged([&] {
    std::string f = dir.file("ro.mp3");
    WriteFileBytes(f, Audio(300));
    ::chmod(f.c_str(), 0444);
    struct stat st {};
    ID3v2Tag tag;
    if (OpenAndRead(f, tag) != kTagNone || !tag.ReadOnly) return false;
    if (::stat(f.c_str(), &st) != 0 || (st.st_mode & 0777) != 0444) return false;
    SetID3v2Text(tag, "TIT2", "w", 3, false);
    if (!WriteID3v2(tag)) return false;
    CloseID3v2(tag);
    ID3v2Tag back;
    if (OpenAndRead(f, back) != kTagDone || GetID3v2Field(back, kFieldTitle) != "w") return false;
    return ::stat(f.c_str(), &st) == 0 && (st.st_mode & S_IWUSR);
  }));
}

TEST(ID3v2Write, BigEndianHelpers) {
  struct Case {
    std::int32_t value;
    bool synchsafe;
    Bytes bytes;
  };
  const Case cases[] = {{257, true, {0, 0, 2, 1}},
                        {268435455, true, {0x7F, 0x7F, 0x7F, 0x7F}},
                        {0x01020304, false, {1, 2, 3, 4}},
                        {-1, false, {0xFF, 0xFF, 0xFF, 0xFF}}};
  for (const Case& c : cases) {
    Bytes out(4);
    EncodeBigEndian(c.value, out.data(), 0, 3, c.synchsafe);
    EXPECT_EQ(out, c.bytes) << c.value;
    EXPECT_EQ(DecodeBigEndian(c.bytes.data(), 0, 3, c.synchsafe), c.value);
  }
  // At most four bytes take part.
  Bytes six = {9, 0, 0, 0, 1, 9};
  EXPECT_EQ(DecodeBigEndian(six.data(), 1, 5, false), 1);
  EXPECT_EQ(NextBlockMultiple(0, 2048), 2048);
  EXPECT_EQ(NextBlockMultiple(2047, 2048), 2048);
  EXPECT_EQ(NextBlockMultiple(2048, 2048), 4096);
}

}  // namespace
}  // namespace velotag
