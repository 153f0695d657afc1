// Finding, parsing and reading ID3v2 tags of every version, and the frames
// of several fields: comments, user links and texts, pictures.
#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "id3v2_builder.h"
#include "support/paths.h"
#include "tags/id3v2_frames.h"

namespace velotag {
namespace {

using namespace test;

// The file as the callers read it: each frame as "ID:Size" (and its flags
// when set), "ext N" for an extended header taken, "unread" when the body
// was refused, and the title as the media list shows it.
std::string ReadBack(const Bytes& file) {
  TempDir dir;
  ID3v2Tag tag;
  WriteFileBytes(dir.file("r.mp3"), file);
  OpenID3v2(dir.file("r.mp3"), tag, 4);
  std::string out = ReadID3v2Frames(tag) ? "" : "unread ";
  for (const ID3v2Frame& f : tag.Frames) {
    out += f.FrameID + ":" + std::to_string(f.Data.size()) + " ";
    if (f.Flags) out += "/" + std::to_string(f.Flags) + " ";
  }
  if (!tag.ExtHeader.empty()) out += "ext " + std::to_string(tag.ExtHeader.size()) + " ";
  return out + "= " + GetID3v2Field(tag, kFieldTitle);
}

TEST(ID3v2Open, HeaderResults) {
  // A tag behind other bytes; "ID3" may straddle 4096-byte blocks. A plausible
  // MPEG frame header among the bytes ends the search; one with a bad layer,
  // bitrate, sample rate or sync does not.
  auto behind = [](const Bytes& bytes) { return Cat({bytes, Header(3, 0, 10), Bytes(10, 0)}); };
  auto sync = [&](std::uint8_t b1, std::uint8_t b2) {
    return behind(Cat({Bytes(10, 0), {0xFF, b1, b2, 0x64}}));
  };
  // Opened asking for version 9 (unusable: 3), which stays where no header is used.
  const std::tuple<const char*, Bytes, int, Offset64, std::int32_t, int> cases[] = {
      {"synchsafe size", {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 1}, kTagDone, 0, 257, 3},
      {"top bits ignored", {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0xFF}, kTagDone, 0, 127, 4},
      {"version 5", Header(5, 0, 128), kTagBadHeader, 0, 128, 3},
      {"cut header", {'I', 'D', '3', 3, 0}, kTagBadHeader, 0, 0, 3},
      {"junk then a tag", Cat({Bytes(1000, 0x11), Header(2, 0, 20)}), kTagDone, 1000, 20, 2},
      {"no tag in three blocks", Bytes(9000, 0x22), kTagNone, -1, 0, 3},
      {"across blocks", behind(Bytes(4093, 0x41)), kTagDone, 4093, 10, 3},
      {"across blocks", behind(Bytes(4094, 0x41)), kTagDone, 4094, 10, 3},
      {"across blocks", behind(Bytes(4095, 0x41)), kTagDone, 4095, 10, 3},
      {"across the second and third", behind(Bytes(8188, 0x41)), kTagDone, 8188, 10, 3},
      {"MPEG header", sync(0xFB, 0x90), kTagNone, -1, 0, 3},
      {"bad layer", sync(0xF9, 0x90), kTagDone, 14, 10, 3},
      {"bad bitrate", sync(0xFB, 0xF0), kTagDone, 14, 10, 3},
      {"bad sample rate", sync(0xFB, 0x9C), kTagDone, 14, 10, 3},
      {"bad sync", sync(0xEB, 0x90), kTagDone, 14, 10, 3},
      {"bad sync", sync(0xDB, 0x90), kTagDone, 14, 10, 3},
  };
  TempDir dir;
  for (const auto& [name, file, result, offset, tagSize, version] : cases) {
    WriteFileBytes(dir.file("h.mp3"), file);
    ID3v2Tag tag;
    EXPECT_EQ(OpenID3v2(dir.file("h.mp3"), tag, 9), result) << name;
    EXPECT_TRUE(tag.FileHandle.valid()) << name;
    EXPECT_EQ(std::tuple(tag.TagOffset, tag.TagSize, int{tag.Version}),
              std::tuple(offset, tagSize, version))
        << name;
  }
  WriteFileBytes(dir.file("a.txt"), Tag(3, {}, 10));
  ID3v2Tag tag;
  EXPECT_EQ(OpenID3v2(dir.file("a.txt"), tag, 4), kTagFailed) << "only .mp3 names";
  EXPECT_FALSE(tag.FileHandle.valid());
  EXPECT_EQ(OpenID3v2(dir.file("missing.mp3"), tag, 4), kTagFailed);
}

TEST(ID3v2Read, FrameListsUnsynchronisationAndExtendedHeaders) {
  auto t = [](int v, const char* id) { return Frame(v, id, TextBody("x")); };
  auto sized = [](Bytes size) { return Cat({ToBytes("TIT2"), size, {0, 0}, Bytes(256, 0)}); };
  auto ext = [](int v, const Bytes& ext) {
    const Bytes body = Cat({ext, Frame(v, "TIT2", TextBody("T")), Bytes(20, 0)});
    return Cat({Header(v, 0x40, static_cast<std::uint32_t>(body.size())), body});
  };
  // UTF-16 "ÿa": its FF 00 becomes FF 00 00 on disk.
  const Bytes plain = {1, 0xFF, 0xFE, 0xFF, 0x00, 'a', 0, 0, 0}, unsync = Unsynchronise(plain),
              ok = TextBody("ok");
  const std::pair<Bytes, const char*> cases[] = {
      {Tag(3, Cat({t(3, "TIT2"), ToBytes("TPE")})), "TIT2:3 = x"},  // a tail shorter than a header
      {Tag(3, Cat({Frame(3, "TCOP", {}), t(3, "TIT2")}), 10), "TCOP:0 TIT2:3 = x"},
      // A frame running past the body is dropped; the frames before it stay.
      {Tag(3, Cat({t(3, "TIT2"), ToBytes("TALB"), BigEndian(500, 4, false), {0, 0, 0, 'y', 0}})),
       "TIT2:3 = x"},
      // ... and so are its bytes, but the walk goes on at the next frame header.
      {Tag(3, Cat({t(3, "TIT2"), ToBytes("APIC"), BigEndian(500, 4, false), {0, 0},
                   TextBody("no frame"), t(3, "ZZZZ")})),
       "TIT2:3 ZZZZ:3 = x"},
      // A 2.4 tag is read with plain sizes (as iTunes wrote them) only when
      // that walk stays in the body: a picture that looks like frames at
      // the plain offset once won (found by fuzzing).
      {Tag(4, Cat({Frame(4, "APIC", Bytes(180, 1)),
                   Frame(4, "PRIV", Cat({Bytes(118, 2), Frame(3, "TRCK", ToBytes("01")),
                                         ToBytes("TALB"), {0xFF, 0xFF, 0xFF, 0xFF, 0, 0}}))}),
           20),
       "APIC:180 PRIV:140 = "},
      // iTunes wrote 2.4 frame sizes as plain integers (laid out as in 2.3):
      // read as synchsafe, a 514-byte picture became 258 bytes and the
      // frames after it garbage, and the next write kept only that.
      {Tag(4, Cat({Frame(3, "TIT2", TextBody("Title")), Frame(3, "APIC", Bytes(514, 0xAB)),
                   Frame(3, "TALB", TextBody("After"))}), 64),
       "TIT2:7 APIC:514 TALB:7 = Title"},
      // Synchsafe sizes carry 7 bits per byte; a negative 2.3 size carries no data.
      {Tag(3, sized({0, 0, 1, 0}), 100), "TIT2:256 = "},
      {Tag(4, sized({0, 0, 1, 0}), 100), "TIT2:128 = "},
      {Tag(3, sized({0, 0, 0, 0x80}), 100), "TIT2:128 = "},
      {Tag(4, sized({0, 0, 0, 0x80}), 100), "TIT2:0 = "},
      {Tag(3, sized({0xFF, 0xFF, 0xFF, 0xF0}), 10), "TIT2:0 = "},
      // 2.2 and 2.3 unsynchronise whole frames, headers and all; 2.4 each body.
      {Tag(3, Unsynchronise(Frame(3, "TIT2", plain)), 20, 0x80), "TIT2:9 = ÿa"},
      {Tag(2, Unsynchronise(Frame(2, "TT2", plain)), 20, 0x80), "TT2:9 = ÿa"},
      {Tag(4, Frame(4, "TIT2", unsync, 0x0200), 20), "TIT2:9 = ÿa"},
      {Tag(4, Frame(4, "TIT2", unsync), 20, 0x80), "TIT2:9 = ÿa"},
      // The size of a 2.3 extended header leaves itself out, that of 2.4 counts it.
      {ext(3, {0, 0, 0, 6, 0, 0, 0, 0, 0, 0}), "TIT2:3 ext 10 = T"},
      {ext(4, {0, 0, 0, 6, 1, 0}), "TIT2:3 ext 6 = T"},
      // A flag with a frame, or a size beyond the body, where the header should be is dropped.
      {ext(4, {}), "TIT2:3 = T"},
      {ext(3, {0x7F, 0, 0, 0}), "= "},
      // A body past the end of the file, an unknown version: nothing read.
      {Cat({Header(4, 0, 5000), t(4, "TIT2")}), "unread = "},
      {Cat({Header(9, 0, 30), t(4, "TIT2"), Bytes(30, 0)}), "unread = "},
      // Group bytes and data length indicators are stepped over; compressed
      // and encrypted bodies cannot be read as text.
      {Tag(3, Frame(3, "TIT2", ok, 0x8000), 10), "TIT2:4 /32768 = "},
      {Tag(3, Frame(3, "TIT2", Cat({{0x42}, ok}), 0x2000), 10), "TIT2:5 /8192 = ok"},
      {Tag(4, Frame(4, "TIT2", ok, 0x0800), 10), "TIT2:4 /2048 = "},
      {Tag(4, Frame(4, "TIT2", Cat({{0x42}, ok}), 0x4000), 10), "TIT2:5 /16384 = ok"},
      {Tag(4, Frame(4, "TIT2", Cat({{0, 0, 0, 4}, ok}), 0x0100), 10), "TIT2:8 /256 = ok"},
      // Texts: the first value only; UTF-16 without a mark is little-endian,
      // a mark overrides big-endian; unknown encodings read as ISO-8859-1.
      {Tag(3, Frame(3, "TIT2", {3, 'A', 0, 'B'})), "TIT2:4 = A"},
      {Tag(3, Frame(3, "TIT2", {1, 'H', 0, 'i', 0})), "TIT2:5 = Hi"},
      {Tag(4, Frame(4, "TIT2", {2, 0xFF, 0xFE, 'H', 0, 'i', 0})), "TIT2:7 = Hi"},
      {Tag(2, Frame(2, "TT2", {7, 'o', 'k'})), "TT2:3 = ok"},
  };
  for (const auto& [file, read] : cases) EXPECT_EQ(ReadBack(Cat({file, Audio()})), read);
}

TEST(ID3v2Read, SizesFromTheFileNeverReadPastIt) {
  // 256 MB declared in a file of 30 bytes: nothing that size is even
  // allocated (the address space is held to 64 MB more than in use).
  const Bytes huge = Cat({Header(3, 0, 0x0FFFFFFF), Frame(4, "TIT2", TextBody("x"))});
#if defined(__SANITIZE_ADDRESS__)  // which needs far more address space than that
  EXPECT_EQ(ReadBack(huge), "unread = ");
#else
  std::ifstream statm("/proc/self/statm");
  rlim_t pages = 0;
  statm >> pages;
  EXPECT_TRUE(InChild(RLIMIT_AS, pages * ::sysconf(_SC_PAGESIZE) + (64 << 20),
                      [&] { return ReadBack(huge) == "unread = "; }));
#endif
}

TEST(ID3v2ListReaders, WellFormedAndMalformedFrames) {
  // What each frame reads as: "description|value", "" for no item.
  const std::tuple<const char*, Bytes, const char*> cases[] = {
      {"COMM", {0, 'e', 'n', 'g', 'N', 'o'}, ""},  // no terminator after the description
      {"COMM", {0, 'e', 'n'}, ""},
      {"COM", {0, 'e', 'n', 'g', 'd', 0, 't', 0}, "d|t"},  // the 2.2 name in a 2.3 tag
      {"COMM", {3, 'e', 'n', 'g', 0, 'a', 0, 'b'}, "|a"},  // the first value
      // A UTF-16 terminator is an aligned pair of zeros.
      {"COMM", {1, 'e', 'n', 'g', 'A', 0, 0, 'B', 0, 0, 'x', 0}, "A\xE4\x88\x80|x"},
      // A URL in the frame's UTF-16 rather than in ISO-8859-1.
      {"WXXX", {1, 0xFF, 0xFE, 'd', 0, 0, 0, 0xFF, 0xFE, 'h', 0, 't', 0, 0, 0}, "d|ht"},
      // In a UTF-8 frame it may be UTF-8; bytes that are not stay ISO-8859-1.
      {"WXXX", {3, 'd', 0, 'h', 0xE9}, "d|h\xC3\xA9"},
  };
  for (const auto& [id, body, read] : cases) {
    ID3v2Tag tag;
    tag.Version = 3;
    tag.Frames.push_back({id, 0, body});
    std::vector<ID3v2Comment> comments;
    std::vector<ID3v2UserField> fields;
    std::string got;
    if (GetID3v2Comments(tag, comments, false) == 1)
      got = comments[0].Description + "|" + comments[0].Text;
    if (GetID3v2UserTexts(tag, fields, false) == 1 || GetID3v2UserURLs(tag, fields, false) == 1)
      got = fields[0].Description + "|" + fields[0].Value;
    EXPECT_EQ(got, read) << id << " " << body.size();
  }
  // The field skips a malformed comment; a list of the first only stops there.
  ID3v2Tag tag;
  tag.Version = 4;
  tag.Frames.push_back({"COMM", 0, {0, 'e', 'n', 'g', 'x'}});
  SetID3v2Comment(tag, "eng", "", "good", 3, true);
  std::vector<ID3v2Comment> items;
  EXPECT_EQ(GetID3v2Comments(tag, items, true), 0);
  EXPECT_EQ(GetID3v2Field(tag, kFieldComment), "good");
}

TEST(ID3v2Extract, NamesStayInTheirFolderAndNeverOverwrite) {
  TempDir dir;
  const std::string mp3 = dir.file("Song.mp3");
  auto pic = [](const std::string& mime, std::uint8_t type, const std::string& desc,
                const Bytes& data) {
    return Frame(3, "APIC", Cat({{0}, ToBytes(mime), {0, type}, ToBytes(desc), {0}, data}));
  };
  const Bytes frames = Cat({pic("image/jpeg", 3, "", {1, 2, 3}), pic("image/png", 17, "x y", {4}),
                            pic("text/plain", 21, "", {5}),
                            pic("image/jpeg", 3, "nothing", {}),  // no image bytes: no file
                            pic("image/jpeg", 3, "../../escape", {6}),
                            pic("image/../../up", 0, "a/b", {7}), pic("image/jpeg", 4, "..", {8}),
                            // a description too long for a file name is cut to fit
                            pic("image/jpeg", 3, std::string(300, 'd'), {9})});
  ID3v2Tag tag;
  ASSERT_EQ(Load(mp3, Cat({Tag(3, frames, 10), Audio()}), tag), kTagDone);
  std::vector<std::string> paths;
  ASSERT_EQ(ExtractID3v2Pictures(tag, "", paths), 7);
  EXPECT_LE(GetFileNamePart(paths[6]).size(), kMaxFileNameBytes - 5);
  EXPECT_EQ(ReadFileBytes(paths[6]), (Bytes{9}));
  const char* names[] = {"Song_(Cover_(front)).jpeg",
                         "Song_x y(fish).png",
                         "Song_(Unknown)",
                         "Song_..-..-escape(Cover_(front)).jpeg",
                         "Song_a-b(Other)...-..-up",
                         "Song_..(Cover_(back)).jpeg"};
  for (std::size_t i = 0; i < std::size(names); ++i) EXPECT_EQ(paths[i], dir.path() + names[i]);
  EXPECT_EQ(ReadFileBytes(paths[0]), (Bytes{1, 2, 3}));
  std::vector<std::string> again;
  ASSERT_EQ(ExtractID3v2Pictures(tag, dir.path(), again), 7);
  EXPECT_EQ(again[0], dir.path() + "Song_(Cover_(front))(001).jpeg");
  EXPECT_EQ(ReadFileBytes(paths[0]), (Bytes{1, 2, 3}));
  EXPECT_EQ(ExtractID3v2Pictures(tag, dir.file("nowhere"), again), 0);
  EXPECT_TRUE(again.empty());
  // A picture frame without a body is no picture; a file that is none is
  // refused and leaves the tag alone; the type goes by the extension.
  ASSERT_EQ(Load(mp3, Cat({Tag(3, Frame(3, "APIC", {}), 10), Audio()}), tag), kTagDone);
  EXPECT_FALSE(HasID3v2Picture(tag));
  WriteFileBytes(dir.file("art.JPG"), {0xFF, 0xD8, 0xFF, 0, 7});
  WriteFileBytes(dir.file("empty.png"), {});
  EXPECT_FALSE(SetID3v2Picture(tag, "", dir.file("missing.png"), 3) ||
               SetID3v2Picture(tag, "", dir.file("empty.png"), 3));
  EXPECT_EQ(tag.Frames.size(), 1u);
  ASSERT_TRUE(SetID3v2Picture(tag, "Front", dir.file("art.JPG"), 3));
  EXPECT_TRUE(HasID3v2Picture(tag));
  EXPECT_EQ(Slice(tag.Frames[0].Data, 1, 10), ToBytes("image/jpeg"));
}

}  // namespace
}  // namespace velotag
