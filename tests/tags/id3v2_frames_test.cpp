// Comments, user links, user texts and pictures: frames of several fields.
#include "tags/id3v2_frames.h"

#include <gtest/gtest.h>

#include <tuple>

#include "id3v2_builder.h"
#include "support/paths.h"

namespace velotag {
namespace {

using namespace test;

ID3v2Tag EmptyTag(int version) {
  ID3v2Tag tag;
  tag.Version = static_cast<std::uint8_t>(version);
  return tag;
}

TEST(ID3v2Comment, BodiesAsWritten) {
  const std::tuple<int, const char*, const char*, int, const char*, Bytes> cases[] = {
      {4, "", "", 3, "COMM", {3, 'h', 'u', 'n', 0, 'A', 'B', 'C', 0}},
      {3,
       "",
       "",
       3,
       "COMM",
       {1, 'h', 'u', 'n', 0xFF, 0xFE, 0, 0, 0xFF, 0xFE, 'A', 0, 'B', 0, 'C', 0, 0, 0}},
      {2, "en", "", 0, "COM", {0, ' ', 'e', 'n', 0, 'A', 'B', 'C', 0}},
      {4,
       "ENGLISH",
       "d",
       2,
       "COMM",
       {2, 'i', 's', 'h', 0, 'd', 0, 0, 0, 'A', 0, 'B', 0, 'C', 0, 0}},
  };
  for (const auto& [version, language, description, encoding, id, body] : cases) {
    ID3v2Tag tag = EmptyTag(version);
    EXPECT_TRUE(SetID3v2Comment(tag, language, description, "ABC", encoding));
    ASSERT_EQ(tag.Frames.size(), 1u);
    EXPECT_EQ(tag.Frames[0].FrameID, id);
    EXPECT_EQ(tag.Frames[0].Data, body) << version << " " << language;
    EXPECT_EQ(GetID3v2Field(tag, kFieldComment), "ABC");
  }
}

TEST(ID3v2UserURL, TheUrlIsLatin1WhateverTheEncoding) {
  for (int v : {2, 3, 4}) {
    ID3v2Tag tag = EmptyTag(v);
    EXPECT_TRUE(SetID3v2UserURL(tag, "d", "http://a.b/", 1));
    EXPECT_EQ(tag.Frames[0].FrameID, v == 2 ? "WXX" : "WXXX");
    EXPECT_EQ(tag.Frames[0].Data,
              Cat({{1, 0xFF, 0xFE, 'd', 0, 0, 0}, ToBytes("http://a.b/"), {0}}));
    SetID3v2UserURL(tag, "second", "http://c/", 3, true);
    EXPECT_EQ(GetID3v2Field(tag, kFieldUrl), "http://a.b/ http://c/");
  }
}

TEST(ID3v2ListReaders, WellFormedAndMalformedFrames) {
  // What each frame reads as: "description|value", "" for no item.
  const std::tuple<const char*, Bytes, const char*> cases[] = {
      {"COMM", {0, 'e', 'n', 'g', 'N', 'o'}, ""},  // no terminator after the description
      {"COMM", {0, 'e', 'n', 'g', 0}, ""},         // no text
      {"COMM", {0, 'e', 'n'}, ""},
      {"COMM", {1, 'e', 'n', 'g', 0xFF, 0xFE, 0, 0, 0xFF, 0xFE, 'H', 0, 'i', 0}, "|Hi"},
      {"COM", {0, 'e', 'n', 'g', 'd', 0, 't', 0}, "d|t"},  // the 2.2 name in a 2.3 tag
      {"COMM", {3, 'e', 'n', 'g', 0, 'a', 0, 'b'}, "|a"},  // the first value
      // A UTF-16 terminator is an aligned pair of zeros.
      {"COMM", {1, 'e', 'n', 'g', 'A', 0, 0, 'B', 0, 0, 'x', 0}, "A\xE4\x88\x80|x"},
      {"TXXX", {3, 'k', 0, 'v'}, "k|v"},
      {"TXX", {3, 'k', 0}, ""},
      {"WXXX", {0, 0, 'u'}, "|u"},
  };
  for (const auto& [id, body, read] : cases) {
    ID3v2Tag tag = EmptyTag(3);
    tag.Frames.push_back({id, static_cast<std::int32_t>(body.size()), 0, body});
    tag.FrameCount = 1;
    std::vector<ID3v2Comment> comments;
    std::vector<ID3v2UserField> fields;
    std::string got;
    if (GetID3v2Comments(tag, comments, false) == 1)
      got = comments[0].Description + "|" + comments[0].Text;
    if (GetID3v2UserTexts(tag, fields, false) == 1 || GetID3v2UserURLs(tag, fields, false) == 1)
      got = fields[0].Description + "|" + fields[0].Value;
    EXPECT_EQ(got, read) << id << " " << body.size();
  }
}

TEST(ID3v2ListReaders, FirstOnlyStopsAtTheFirstCandidate) {
  ID3v2Tag tag = EmptyTag(4);
  tag.Frames.push_back({"COMM", 5, 0, {0, 'e', 'n', 'g', 'x'}});
  tag.FrameCount = 1;
  SetID3v2Comment(tag, "eng", "", "good", 3, true);
  std::vector<ID3v2Comment> items;
  EXPECT_EQ(GetID3v2Comments(tag, items, true), 0);
  EXPECT_EQ(GetID3v2Comments(tag, items, false), 1);
  EXPECT_EQ(GetID3v2Field(tag, kFieldComment), "good");
}

TEST(ID3v2Picture, SetAndReadBackPerVersion) {
  TempDir dir;
  const Bytes image = {0xFF, 0xD8, 0xFF, 0, 0xFF, 0x00, 7};
  WriteFileBytes(dir.file("art.JPG"), image);
  WriteFileBytes(dir.file("empty.png"), {});
  for (int v : {2, 3, 4}) {
    ID3v2Tag tag = EmptyTag(v);
    EXPECT_FALSE(HasID3v2Picture(tag));
    EXPECT_FALSE(SetID3v2Picture(tag, "", dir.file("missing.png"), 3));
    EXPECT_FALSE(SetID3v2Picture(tag, "", dir.file("empty.png"), 3));
    EXPECT_TRUE(tag.Frames.empty()) << "refused pictures leave the tag alone";
    ASSERT_TRUE(SetID3v2Picture(tag, "Front", dir.file("art.JPG"), 3));
    EXPECT_TRUE(HasID3v2Picture(tag));
    const ID3v2Frame& f = tag.Frames[0];
    EXPECT_EQ(f.FrameID, v == 2 ? "PIC" : "APIC");
    // 2.2 names the format in three letters; the MIME type is ISO-8859-1.
    EXPECT_EQ(Slice(f.Data, 1, v == 2 ? 4 : 12),
              v == 2 ? ToBytes("JPG\x03") : Cat({ToBytes("image/jpeg"), {0, 3}}));
    ID3v2Picture pic;
    ASSERT_TRUE(DecodeID3v2Picture(tag, f, pic));
    EXPECT_EQ(pic.MimeType + "|" + std::to_string(pic.PictureType) + "|" + pic.Description,
              "image/jpeg|3|Front");
    EXPECT_EQ(Bytes(pic.Image, pic.Image + pic.ImageSize), image);
  }
}

TEST(ID3v2Picture, MimeTypesAndUrlsAsOtherProgramsWriteThem) {
  // Latin-1 as the format has them, in the frame's UTF-16 as some write them,
  // and the three-letter format of 2.2 beside a full MIME type there.
  const std::tuple<const char*, int, Bytes, const char*> cases[] = {
      {"APIC", 3, Cat({{1}, ToBytes("image/jpeg"), {0, 3, 0xFF, 0xFE, 'd', 0, 0, 0, 0xD8}}),
       "image/jpeg|3|d|1"},
      {"APIC",
       3,
       {1, 0xFF, 0xFE, 'i', 0, 'm', 0,    'a',  0,   'g', 0, 'e', 0,   '/',
        0, 'x',  0,    0,   0, 3,   0xFF, 0xFE, 'd', 0,   0, 0,   0xD8},
       "image/x|3|d|1"},
      {"APIC",
       3,
       {2, 0, 'i', 0, 'm', 0, 'a', 0, 'g', 0, 'e', 0, '/', 0, 'x', 0, 0, 3, 0, 'd', 0, 0, 0xD8},
       "image/x|3|d|1"},
      {"PIC", 2, Cat({{0}, ToBytes("JPG"), {4}, ToBytes("d"), {0, 1, 2}}), "image/jpeg|4|d|2"},
      {"PIC", 2, Cat({{0}, ToBytes("image/gif"), {0, 5, 0, 9}}), "image/gif|5||1"},
      {"WXXX", 3, Cat({{1, 0xFF, 0xFE, 'd', 0, 0, 0}, ToBytes("http://x/")}), "d|http://x/"},
      {"WXXX", 3, {1, 0xFF, 0xFE, 'd', 0, 0, 0, 0xFF, 0xFE, 'h', 0, 't', 0, 0, 0}, "d|ht"},
  };
  for (const auto& [id, version, body, read] : cases) {
    const ID3v2Tag tag = EmptyTag(version);
    const ID3v2Frame f{id, static_cast<std::int32_t>(body.size()), 0, body};
    ID3v2Picture pic;
    ID3v2UserField u;
    if (id[0] == 'W') {
      ASSERT_TRUE(DecodeID3v2UserField(tag, f, u)) << read;
      EXPECT_EQ(u.Description + "|" + u.Value, read);
    } else {
      ASSERT_TRUE(DecodeID3v2Picture(tag, f, pic)) << read;
      EXPECT_EQ(pic.MimeType + "|" + std::to_string(pic.PictureType) + "|" + pic.Description + "|" +
                    std::to_string(pic.ImageSize),
                read);
    }
  }
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
  // A picture frame without a body is no picture.
  ASSERT_EQ(Load(mp3, Cat({Tag(3, Frame(3, "APIC", {}), 10), Audio()}), tag), kTagDone);
  EXPECT_FALSE(HasID3v2Picture(tag));
}

}  // namespace
}  // namespace velotag
