// Finding, parsing and reading ID3v2 tags of every version.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <tuple>

#include "id3v2_builder.h"
#include "tags/id3v2_frames.h"

namespace velotag {
namespace {

using namespace test;

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

// The file as the callers read it: each frame as "ID:Size" (and its flags in
// hex when set), "ext N" for an extended header taken, "unread" when the body
// was refused, and the title as the media list shows it.
std::string ReadBack(const Bytes& file) {
  TempDir dir;
  ID3v2Tag tag;
  WriteFileBytes(dir.file("r.mp3"), file);
  OpenID3v2(dir.file("r.mp3"), tag, 4);
  std::string out = ReadID3v2Frames(tag) ? "" : "unread ";
  for (const ID3v2Frame& f : tag.Frames) {
    out += f.FrameID + ":" + std::to_string(f.Size) + " ";
    if (f.Flags) out += "/" + Hex(f.Flags) + " ";
    EXPECT_EQ(f.Data.size(), static_cast<std::size_t>(std::max(f.Size, 0))) << f.FrameID;
  }
  if (tag.ExtHeaderSize) out += "ext " + std::to_string(tag.ExtHeaderSize) + " ";
  EXPECT_EQ(tag.ExtendedHeader, tag.ExtHeaderSize > 0);
  EXPECT_EQ(tag.FrameCount, static_cast<std::int32_t>(tag.Frames.size()));
  return out + "= " + GetID3v2Field(tag, kFieldTitle);
}

TEST(ID3v2Open, HeaderResults) {
  // Opened asking for version 9 (unusable: 3), which stays where no header is used.
  const std::tuple<const char*, Bytes, int, Offset64, std::int32_t, int, std::string> cases[] = {
      {"synchsafe size", {'I', 'D', '3', 3, 0, 0, 0, 0, 2, 1}, kTagDone, 0, 257, 3, ""},
      {"top bits ignored", {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0xFF}, kTagDone, 0, 127, 4, ""},
      {"2.2 flags", Header(2, 0xF0, 10), kTagDone, 0, 10, 2, "uc"},
      {"2.3 flags", Header(3, 0xF0, 10), kTagDone, 0, 10, 3, "uxe"},
      {"2.4 flags", Header(4, 0xF0, 10), kTagDone, 0, 10, 4, "uxef"},
      {"version 5", Header(5, 0, 128), kTagBadHeader, 0, 128, 3, ""},
      {"cut header", {'I', 'D', '3', 3, 0}, kTagBadHeader, 0, 0, 3, ""},
      {"audio before any ID3", Cat({Audio(500), Header(3, 0, 10)}), kTagNone, -1, 0, 3, ""},
      {"junk then a tag", Cat({Bytes(1000, 0x11), Header(2, 0, 20)}), kTagDone, 1000, 20, 2, ""},
      {"no tag in three blocks", Bytes(9000, 0x22), kTagNone, -1, 0, 3, ""},
      {"empty file", {}, kTagNone, -1, 0, 3, ""},
  };
  TempDir dir;
  for (const auto& [name, file, result, offset, tagSize, version, flags] : cases) {
    WriteFileBytes(dir.file("h.mp3"), file);
    ID3v2Tag tag;
    EXPECT_EQ(OpenID3v2(dir.file("h.mp3"), tag, 9), result) << name;
    EXPECT_TRUE(tag.FileHandle.valid()) << name;
    EXPECT_EQ(std::tuple(tag.TagOffset, tag.TagSize, int{tag.Version}),
              std::tuple(offset, tagSize, version))
        << name;
    EXPECT_EQ(std::string(tag.Unsynchronisation ? "u" : "") + (tag.Compression ? "c" : "") +
                  (tag.ExtendedHeader ? "x" : "") + (tag.Experimental ? "e" : "") +
                  (tag.Footer ? "f" : ""),
              flags)
        << name;
  }
  WriteFileBytes(dir.file("a.txt"), Tag(3, {}, 10));
  ID3v2Tag tag;
  EXPECT_EQ(OpenID3v2(dir.file("a.txt"), tag, 4), kTagFailed) << "only .mp3 names";
  EXPECT_FALSE(tag.FileHandle.valid());
  EXPECT_EQ(OpenID3v2(dir.file("missing.mp3"), tag, 4), kTagFailed);
}

TEST(ID3v2Open, ScanStopsAtAudioAndCrossesBlocks) {
  TempDir dir;
  ID3v2Tag tag;
  // "ID3" straddling the first 4096-byte block and the second.
  for (std::size_t at : {4093, 4094, 4095, 8188}) {
    Load(dir.file("s.mp3"), Cat({Bytes(at, 0x41), Header(3, 0, 10), Bytes(10, 0)}), tag);
    EXPECT_EQ(tag.TagOffset, static_cast<Offset64>(at)) << at;
  }
  // A plausible MPEG frame header ends the search; a bad layer, bitrate,
  // sample rate or sync does not.
  const std::pair<Bytes, bool> syncs[] = {
      {{0xFF, 0xFB, 0x90, 0x64}, true},  {{0xFF, 0xF9, 0x90, 0x64}, false},
      {{0xFF, 0xFB, 0xF0, 0x64}, false}, {{0xFF, 0xFB, 0x9C, 0x64}, false},
      {{0xFF, 0xEB, 0x90, 0x64}, false}, {{0xFF, 0xDB, 0x90, 0x64}, false}};
  for (const auto& [sync, stops] : syncs)
    EXPECT_EQ(Load(dir.file("p.mp3"), Cat({Bytes(10, 0), sync, Header(3, 0, 0)}), tag),
              stops ? kTagNone : kTagDone)
        << int(sync[1]) << " " << int(sync[2]);
}

TEST(ID3v2Read, FrameLists) {
  auto t = [](int v, const char* id) { return Frame(v, id, TextBody("x")); };
  auto sized = [](Bytes size) { return Cat({ToBytes("TIT2"), size, {0, 0}, Bytes(256, 0)}); };
  const std::pair<Bytes, const char*> cases[] = {
      {Tag(3, Cat({t(3, "TIT2"), t(3, "TPE1")}), 50), "TIT2:3 TPE1:3 = x"},
      {Tag(4, Cat({t(4, "TIT2"), t(4, "TPE1")})), "TIT2:3 TPE1:3 = x"},
      {Tag(2, Cat({t(2, "TT2"), t(2, "TP1")}), 30), "TT2:3 TP1:3 = x"},
      {Tag(3, Cat({t(3, "TIT2"), ToBytes("TPE")})), "TIT2:3 = x"},  // a tail shorter than a header
      {Tag(3, Cat({Frame(3, "TCOP", {}), t(3, "TIT2")}), 10), "TCOP:0 TIT2:3 = x"},
      // A frame running past the body is dropped; the frames before it stay.
      {Tag(3, Cat({t(3, "TIT2"), ToBytes("TALB"), BigEndian(500, 4, false), {0, 0, 0, 'y', 0}})),
       "TIT2:3 = x"},
      // ... and the walk ends there: its bytes are no frames, even when they look like one.
      {Tag(3, Cat({t(3, "TIT2"), ToBytes("APIC"), BigEndian(500, 4, false), {0, 0},
                   t(3, "ZZZZ")})),
       "TIT2:3 = x"},
      // Synchsafe sizes carry 7 bits per byte; a negative 2.3 size carries no data.
      {Tag(3, sized({0, 0, 1, 0}), 100), "TIT2:256 = "},
      {Tag(4, sized({0, 0, 1, 0}), 100), "TIT2:128 = "},
      {Tag(3, sized({0, 0, 0, 0x80}), 100), "TIT2:128 = "},
      {Tag(4, sized({0, 0, 0, 0x80}), 100), "TIT2:0 = "},
      {Tag(3, sized({0xFF, 0xFF, 0xFF, 0xF0}), 10), "TIT2:-16 = "},
  };
  for (const auto& [file, read] : cases) EXPECT_EQ(ReadBack(Cat({file, Audio()})), read);
}

TEST(ID3v2Read, TextDecoding) {
  const std::pair<Bytes, std::string> cases[] = {
      {{0, 'C', 'a', 'f', 0xE9, 0}, "Caf\xC3\xA9"},
      {{3, 'A', 0, 'B'}, "A"},  // the first value only
      {{1, 0xFF, 0xFE, 'H', 0, 'i', 0, 0, 0}, "Hi"}, {{1, 0xFE, 0xFF, 0, 'H', 0, 'i'}, "Hi"},
      {{1, 'H', 0, 'i', 0}, "Hi"},  // no mark: little-endian
      {{2, 0, 'H', 0, 'i', 0, 0}, "Hi"},
      {{2, 0xFF, 0xFE, 'H', 0, 'i', 0}, "Hi"},  // a mark overrides big-endian
      {{7, 'o', 'k'}, "ok"},                    // unknown encodings as ISO-8859-1
      {{3}, ""}};
  for (int v : {2, 3, 4}) {
    for (const auto& [body, text] : cases) {
      const std::string id = v == 2 ? "TT2" : "TIT2";
      EXPECT_EQ(ReadBack(Tag(v, Frame(v, id, body), 20)),
                id + ":" + std::to_string(body.size()) + " = " + text);
    }
  }
}

TEST(ID3v2Read, UnsynchronisationIsUndone) {
  // UTF-16 "ÿa": its FF 00 becomes FF 00 00 on disk.
  const Bytes plain = {1, 0xFF, 0xFE, 0xFF, 0x00, 'a', 0, 0, 0};
  const Bytes unsync = Unsynchronise(plain);
  ASSERT_EQ(unsync, (Bytes{1, 0xFF, 0x00, 0xFE, 0xFF, 0x00, 0x00, 'a', 0, 0, 0}));
  // 2.2 and 2.3 unsynchronise whole frames, headers and all; 2.4 each body.
  EXPECT_EQ(ReadBack(Tag(3, Unsynchronise(Frame(3, "TIT2", plain)), 20, 0x80)), "TIT2:9 = ÿa");
  EXPECT_EQ(ReadBack(Tag(2, Unsynchronise(Frame(2, "TT2", plain)), 20, 0x80)), "TT2:9 = ÿa");
  EXPECT_EQ(ReadBack(Tag(4, Frame(4, "TIT2", unsync, 0x0200), 20)), "TIT2:9 = ÿa");
  EXPECT_EQ(ReadBack(Tag(4, Frame(4, "TIT2", unsync), 20, 0x80)), "TIT2:9 = ÿa");
}

TEST(ID3v2Read, ExtendedHeaders) {
  auto tag = [](int v, const Bytes& ext) {
    const Bytes body = Cat({ext, Frame(v, "TIT2", TextBody("T")), Bytes(20, 0)});
    return Cat({Header(v, 0x40, static_cast<std::uint32_t>(body.size())), body});
  };
  // The size of a 2.3 extended header leaves itself out, that of 2.4 counts it.
  EXPECT_EQ(ReadBack(tag(3, {0, 0, 0, 6, 0, 0, 0, 0, 0, 0})), "TIT2:3 ext 10 = T");
  EXPECT_EQ(ReadBack(tag(4, {0, 0, 0, 6, 1, 0})), "TIT2:3 ext 6 = T");
  // A flag with a frame, or a size beyond the body, where the header should be is dropped.
  EXPECT_EQ(ReadBack(tag(4, {})), "TIT2:3 = T");
  EXPECT_EQ(ReadBack(tag(3, {0x7F, 0, 0, 0})), "= ");
}

TEST(ID3v2Read, SizesFromTheFileNeverReadPastIt) {
  const Bytes title = Frame(4, "TIT2", TextBody("x"));
  EXPECT_EQ(ReadBack(Cat({Header(4, 0, 100), title})), "unread = ");
  EXPECT_EQ(ReadBack(Cat({Header(9, 0, 30), title, Bytes(30, 0)})), "unread = ");
  // 256 MB declared in a file of 30 bytes: nothing that size is even
  // allocated (the address space is held to 64 MB more than in use).
  const Bytes huge = Cat({Header(3, 0, 0x0FFFFFFF), title});
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

TEST(ID3v2Read, OnlyReadableBodiesAreDecoded) {
  // Group bytes and data length indicators are stepped over; compressed and
  // encrypted bodies cannot be read as text.
  const Bytes ok = TextBody("ok"), grouped = Cat({{0x42}, ok}), indicated = Cat({{0, 0, 0, 4}, ok});
  const std::tuple<int, std::uint16_t, Bytes, std::string> cases[] = {
      {3, 0x8000, ok, ""},        {3, 0x4000, ok, ""},         {3, 0x2000, grouped, "ok"},
      {3, 0x00E0, ok, "ok"},      {4, 0x0800, ok, ""},         {4, 0x0400, ok, ""},
      {4, 0x4000, grouped, "ok"}, {4, 0x0100, indicated, "ok"}};
  for (const auto& [v, flags, body, text] : cases)
    EXPECT_EQ(ReadBack(Tag(v, Frame(v, "TIT2", body, flags), 10)),
              "TIT2:" + std::to_string(body.size()) + " /" + Hex(flags) + " = " + text);
}

TEST(ID3v2Fields, EveryFieldInEveryVersion) {
  // The 2.4 names; the setters translate them to the tag's version.
  const char* kIDs[kID3v2FieldCount] = {"TALB", "TPE1", "TPE2", "TBPM", "",     "TCOM",
                                        "TCON", "TCOP", "TPOS", "TENC", "TOPE", "TPUB",
                                        "TIT2", "TRCK", "",     "TDRC"};
  for (int v : {2, 3, 4}) {
    ID3v2Tag tag;
    tag.Version = static_cast<std::uint8_t>(v);
    for (int i = 0; i < kID3v2FieldCount; ++i) {
      const std::string value = "f" + std::to_string(i);
      ASSERT_TRUE(i == kFieldComment ? SetID3v2Comment(tag, "eng", "", value)
                  : i == kFieldUrl   ? SetID3v2UserURL(tag, "", value)
                                     : SetID3v2Text(tag, kIDs[i], value))
          << i << " v" << v;
    }
    for (int i = -1; i <= kID3v2FieldCount; ++i)
      EXPECT_EQ(GetID3v2Field(tag, i),
                i < 0 || i == kID3v2FieldCount ? "" : "f" + std::to_string(i));
  }
}

TEST(ID3v2Fields, RepeatedFramesJoinAndLineBreaksBecomeBlanks) {
  TempDir dir;
  for (int v : {2, 3, 4}) {
    const std::string id = v == 2 ? "TYE" : v == 3 ? "TYER" : "TDRC";
    const std::string txxx = v == 2 ? "TXX" : "TXXX";
    ID3v2Tag tag;
    Load(dir.file("j.mp3"),
         Tag(v, Cat({Frame(v, id, TextBody("A\r\nB")), Frame(v, id, TextBody("C  ")),
                     Frame(v, id, {0}), Frame(v, txxx, {0, 'd', 0, 'v', 0}),
                     Frame(v, v == 2 ? "COM" : "COMM",
                           Cat({{0}, ToBytes("eng"), {0}, ToBytes("a\r\nb")}))})),
         tag);
    EXPECT_EQ(GetID3v2Text(id, tag, false), "A\r\nB C") << v;
    EXPECT_EQ(GetID3v2Text(id, tag, true), "A\r\nB");
    EXPECT_EQ(GetID3v2Field(tag, kFieldYear), "A B C");
    EXPECT_EQ(GetID3v2Field(tag, kFieldComment), "a b");
    EXPECT_EQ(GetID3v2Text(txxx, tag, false), "") << "user texts are not text frames";
  }
}

}  // namespace
}  // namespace velotag
