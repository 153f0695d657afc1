// The frame catalogue, the setters, and putting a tag back into its file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <tuple>

#include "id3v2_builder.h"
#include "support/paths.h"
#include "tags/id3v2_frames.h"

namespace velotag {
namespace {

using namespace test;

const char* TitleID(int version) { return version == 2 ? "TT2" : "TIT2"; }

TEST(ID3v2Set, IdentifiersFollowTheTagsVersion) {
  // Given, then what 2.2, 2.3 and 2.4 tags get ("" = refused).
  const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
      {"TAL", "TAL", "TALB", "TALB"}, {" tit2 ", "TT2", "TIT2", "TIT2"}, {"TSOP", "", "", "TSOP"},
      {"TORY", "TOR", "TORY", "TDOR"}, {"TYER", "TYE", "TYER", "TDRC"}, {"TP1", "TP1", "TPE1", "TPE1"},
      {"TXXX", "", "", ""}, {"COMM", "", "", ""}, {"TZZZ", "", "", ""}, {"", "", "", ""}};
  for (const auto& [given, v22, v23, v24] : cases) {
    for (int version : {2, 3, 4}) {
      const std::string want = version == 2 ? v22 : version == 3 ? v23 : v24;
      ID3v2Tag tag;
      tag.Version = static_cast<std::uint8_t>(version);
      EXPECT_EQ(SetID3v2Text(tag, given, "v"), !want.empty()) << given << " v" << version;
      EXPECT_EQ(tag.Frames.empty() ? "" : tag.Frames[0].FrameID, want) << given << " v" << version;
    }
  }
}

TEST(ID3v2Set, SlotsReplaceAppendKeepEncodingAndDelete) {
  TempDir dir;
  for (int v : {2, 3, 4}) {
    const std::string artist = v == 2 ? "TP1" : "TPE1";
    const Bytes frames =
        Cat({Frame(v, artist, TextBody("A"), v == 2 ? 0 : 0x0040),
             Frame(v, v == 2 ? "TAL" : "TALB", TextBody("Alb")), Frame(v, artist, TextBody("B"))});
    ID3v2Tag tag;
    ASSERT_EQ(Load(dir.file("r.mp3"), Tag(v, frames), tag), kTagDone);
    ASSERT_TRUE(SetID3v2Text(tag, "TPE1", "C", kID3KeepEncoding));
    // The first artist frame replaced, its encoding 0 kept, its flags cleared.
    const ID3v2Frame& first = tag.Frames[0];
    EXPECT_EQ(std::tuple(tag.Frames.size(), first.FrameID, first.Data, int{first.Flags}),
              std::tuple(std::size_t{2}, artist, Bytes{0, 'C', 0}, 0)) << v;
    ASSERT_TRUE(SetID3v2Text(tag, "TPE1", "D", 3, true));
    EXPECT_EQ(GetID3v2Field(tag, kFieldArtist), "C D");
    EXPECT_EQ(tag.Frames.size(), 3u);
    EXPECT_TRUE(DeleteID3v2Frame(tag, "TALB")) << "2.4 name on v" << v;
    EXPECT_FALSE(DeleteID3v2Frame(tag, "TALB") || DeleteID3v2Frame(tag, "  "));
    EXPECT_EQ(GetID3v2Field(tag, kFieldAlbum), "");
    EXPECT_EQ(tag.Frames.size(), 2u);
    EXPECT_TRUE(DeleteID3v2Frame(tag, "", true));
    EXPECT_EQ(tag.Frames.size(), 0u);
    EXPECT_FALSE(DeleteID3v2Frame(tag, "", true));
  }
}

// A tag we can vouch for (every version, a footer or not, behind junk or not) is
// removed and the same record writes a clean new one. Bytes that are no such
// tag (a body past the end, an unknown version, a cut header) are never
// removed, overwritten or cut: a new tag goes in front and they stay as data.
TEST(ID3v2Remove, OnlyTagsWeCanVouchFor) {
  std::vector<std::tuple<Bytes, Bytes, bool>> cases = {  // tag, what follows it, vouched for
      {Cat({Header(3, 0, 20000), Frame(3, "TIT2", TextBody("x"))}), Audio(), false},
      {Cat({Header(7, 0, 100), Bytes(100, 0x33)}), Audio(), false},
      {{'I', 'D', '3', 3}, {}, false}};
  for (auto [v, flags] : {std::pair{2, 0}, {3, 0}, {4, 0}, {4, 0x10}}) {
    cases.push_back({Tag(v, Frame(v, TitleID(v), TextBody("t")), 50, static_cast<std::uint8_t>(flags)),
                     Audio(), true});
  }
  TempDir dir;
  const std::string f = dir.file("r.mp3");
  for (const auto& [old, rest, vouched] : cases) {
    for (std::size_t junk : {0, 700}) {
      SCOPED_TRACE(testing::Message() << "v" << int(old[3]) << ", " << old.size()
                                      << " bytes after " << junk);
      const Bytes initial = Cat({Bytes(junk, 0x11), old, rest});
      ID3v2Tag tag;
      const int opened = Load(f, initial, tag);
      ASSERT_TRUE(vouched ? opened == kTagDone : opened != kTagFailed) << opened;
      EXPECT_EQ(RemoveID3v2(tag), vouched);
      EXPECT_EQ(ReadFileBytes(f), vouched ? Cat({Bytes(junk, 0x11), rest}) : initial);
      if (vouched) {
        EXPECT_FALSE(RemoveID3v2(tag) || !tag.Frames.empty()) << "no tag left";
      }
      ASSERT_TRUE(SetID3v2Text(tag, "TIT2", "New"));
      ASSERT_TRUE(WriteID3v2(tag));
      // After a removal the new tag leads the file; else it replaces nothing
      // where the old bytes start.
      const std::size_t at = vouched ? 0 : junk;
      const Bytes after = ReadFileBytes(f),
                  kept = vouched ? Cat({Bytes(junk, 0x11), rest}) : Cat({old, rest});
      const std::size_t tagEnd = at + 10 + static_cast<std::size_t>(tag.TagSize);
      EXPECT_EQ(after[at + 5], 0) << "no flags carried over";
      ASSERT_EQ(after.size(), tagEnd + kept.size());
      EXPECT_EQ(Slice(after, 0, at), Bytes(at, 0x11));
      EXPECT_EQ(Slice(after, tagEnd, kept.size()), kept);
      ASSERT_EQ(OpenAndRead(f, tag), kTagDone);
      EXPECT_EQ(tag.TagOffset, static_cast<Offset64>(at));
      EXPECT_EQ(GetID3v2Field(tag, kFieldTitle), "New");
    }
  }
}


// The rewrite through a temporary file: on a full disk nothing changes and
// nothing is left behind; else the record follows the new file.
TEST(ID3v2Rewrite, ThroughATemporaryFileOrNotAtAll) {
  TempDir dir;
  const std::string f = dir.file("m.mp3");
  const Bytes before = Cat({Tag(3, Frame(3, "TIT2", TextBody("x")), 10), Audio(20000)});
  WriteFileBytes(f, before);
  // Each title outgrows the tag before it.
  auto grow = [&](ID3v2Tag& tag, std::size_t size) {
    return OpenAndRead(f, tag) == kTagDone && SetID3v2Text(tag, "TIT2", std::string(size, 'g')) &&
           WriteID3v2(tag);
  };
  // A file size limit stands in for a full disk.
  EXPECT_TRUE(InChild(RLIMIT_FSIZE, 8192, [&] {
    ID3v2Tag tag;
    return !grow(tag, 3000) && !RemoveID3v2(tag) && tag.FileHandle.valid() && ReadID3v2Frames(tag);
  }));
  EXPECT_EQ(ReadFileBytes(f), before);
  EXPECT_EQ(FolderNames(dir.path()).size(), 1u) << "a temporary file was left";

  ID3v2Tag tag;
  ASSERT_TRUE(grow(tag, 3000));
  EXPECT_EQ(InodeOf("/proc/self/fd/" + std::to_string(tag.FileHandle.get())), InodeOf(f))
      << "the record's handle follows the new file";
  EXPECT_EQ(GetPathType(f + ".id3tmp"), kPathMissing);
  // What the format cannot hold is refused, the file untouched: 2.2 sizes have 3 bytes.
  const Bytes v22 = Cat({Tag(2, Frame(2, "TT2", TextBody("x")), 100), Audio()});
  ASSERT_EQ(Load(f, v22, tag), kTagDone);
  tag.Frames.push_back({"PIC", 0, Bytes(0x1000000, 0)});
  EXPECT_FALSE(WriteID3v2(tag));
  EXPECT_EQ(ReadFileBytes(f), v22);
}

// CRC-32 bit by bit, the reference for the extended header's.
std::uint32_t ReferenceCrc(const Bytes& b, std::size_t from, std::size_t to) {
  std::uint32_t c = 0xFFFFFFFF;
  for (std::size_t i = from; i < to; ++i) {
    c ^= b[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320 & (0u - (c & 1)));
  }
  return ~c;
}

// The in-place decision at its edge, in every version, behind junk or not,
// with a footer and with extended headers that state the padding and carry a
// CRC: content (extended header and frames) one byte smaller than the old
// tag's extent or equal to it (no padding at all) is written in place, and
// the file keeps its inode, size and header; one byte more, or no tag before,
// rewrites the file with the body padded to the next multiple of 2048
// (content of exactly 2048 gets 4096). Kept frames keep their flags (a
// compressed body means nothing without them), the extended header describes
// the tag it is in, a second write changes nothing, and mutagen reads it all.
TEST(ID3v2Write, InPlaceWhileTheContentFitsElsePaddedTo2048) {
  const Bytes other = {0, 0, 0, 9, 'x', 0x9C, 1, 2, 3, 4};
  const Bytes ext3 = {0, 0, 0, 6, 0, 0, 0, 0, 0, 0}, crc3 = {0, 0, 0, 10, 0x80, 0, 0, 0, 0, 0, 1, 2, 3, 4},
              crc4 = {0, 0, 0, 12, 1, 0x20, 5, 1, 2, 3, 4, 5};
  const std::tuple<int, std::uint8_t, Bytes, std::size_t> layouts[] = {  // v, flags, ext, junk
      {2, 0, {}, 0},    {3, 0, {}, 1000},  {4, 0x10, {}, 0},     {4, 0x10, {}, 1000},
      {3, 0x40, ext3, 0}, {3, 0x40, crc3, 1000}, {4, 0x40, crc4, 0}};
  TempDir dir;
  std::vector<std::string> args;
  std::map<std::string, std::string> titles;
  for (const auto& [v, flags, ext, junk] : layouts) {
    const std::uint16_t otherFlags = v == 2 ? 0 : v == 3 ? 0xE0E0 : 0x4D70;
    const Bytes kept = Frame(v, v == 2 ? "UFI" : "PRIV", other, otherFlags),
                tag = Tag(v, Cat({ext, Frame(v, TitleID(v), TextBody("old")), kept}), 300, flags);
    const std::size_t extent = tag.size() - 10 - (flags & 0x10 ? 10 : 0);
    for (std::size_t content : {extent - 1, extent, extent + 1, std::size_t{2048}, std::size_t{0}}) {
      // 0: no tag before, and a new 2.4 tag of just the title.
      const bool hadTag = content != 0, inPlace = hadTag && content <= extent;
      if (!hadTag) content = 10 + 2 + 300;
      const std::string f = dir.file(std::to_string(args.size()) + ".mp3");
      SCOPED_TRACE(testing::Message() << f << ": v" << v << " flags " << int(flags) << " ext "
                                      << ext.size() << " junk " << junk << " content " << content);
      const Bytes initial = Cat({Bytes(junk, 0x11), hadTag ? tag : Bytes{}, Audio()});
      ID3v2Tag t;
      ASSERT_EQ(Load(f, initial, t), hadTag ? kTagDone : kTagNone);
      // What the title frame may take: the content less the extended header,
      // the kept frame, the frame header and the encoding byte and zero.
      const std::string title(hadTag ? content - ext.size() - kept.size() - (v == 2 ? 6 : 10) - 2 : 300, 't');
      if (!hadTag || junk == 0) titles[f] = title;  // mutagen looks at the start only
      ASSERT_TRUE(SetID3v2Text(t, "TIT2", title, kID3Ansi));
      const auto inode = InodeOf(f);
      ASSERT_TRUE(WriteID3v2(t));
      args.push_back(f);

      const Bytes after = ReadFileBytes(f);
      const std::size_t body = inPlace ? extent : content < 2048 ? 2048 : 4096, at = hadTag ? junk : 0;
      const std::uint8_t written = hadTag ? flags : 0;
      const std::size_t footer = written & 0x10 ? 10 : 0, end = at + 10 + body + footer;
      EXPECT_EQ(InodeOf(f) == inode, inPlace);
      EXPECT_EQ(Slice(after, 0, at + 10), Cat({Bytes(at, 0x11), Header(hadTag ? v : 4, written, body)}));
      ASSERT_EQ(after.size(), end + (hadTag ? 0 : junk) + Audio().size());
      EXPECT_EQ(Slice(after, end - footer, after.size() - end + footer),
                Cat({footer ? Header(4, flags, body, "3DI") : Bytes{},
                     hadTag ? Bytes{} : Bytes(junk, 0x11), Audio()}));
      EXPECT_EQ(Slice(after, at + 10 + content, body - content), Bytes(body - content, 0)) << "padding";
      // 2.3 states the padding after the frames and a CRC of the frames; 2.4
      // a CRC of everything after the extended header.
      const std::size_t e = at + 10 + ext.size();
      Bytes stated = v == 3 ? BigEndian(static_cast<std::uint32_t>(body - content), 4, false)
                            : BigEndian(ReferenceCrc(after, e, at + 10 + body), 5, true);
      if (ext.size() == 14) stated = Cat({stated, BigEndian(ReferenceCrc(after, e, at + 10 + content), 4, false)});
      if (hadTag && !ext.empty()) {
        EXPECT_EQ(Slice(after, at + (v == 3 ? 16 : 17), stated.size()), stated);
      }
      ID3v2Tag back;
      ASSERT_EQ(OpenAndRead(f, back), kTagDone);
      ASSERT_EQ(back.Frames.size(), hadTag ? 2u : 1u);
      EXPECT_EQ(back.Frames[0].Flags, 0) << "the new frame";
      if (hadTag) {
        EXPECT_EQ(std::tie(back.Frames[1].Data, back.Frames[1].Flags), std::tie(other, otherFlags));
      }
      ASSERT_TRUE(WriteID3v2(back));
      EXPECT_EQ(ReadFileBytes(f), after) << "written again: in place, the same bytes";
    }
  }
  const Json all = Mutagen("fields", args);
  for (const auto& [f, title] : titles) EXPECT_EQ(all[f]["fields"]["title"].string, title) << f;
}

// Run as an ordinary user: root writes read-only files anyway. Reading never
// changes a file; writing gives the user's own file its owner write bit back
// and fails, touching nothing, on a file of someone else's.
TEST(ID3v2Write, ReadOnlyFiles) {
  TempDir dir;
  OpenToEveryone(dir.path());
  const std::string theirs = dir.file("theirs.mp3"), mine = dir.file("mine.mp3");
  const Bytes before = Cat({Tag(3, Frame(3, "TIT2", TextBody("Locked")), 100), Audio()});
  WriteFileBytes(theirs, before);
  ::chmod(theirs.c_str(), 0444);
  EXPECT_TRUE(RunUnprivileged([&] {
    ID3v2Tag tag;
    if (OpenAndRead(theirs, tag) != kTagDone || !tag.ReadOnly ||
        GetID3v2Field(tag, kFieldTitle) != "Locked")
      return false;
    SetID3v2Text(tag, "TIT2", "Changed");
    if (WriteID3v2(tag) || RemoveID3v2(tag)) return false;
    WriteFileBytes(mine, Audio(300));
    ::chmod(mine.c_str(), 0444);
    if (OpenAndRead(mine, tag) != kTagNone || !tag.ReadOnly || ModeOf(mine) != 0444)
      return false;
    SetID3v2Text(tag, "TIT2", "w");
    if (!WriteID3v2(tag) || OpenAndRead(mine, tag) != kTagDone ||
        GetID3v2Field(tag, kFieldTitle) != "w" || !(ModeOf(mine) & S_IWUSR))
      return false;
    // A removal refused (no tag we can vouch for) leaves the mode alone too.
    const std::string odd = dir.file("odd.mp3");
    WriteFileBytes(odd, Cat({Header(5, 0, 20), Bytes(20, 1), Audio()}));
    ::chmod(odd.c_str(), 0444);
    return OpenAndRead(odd, tag) == kTagBadHeader && !RemoveID3v2(tag) &&
           ModeOf(odd) == 0444;
  }));
  EXPECT_EQ(ReadFileBytes(theirs), before);
}

}  // namespace
}  // namespace velotag
