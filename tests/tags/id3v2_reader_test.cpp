#include <gtest/gtest.h>
#include <sys/stat.h>

#include "id3v2_builder.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "testutil.h"

namespace velotag {
namespace {

using namespace test;

TEST(ID3v2Open, HeaderResults) {
  struct Case {
    const char* name;
    Bytes file;
    int result;
    Offset64 offset;
    std::int32_t tagSize;
    int version;
  };
  const Bytes audio = Audio(500);
  Bytes junk(1000, 0x11);
  const Case cases[] = {
      {"synchsafe size", Cat({{'I', 'D', '3', 3, 0, 0, 0, 0, 2, 1}, Bytes(300, 0)}), kTagDone, 0,
       257, 3},
      {"top bits ignored", Cat({{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0xFF}, Bytes(200, 0)}),
       kTagDone, 0, 127, 4},
      {"version 5 keeps the new version", Cat({{'I', 'D', '3', 5, 0, 0, 0, 0, 1, 0}}),
       kTagBadHeader, 0, 128, 4},
      {"cut header", {'I', 'D', '3', 3, 0}, kTagBadHeader, 0, 0, 4},
      {"audio before any ID3", Cat({audio, Header(3, 0, 10), Bytes(10, 0)}), kTagNone, -1, 0, 4},
      {"junk then a tag", Cat({junk, Header(2, 0, 20), Bytes(20, 0)}), kTagDone, 1000, 20, 2},
      {"no tag at all", Bytes(9000, 0x22), kTagNone, -1, 0, 4},
      {"empty file", {}, kTagNone, -1, 0, 4},
  };
  TempDir dir;
  for (const Case& c : cases) {
    std::string f = dir.file("h.mp3");
    WriteFileBytes(f, c.file);
    ID3v2Tag tag;
    EXPECT_EQ(OpenID3v2(f, tag, 4), c.result) << c.name;
    EXPECT_EQ(tag.TagOffset, c.offset) << c.name;
    EXPECT_EQ(tag.TagSize, c.tagSize) << c.name;
    EXPECT_EQ(tag.Version, c.version) << c.name;
    EXPECT_TRUE(tag.FileHandle.valid()) << c.name;
  }
}

TEST(ID3v2Open, HeaderFlagsByVersion) {
  struct Case {
    int version;
    std::uint8_t flags;
    bool unsync, compression, extended, experimental, footer;
  };
  const Case cases[] = {
      {2, 0xF0, true, true, false, false, false},
      {3, 0xF0, true, false, true, true, false},
      {4, 0xF0, true, false, true, true, true},
      {4, 0x00, false, false, false, false, false},
  };
  TempDir dir;
  for (const Case& c : cases) {
    std::string f = dir.file("f.mp3");
    WriteFileBytes(f, Cat({Header(c.version, c.flags, 10), Bytes(20, 0)}));
    ID3v2Tag tag;
    ASSERT_EQ(OpenID3v2(f, tag, 4), kTagDone);
    EXPECT_EQ(tag.Unsynchronisation, c.unsync) << c.version;
    EXPECT_EQ(tag.Compression, c.compression) << c.version;
    EXPECT_EQ(tag.ExtendedHeader, c.extended) << c.version;
    EXPECT_EQ(tag.Experimental, c.experimental) << c.version;
    EXPECT_EQ(tag.Footer, c.footer) << c.version;
  }
}

TEST(ID3v2Open, NamesAndMissingFiles) {
  TempDir dir;
  WriteFileBytes(dir.file("a.txt"), Tag(3, {}, 10));
  ID3v2Tag tag;
  EXPECT_EQ(OpenID3v2(dir.file("a.txt"), tag, 4), kTagFailed);
  EXPECT_FALSE(tag.FileHandle.valid());
  EXPECT_EQ(OpenID3v2(dir.file("missing.mp3"), tag, 4), kTagFailed);
  WriteFileBytes(dir.file("UPPER.MP3"), Tag(3, {}, 10));
  EXPECT_EQ(OpenID3v2(dir.file("UPPER.MP3"), tag, 9), kTagDone);
  // An unusable NewVersion falls back to 3 for a file without a tag.
  WriteFileBytes(dir.file("none.mp3"), Bytes(10, 0));
  EXPECT_EQ(OpenID3v2(dir.file("none.mp3"), tag, 9), kTagNone);
  EXPECT_EQ(tag.Version, 3);
}

TEST(ID3v2Scan, PatternsAcrossBlockBoundaries) {
  TempDir dir;
  // "ID3" straddling the first 4096-byte block and the second.
  for (std::size_t at : {4093u, 4094u, 4095u, 8188u}) {
    Bytes file(at, 0x41);
    file = Cat({file, Header(3, 0, 10), Bytes(10, 0)});
    WriteFileBytes(dir.file("s.mp3"), file);
    ID3v2Tag tag;
    EXPECT_EQ(OpenID3v2(dir.file("s.mp3"), tag, 4), kTagDone) << at;
    EXPECT_EQ(tag.TagOffset, static_cast<Offset64>(at)) << at;
  }
  // Implausible sync patterns (bad layer, bad bitrate, bad sample rate) do
  // not stop the search; a plausible one does.
  struct Case {
    Bytes sync;
    bool stops;
  };
  const Case cases[] = {{{0xFF, 0xFB, 0x90, 0x64}, true},
                        {{0xFF, 0xF9, 0x90, 0x64}, false},
                        {{0xFF, 0xFB, 0xF0, 0x64}, false},
                        {{0xFF, 0xFB, 0x9C, 0x64}, false},
                        {{0xFF, 0xEB, 0x90, 0x64}, false},
                        {{0xFF, 0xDB, 0x90, 0x64}, false}};
  for (const Case& c : cases) {
    WriteFileBytes(dir.file("p.mp3"), Cat({Bytes(10, 0), c.sync, Header(3, 0, 0)}));
    ID3v2Tag tag;
    EXPECT_EQ(OpenID3v2(dir.file("p.mp3"), tag, 4), c.stops ? kTagNone : kTagDone)
        << int(c.sync[1]) << " " << int(c.sync[2]);
  }
}

TEST(ID3v2Read, FrameSizesPerVersion) {
  struct Case {
    int version;
    Bytes sizeBytes;
    std::int32_t expected;
  };
  // Synchsafe sizes carry 7 bits per byte: 00 00 01 00 is 128 in 2.4.
  const Case cases[] = {{3, {0, 0, 1, 0}, 256}, {4, {0, 0, 1, 0}, 128}, {4, {0, 0, 2, 0}, 256},
                        {3, {0, 0, 0, 0x80}, 128}, {4, {0, 0, 0, 0x80}, 0}};
  TempDir dir;
  for (const Case& c : cases) {
    Bytes frame = Cat({{'T', 'I', 'T', '2'}, c.sizeBytes, {0, 0}, Bytes(256, 'a')});
    frame[10] = 0;  // encoding
    WriteFileBytes(dir.file("z.mp3"), Cat({Tag(c.version, frame, 100), Audio()}));
    ID3v2Tag tag;
    ASSERT_EQ(OpenAndRead(dir.file("z.mp3"), tag), kTagDone);
    ASSERT_GE(tag.Frames.size(), 1u);
    EXPECT_EQ(tag.Frames[0].Size, c.expected) << c.version;
    EXPECT_EQ(tag.Frames[0].Data.size(), static_cast<std::size_t>(c.expected));
  }
}

TEST(ID3v2Read, FrameListEndings) {
  struct Case {
    const char* name;
    int version;
    Bytes frames;
    std::size_t padding;
    std::vector<std::string> ids;
  };
  auto t = [](int v, const char* id) { return Frame(v, id, TextBody("x")); };
  Bytes overlong = Cat({{'T', 'A', 'L', 'B'}, Plain(500), {0, 0}, TextBody("y")});
  const Case cases[] = {
      {"padding ends the list", 3, Cat({t(3, "TIT2"), t(3, "TPE1")}), 50, {"TIT2", "TPE1"}},
      {"no padding", 4, Cat({t(4, "TIT2"), t(4, "TPE1")}), 0, {"TIT2", "TPE1"}},
      {"2.2 frames", 2, Cat({t(2, "TT2"), t(2, "TP1")}), 30, {"TT2", "TP1"}},
      {"tail shorter than a header", 3, Cat({t(3, "TIT2"), {'T', 'P', 'E'}}), 0, {"TIT2"}},
      // The overlong frame is dropped; what follows its header is read on.
      {"frame past the body", 3, Cat({t(3, "TIT2"), overlong}), 0, {"TIT2"}},
      {"zero-size frame kept", 3, Cat({Frame(3, "TCOP", {}), t(3, "TIT2")}), 10,
       {"TCOP", "TIT2"}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    WriteFileBytes(dir.file("e.mp3"), Cat({Tag(c.version, c.frames, c.padding), Audio()}));
    ID3v2Tag tag;
    ASSERT_EQ(OpenAndRead(dir.file("e.mp3"), tag), kTagDone) << c.name;
    std::vector<std::string> ids;
    for (const ID3v2Frame& f : tag.Frames) ids.push_back(f.FrameID);
    EXPECT_EQ(ids, c.ids) << c.name;
    EXPECT_EQ(tag.FrameCount, static_cast<std::int32_t>(c.ids.size())) << c.name;
  }
}

TEST(ID3v2Read, TextDecoding) {
  struct Case {
    const char* name;
    Bytes body;
    std::string text;
  };
  const Case cases[] = {
      {"latin-1", {0, 'C', 'a', 'f', 0xE9, 0}, "Caf\xC3\xA9"},
      {"utf-8 first value", {3, 'A', 0, 'B'}, "A"},
      {"utf-16 with mark", {1, 0xFF, 0xFE, 'H', 0, 'i', 0, 0, 0}, "Hi"},
      {"utf-16 big-endian mark", {1, 0xFE, 0xFF, 0, 'H', 0, 'i'}, "Hi"},
      {"utf-16 without mark is little-endian", {1, 'H', 0, 'i', 0}, "Hi"},
      {"utf-16BE", {2, 0, 'H', 0, 'i', 0, 0}, "Hi"},
      {"utf-16BE with a little-endian mark", {2, 0xFF, 0xFE, 'H', 0, 'i', 0}, "Hi"},
      {"unknown encoding as latin-1", {7, 'o', 'k'}, "ok"},
      {"just the encoding byte", {3}, ""},
  };
  TempDir dir;
  for (int version : {2, 3, 4}) {
    for (const Case& c : cases) {
      std::string id = version == 2 ? "TT2" : "TIT2";
      WriteFileBytes(dir.file("t.mp3"), Tag(version, Frame(version, id, c.body), 20));
      ID3v2Tag tag;
      ASSERT_EQ(OpenAndRead(dir.file("t.mp3"), tag), kTagDone);
      EXPECT_EQ(GetID3v2Text(id, tag, false), c.text) << c.name << " v" << version;
      EXPECT_EQ(GetID3v2Field(tag, kFieldTitle), c.text) << c.name << " v" << version;
    }
  }
}

TEST(ID3v2Read, JoinsRepeatedFramesAndMapsFields) {
  struct FieldCase {
    int index;
    const char* v22;
    const char* v23;
    const char* v24;
  };
  const FieldCase fields[] = {
      {kFieldAlbum, "TAL", "TALB", "TALB"},     {kFieldArtist, "TP1", "TPE1", "TPE1"},
      {kFieldBand, "TP2", "TPE2", "TPE2"},      {kFieldBpm, "TBP", "TBPM", "TBPM"},
      {kFieldComposer, "TCM", "TCOM", "TCOM"},  {kFieldGenre, "TCO", "TCON", "TCON"},
      {kFieldCopyright, "TCR", "TCOP", "TCOP"}, {kFieldPartOfSet, "TPA", "TPOS", "TPOS"},
      {kFieldEncodedBy, "TEN", "TENC", "TENC"}, {kFieldOrigArtist, "TOA", "TOPE", "TOPE"},
      {kFieldPublisher, "TPB", "TPUB", "TPUB"}, {kFieldTitle, "TT2", "TIT2", "TIT2"},
      {kFieldTrack, "TRK", "TRCK", "TRCK"},     {kFieldYear, "TYE", "TYER", "TDRC"},
  };
  TempDir dir;
  for (int version : {2, 3, 4}) {
    for (const FieldCase& fc : fields) {
      const char* id = version == 2 ? fc.v22 : version == 3 ? fc.v23 : fc.v24;
      Bytes frames = Cat({Frame(version, id, TextBody("A\r\nB")), Frame(version, id, TextBody("C  ")),
                          Frame(version, id, {0})});
      WriteFileBytes(dir.file("j.mp3"), Tag(version, frames, 10));
      ID3v2Tag tag;
      ASSERT_EQ(OpenAndRead(dir.file("j.mp3"), tag), kTagDone);
      EXPECT_EQ(GetID3v2Text(id, tag, false), "A\r\nB C") << id;
      EXPECT_EQ(GetID3v2Text(id, tag, true), "A\r\nB") << id;
      EXPECT_EQ(GetID3v2Field(tag, fc.index), "A B C") << id << " v" << version;
    }
    ID3v2Tag tag;
    OpenAndRead(dir.file("j.mp3"), tag);
    EXPECT_EQ(GetID3v2Field(tag, 16), "");
    EXPECT_EQ(GetID3v2Field(tag, -1), "");
  }
}

TEST(ID3v2Read, UserTextIdsAreNotTextFrames) {
  TempDir dir;
  Bytes txxx = Frame(3, "TXXX", {0, 'd', 0, 'v', 0});
  WriteFileBytes(dir.file("x.mp3"), Tag(3, txxx, 10));
  ID3v2Tag tag;
  OpenAndRead(dir.file("x.mp3"), tag);
  EXPECT_EQ(GetID3v2Text("TXXX", tag, false), "");
  EXPECT_EQ(GetID3v2Text("txx", tag, false), "");
  std::vector<ID3v2UserField> items;
  ASSERT_EQ(GetID3v2UserTexts(tag, items, false), 1);
  EXPECT_EQ(items[0].Description, "d");
  EXPECT_EQ(items[0].Value, "v");
}

TEST(ID3v2Read, Unsynchronisation) {
  // UTF-16 "ÿ" is FF 00: unsynchronised it becomes FF 00 00 on disk.
  const Bytes plainBody = {1, 0xFF, 0xFE, 0xFF, 0x00, 'a', 0, 0, 0};
  const Bytes unsyncBody = Unsynchronise(plainBody);
  ASSERT_EQ(unsyncBody, (Bytes{1, 0xFF, 0x00, 0xFE, 0xFF, 0x00, 0x00, 'a', 0, 0, 0}));
  TempDir dir;
  struct Case {
    const char* name;
    Bytes file;
  };
  const Case cases[] = {
      // 2.2 and 2.3 unsynchronise whole frames, headers and all.
      {"2.3 whole tag", Tag(3, Unsynchronise(Frame(3, "TIT2", plainBody)), 20, 0x80)},
      {"2.2 whole tag", Tag(2, Unsynchronise(Frame(2, "TT2", plainBody)), 20, 0x80)},
      {"2.4 frame flag", Tag(4, Frame(4, "TIT2", unsyncBody, 0x0200), 20)},
      {"2.4 header flag", Tag(4, Frame(4, "TIT2", unsyncBody), 20, 0x80)},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir.file("u.mp3"), c.file);
    ID3v2Tag tag;
    ASSERT_EQ(OpenAndRead(dir.file("u.mp3"), tag), kTagDone) << c.name;
    ASSERT_EQ(tag.FrameCount, 1) << c.name;
    EXPECT_EQ(tag.Frames[0].Data, plainBody) << c.name;
    EXPECT_EQ(tag.Frames[0].Size, static_cast<std::int32_t>(plainBody.size())) << c.name;
    EXPECT_EQ(tag.Frames[0].Flags & 0x0200, 0) << c.name;
    EXPECT_EQ(GetID3v2Field(tag, kFieldTitle), "\xC3\xBF" "a") << c.name;
  }
}

TEST(ID3v2Read, ExtendedHeaders) {
  struct Case {
    const char* name;
    int version;
    Bytes ext;
    std::int32_t extSize;
    bool flagKept;
  };
  const Case cases[] = {
      {"2.3, size excludes itself", 3, {0, 0, 0, 6, 0, 0, 0, 0, 0, 0}, 10, true},
      {"2.4, size includes itself", 4, {0, 0, 0, 6, 1, 0}, 6, true},
      // A flag not backed by a header: frames start right away.
      {"frame where the header should be", 4, {}, 0, false},
      {"size beyond the body", 3, {0x7F, 0, 0, 0}, 0, false},
  };
  TempDir dir;
  for (const Case& c : cases) {
    Bytes frames = Frame(c.version, "TIT2", TextBody("T"));
    Bytes body = Cat({c.ext, frames, Bytes(20, 0)});
    WriteFileBytes(dir.file("x.mp3"),
                   Cat({Header(c.version, 0x40, static_cast<std::uint32_t>(body.size())), body}));
    ID3v2Tag tag;
    ASSERT_EQ(OpenAndRead(dir.file("x.mp3"), tag), kTagDone) << c.name;
    EXPECT_EQ(tag.ExtHeaderSize, c.extSize) << c.name;
    EXPECT_EQ(tag.ExtHeader.size(), static_cast<std::size_t>(c.extSize)) << c.name;
    EXPECT_EQ(tag.ExtendedHeader, c.flagKept) << c.name;
    EXPECT_EQ(GetID3v2Field(tag, kFieldTitle), c.flagKept || c.ext.empty() ? "T" : "") << c.name;
  }
}

TEST(ID3v2Read, SizesFromTheFileAreCheckedAgainstIt) {
  TempDir dir;
  struct Case {
    const char* name;
    Bytes file;
  };
  const Case cases[] = {
      // 256 MB declared, a few bytes present: nothing is read or allocated.
      {"huge tag size", Cat({Header(3, 0, 0x0FFFFFFF), Frame(3, "TIT2", TextBody("x"))})},
      {"body cut short", Cat({Header(4, 0, 100), Frame(4, "TIT2", TextBody("x"))})},
      {"unknown version", Cat({{'I', 'D', '3', 9, 0, 0}, Synchsafe(30), Frame(4, "TIT2", TextBody("x")), Bytes(30, 0)})},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir.file("c.mp3"), c.file);
    ID3v2Tag tag;
    OpenID3v2(dir.file("c.mp3"), tag, 4);
    EXPECT_FALSE(ReadID3v2Frames(tag)) << c.name;
    EXPECT_EQ(tag.FrameCount, 0) << c.name;
    EXPECT_TRUE(tag.Frames.empty()) << c.name;
  }
  // Frame sizes with the top bit set (negative in 2.3) carry no data.
  Bytes neg = Cat({{'T', 'I', 'T', '2'}, {0xFF, 0xFF, 0xFF, 0xF0}, {0, 0}, TextBody("x")});
  WriteFileBytes(dir.file("n.mp3"), Tag(3, neg, 10));
  ID3v2Tag tag;
  EXPECT_EQ(OpenAndRead(dir.file("n.mp3"), tag), kTagDone);
  ASSERT_FALSE(tag.Frames.empty());
  EXPECT_LT(tag.Frames[0].Size, 0);
  EXPECT_TRUE(tag.Frames[0].Data.empty());
}

TEST(ID3v2Read, CompressedOrEncryptedBodiesAreNotDecodedAsText) {
  TempDir dir;
  struct Case {
    int version;
    std::uint16_t flags;
    std::string expected;
  };
  // Group byte and data length indicator are stepped over; compressed and
  // encrypted bodies cannot be read without their keys.
  const Case cases[] = {
      {3, 0x8000, ""},  {3, 0x4000, ""},  {3, 0x2000, "ok"}, {3, 0x0040, "Gok"},
      {4, 0x0800, ""},  {4, 0x0400, ""},  {4, 0x4000, "ok"}, {4, 0x0100, "ok"},
  };
  for (const Case& c : cases) {
    Bytes body = TextBody("ok");
    if (c.version == 3 && (c.flags & 0x2000)) body.insert(body.begin(), 0x42);
    if (c.version == 3 && c.flags == 0x0040) body = TextBody("Gok");
    if (c.version == 4 && (c.flags & 0x4000)) body.insert(body.begin(), 0x42);
    if (c.version == 4 && (c.flags & 0x0100)) body.insert(body.begin(), {0, 0, 0, 4});
    WriteFileBytes(dir.file("g.mp3"), Tag(c.version, Frame(c.version, "TIT2", body, c.flags), 10));
    ID3v2Tag tag;
    ASSERT_EQ(OpenAndRead(dir.file("g.mp3"), tag), kTagDone);
    EXPECT_EQ(GetID3v2Field(tag, kFieldTitle), c.expected) << c.version << " " << c.flags;
    EXPECT_EQ(tag.Frames[0].Flags, c.flags);
  }
}

TEST(ID3v2Open, FallsBackToReadingWhenTheFileCannotBeWritten) {
  TempDir dir;
  test::OpenToEveryone(dir.path());
  std::string f = dir.file("ro.mp3");
  WriteFileBytes(f, Cat({Tag(3, Frame(3, "TIT2", TextBody("Locked")), 100), Audio()}));
  ::chmod(f.c_str(), 0444);  // owned by root: nobody can read but not write
  const Bytes before = ReadFileBytes(f);
  EXPECT_TRUE(RunUnprivileged([&] {
    ID3v2Tag tag;
    if (OpenID3v2(f, tag, 4) != kTagDone || !tag.ReadOnly) return false;
    if (!ReadID3v2Frames(tag) || GetID3v2Field(tag, kFieldTitle) != "Locked") return false;
    SetID3v2Text(tag, "TIT2", "Changed");
    return !WriteID3v2(tag) && !RemoveID3v2(tag);
  }));
  EXPECT_EQ(ReadFileBytes(f), before);
}

}  // namespace
}  // namespace velotag
