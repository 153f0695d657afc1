#include "tags/id3v2_frames.h"

#include <gtest/gtest.h>

#include "id3v2_builder.h"
#include "support/paths.h"
#include "testutil.h"

namespace velotag {
namespace {

using namespace test;

ID3v2Tag EmptyTag(int version) {
  ID3v2Tag tag;
  tag.Version = static_cast<std::uint8_t>(version);
  return tag;
}

TEST(ID3v2Comment, BodiesAsWritten) {
  struct Case {
    int version;
    const char* language;
    const char* description;
    int encoding;
    const char* id;
    Bytes body;
  };
  const Case cases[] = {
      {4, "", "", 3, "COMM", {3, 'h', 'u', 'n', 0, 'A', 'B', 'C', 0}},
      {3, "", "", 3, "COMM",
       {1, 'h', 'u', 'n', 0xFF, 0xFE, 0, 0, 0xFF, 0xFE, 'A', 0, 'B', 0, 'C', 0, 0, 0}},
      {2, "en", "", 0, "COM", {0, ' ', 'e', 'n', 0, 'A', 'B', 'C', 0}},
      {4, "ENGLISH", "d", 2, "COMM", {2, 'i', 's', 'h', 0, 'd', 0, 0, 0, 'A', 0, 'B', 0, 'C', 0, 0}},
  };
  for (const Case& c : cases) {
    ID3v2Tag tag = EmptyTag(c.version);
    EXPECT_TRUE(SetID3v2Comment(tag, c.language, c.description, "ABC", c.encoding, false));
    ASSERT_EQ(tag.Frames.size(), 1u);
    EXPECT_EQ(tag.Frames[0].FrameID, c.id);
    EXPECT_EQ(tag.Frames[0].Data, c.body) << c.version << " " << c.language;
    std::vector<ID3v2Comment> items;
    ASSERT_EQ(GetID3v2Comments(tag, items, false), 1);
    EXPECT_EQ(items[0].Text, "ABC");
    EXPECT_EQ(items[0].Description, c.description);
  }
}

TEST(ID3v2UserURL, BodyAndVersionNames) {
  for (int v : {2, 3, 4}) {
    ID3v2Tag tag = EmptyTag(v);
    EXPECT_TRUE(SetID3v2UserURL(tag, "", "http://a.b/", 0, false));
    EXPECT_EQ(tag.Frames[0].FrameID, v == 2 ? "WXX" : "WXXX");
    EXPECT_EQ(tag.Frames[0].Data, Cat({{0, 0}, ToBytes("http://a.b/"), {0}}));
    EXPECT_EQ(GetID3v2Field(tag, kFieldUrl), "http://a.b/");
    SetID3v2UserURL(tag, "second", "http://c/", 3, true);
    EXPECT_EQ(GetID3v2Field(tag, kFieldUrl), "http://a.b/ http://c/");
  }
}

TEST(ID3v2ListReaders, MalformedFramesGiveNoItem) {
  struct Case {
    const char* name;
    const char* id;
    Bytes body;
    std::size_t items;
    const char* description;
    const char* value;
  };
  const Case cases[] = {
      {"comment without description terminator", "COMM", {0, 'e', 'n', 'g', 'N', 'o'}, 0, "", ""},
      {"comment with empty text", "COMM", {0, 'e', 'n', 'g', 0}, 0, "", ""},
      {"comment too short", "COMM", {0, 'e', 'n'}, 0, "", ""},
      {"other program's utf-16 comment", "COMM",
       {1, 'e', 'n', 'g', 0xFF, 0xFE, 0, 0, 0xFF, 0xFE, 'H', 0, 'i', 0}, 1, "", "Hi"},
      {"2.2 name accepted anywhere", "COM", {0, 'e', 'n', 'g', 'd', 0, 't', 0}, 1, "d", "t"},
      {"second value cut at zero", "COMM", {3, 'e', 'n', 'g', 0, 'a', 0, 'b'}, 1, "", "a"},
      {"utf-16 terminator must be aligned", "COMM",
       {1, 'e', 'n', 'g', 'A', 0, 0, 'B', 0, 0, 'x', 0}, 1, "A\xE4\x88\x80", "x"},
      {"user text", "TXXX", {3, 'k', 0, 'v'}, 1, "k", "v"},
      {"user text without value", "TXX", {3, 'k', 0}, 0, "", ""},
      {"user link", "WXXX", {0, 0, 'u'}, 1, "", "u"},
  };
  for (const Case& c : cases) {
    ID3v2Tag tag = EmptyTag(3);
    tag.Frames.push_back({c.id, static_cast<std::int32_t>(c.body.size()), 0, c.body});
    tag.FrameCount = 1;
    std::vector<ID3v2Comment> comments;
    std::vector<ID3v2UserField> fields;
    std::size_t n;
    std::string desc, value;
    if (std::string(c.id).rfind("COM", 0) == 0) {
      n = static_cast<std::size_t>(GetID3v2Comments(tag, comments, false));
      if (n) desc = comments[0].Description, value = comments[0].Text;
    } else if (c.id[0] == 'T') {
      n = static_cast<std::size_t>(GetID3v2UserTexts(tag, fields, false));
      if (n) desc = fields[0].Description, value = fields[0].Value;
    } else {
      n = static_cast<std::size_t>(GetID3v2UserURLs(tag, fields, false));
      if (n) desc = fields[0].Description, value = fields[0].Value;
    }
    EXPECT_EQ(n, c.items) << c.name;
    EXPECT_EQ(desc, c.description) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
  }
}

TEST(ID3v2ListReaders, FirstOnlyStopsAtTheFirstCandidate) {
  ID3v2Tag tag = EmptyTag(4);
  Bytes broken = {0, 'e', 'n', 'g', 'x'};
  tag.Frames.push_back({"COMM", 5, 0, broken});
  tag.FrameCount = 1;
  SetID3v2Comment(tag, "eng", "", "good", 3, true);
  std::vector<ID3v2Comment> items;
  EXPECT_EQ(GetID3v2Comments(tag, items, true), 0);
  EXPECT_EQ(GetID3v2Comments(tag, items, false), 1);
  EXPECT_EQ(GetID3v2Field(tag, kFieldComment), "good");
}

TEST(ID3v2Picture, MimeTypesAndTypeNames) {
  struct Mime {
    const char* file;
    const char* mime;
  };
  for (Mime m : {Mime{"cover.JPG", "image/jpeg"}, Mime{"a.jpe", "image/jpeg"},
                 Mime{"b.jpeg", "image/jpeg"}, Mime{"c.png", "image/png"},
                 Mime{"picture.webp", "image/webp"}, Mime{"noext", "image/"},
                 Mime{"d.BMP", "image/bmp"}, Mime{"e.ico", "image/ico"}, Mime{"f.gif", "image/gif"}})
    EXPECT_EQ(PictureMimeType(m.file), m.mime) << m.file;
  EXPECT_EQ(PictureTypeName(0), "Other");
  EXPECT_EQ(PictureTypeName(3), "Cover (front)");
  EXPECT_EQ(PictureTypeName(17), "fish");
  EXPECT_EQ(PictureTypeName(20), "Studio logotype");
  EXPECT_EQ(PictureTypeName(21), "Unknown");
  EXPECT_EQ(PictureTypeName(200), "Unknown");
}

TEST(ID3v2Picture, SetAndReadBackPerVersion) {
  TempDir dir;
  const Bytes image = {0x89, 'P', 'N', 'G', 0, 0xFF, 0x00, 7};
  WriteFileBytes(dir.file("art.png"), image);
  WriteFileBytes(dir.file("empty.png"), {});
  for (int v : {2, 3, 4}) {
    ID3v2Tag tag = EmptyTag(v);
    EXPECT_FALSE(HasID3v2Picture(tag));
    EXPECT_FALSE(SetID3v2Picture(tag, "", dir.file("missing.png"), 3, false));
    EXPECT_FALSE(SetID3v2Picture(tag, "", dir.file("empty.png"), 3, false));
    EXPECT_TRUE(tag.Frames.empty()) << "refused pictures leave the tag alone";
    ASSERT_TRUE(SetID3v2Picture(tag, "Front", dir.file("art.png"), 3, false));
    EXPECT_TRUE(HasID3v2Picture(tag));
    const ID3v2Frame& f = tag.Frames[0];
    EXPECT_EQ(f.FrameID, v == 2 ? "PIC" : "APIC");
    if (v == 4) {
      EXPECT_EQ(f.Data, Cat({{3}, ToBytes("image/png"), {0, 3}, ToBytes("Front"), {0}, image}));
    } else if (v == 2) {
      // 2.2 names the format in three letters.
      EXPECT_EQ(Slice(f.Data, 0, 5), (Bytes{1, 'P', 'N', 'G', 3}));
    }
    ID3v2Picture pic;
    ASSERT_TRUE(DecodeID3v2Picture(tag, f, pic));
    EXPECT_EQ(pic.MimeType, "image/png");
    EXPECT_EQ(pic.PictureType, 3);
    EXPECT_EQ(pic.Description, "Front");
    EXPECT_EQ(Bytes(pic.Image, pic.Image + pic.ImageSize), image);
  }
}

TEST(ID3v2Picture, ReadsBothLayoutsOfA22Picture) {
  ID3v2Tag tag = EmptyTag(2);
  // As other programs write it, and as a MIME string.
  Bytes standard = Cat({{0}, ToBytes("JPG"), {4}, ToBytes("d"), {0, 1, 2}});
  Bytes mime = Cat({{0}, ToBytes("image/gif"), {0, 5, 0, 9}});
  ID3v2Picture pic;
  ASSERT_TRUE(DecodeID3v2Picture(tag, {"PIC", 9, 0, standard}, pic));
  EXPECT_EQ(pic.MimeType, "image/jpeg");
  EXPECT_EQ(pic.PictureType, 4);
  EXPECT_EQ(pic.Description, "d");
  EXPECT_EQ(pic.ImageSize, 2u);
  ASSERT_TRUE(DecodeID3v2Picture(tag, {"PIC", 14, 0, mime}, pic));
  EXPECT_EQ(pic.MimeType, "image/gif");
  EXPECT_EQ(pic.PictureType, 5);
  EXPECT_EQ(pic.ImageSize, 1u);
}

TEST(ID3v2Picture, UrlAndMimeTypeAreLatin1InEveryEncoding) {
  // As the format and every other reader have them, and as frames that
  // carry them in the frame's UTF-16 were written.
  struct Case {
    const char* name;
    const char* id;
    Bytes body;
    const char* mimeOrUrl;
    const char* description;
  };
  const Case cases[] = {
      {"picture, utf-16 description", "APIC",
       Cat({{1}, ToBytes("image/jpeg"), {0, 3, 0xFF, 0xFE, 'd', 0, 0, 0, 0xD8}}), "image/jpeg",
       "d"},
      {"picture, utf-16 mime", "APIC",
       Cat({{1, 0xFF, 0xFE, 'i', 0, 'm', 0, 'a', 0, 'g', 0, 'e', 0, '/', 0, 'x', 0, 0, 0, 3},
            {0xFF, 0xFE, 'd', 0, 0, 0, 0xD8}}),
       "image/x", "d"},
      {"picture, utf-16BE mime", "APIC",
       Cat({{2, 0, 'i', 0, 'm', 0, 'a', 0, 'g', 0, 'e', 0, '/', 0, 'x', 0, 0, 3, 0, 'd', 0, 0, 0xD8}}),
       "image/x", "d"},
      {"link, utf-16 description", "WXXX",
       Cat({{1, 0xFF, 0xFE, 'd', 0, 0, 0}, ToBytes("http://x/")}), "http://x/", "d"},
      {"link, utf-16 url", "WXXX",
       Cat({{1, 0xFF, 0xFE, 'd', 0, 0, 0, 0xFF, 0xFE, 'h', 0, 't', 0, 0, 0}}), "ht", "d"},
  };
  for (const Case& c : cases) {
    ID3v2Tag tag = EmptyTag(3);
    ID3v2Frame f{c.id, static_cast<std::int32_t>(c.body.size()), 0, c.body};
    if (c.id[0] == 'A') {
      ID3v2Picture pic;
      ASSERT_TRUE(DecodeID3v2Picture(tag, f, pic)) << c.name;
      EXPECT_EQ(pic.MimeType, c.mimeOrUrl) << c.name;
      EXPECT_EQ(pic.Description, c.description) << c.name;
      EXPECT_EQ(pic.PictureType, 3) << c.name;
      EXPECT_EQ(Bytes(pic.Image, pic.Image + pic.ImageSize), Bytes{0xD8}) << c.name;
    } else {
      ID3v2UserField u;
      ASSERT_TRUE(DecodeID3v2UserField(tag, f, u)) << c.name;
      EXPECT_EQ(u.Value, c.mimeOrUrl) << c.name;
      EXPECT_EQ(u.Description, c.description) << c.name;
    }
  }
  ID3v2Tag tag = EmptyTag(3);
  SetID3v2UserURL(tag, "d", "http://x/", 1, false);
  EXPECT_EQ(tag.Frames[0].Data, Cat({{1, 0xFF, 0xFE, 'd', 0, 0, 0}, ToBytes("http://x/"), {0}}));
}

TEST(ID3v2Extract, NamesAndFiles) {
  TempDir dir;
  std::string mp3 = dir.file("Song.mp3");
  auto pic = [](const std::string& mime, std::uint8_t type, const std::string& desc,
                const Bytes& data, int enc = 0) {
    Bytes body{static_cast<std::uint8_t>(enc)};
    Bytes m = ToBytes(mime), d = ToBytes(desc);
    body.insert(body.end(), m.begin(), m.end());
    body.push_back(0);
    body.push_back(type);
    body.insert(body.end(), d.begin(), d.end());
    body.push_back(0);
    body.insert(body.end(), data.begin(), data.end());
    return Frame(3, "APIC", body);
  };
  Bytes frames = Cat({pic("image/jpeg", 3, "", {1, 2, 3}), pic("image/png", 17, "x y", {4}),
                      pic("text/plain", 200, "", {5}),
                      pic("image/jpeg", 3, "nothing", {}),  // no image bytes: no file
                      pic("image/jpeg", 3, "../../escape", {6}),
                      pic("image/../../up", 0, "a/b", {7}),
                      pic("image/jpeg", 4, "..", {8})});
  WriteFileBytes(mp3, Cat({Tag(3, frames, 10), Audio()}));
  ID3v2Tag tag;
  ASSERT_EQ(OpenAndRead(mp3, tag), kTagDone);
  std::vector<std::string> paths;
  ASSERT_EQ(ExtractID3v2Pictures(tag, "", paths), 6);
  const std::vector<std::string> names = {
      "Song_(Cover_(front)).jpeg", "Song_x y(fish).png",       "Song_(Unknown)",
      "Song_..-..-escape(Cover_(front)).jpeg", "Song_a-b(Other)...-..-up",
      "Song_..(Cover_(back)).jpeg"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(paths[i], dir.path() + names[i]);
    EXPECT_EQ(GetFolderPart(paths[i]), GetFolderPart(mp3)) << "stays in its folder";
  }
  EXPECT_EQ(ReadFileBytes(paths[0]), (Bytes{1, 2, 3}));
  // A second run never overwrites: it numbers the new files.
  std::vector<std::string> again;
  ASSERT_EQ(ExtractID3v2Pictures(tag, dir.path(), again), 6);
  EXPECT_EQ(again[0], dir.path() + "Song_(Cover_(front))(001).jpeg");
  EXPECT_EQ(ExtractID3v2Pictures(tag, dir.file("nowhere"), again), 0);
  EXPECT_TRUE(again.empty());
}

}  // namespace
}  // namespace velotag
