// mutagen reads what we write, and we read what mutagen writes.
#include <gtest/gtest.h>

#include "id3v2_builder.h"
#include "mutagen_oracle.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "testutil.h"

namespace velotag {
namespace {

using namespace test;

const Bytes kImage = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0xFF, 0x00, 0xFF, 0xE0, 0, 1};

struct Names {
  const char *title, *artist, *year, *comment, *link, *picture;
};
// mutagen's loader names 2.2 frames by their 2.3 counterparts.
Names NamesOf(int version) {
  if (version < 4) return {"TIT2", "TPE1", "TYER", "COMM", "WXXX", "APIC"};
  return {"TIT2", "TPE1", "TDRC", "COMM", "WXXX", "APIC"};
}

// Texts that the encoding can carry: ISO-8859-1 only for encoding 0.
std::string TextFor(int encoding) {
  return encoding == 0 ? "Caf\xC3\xA9 \xC3\x9Cml\xC3\xA4ut"
                       : "Caf\xC3\xA9 \xE2\x98\x95 \xF0\x9D\x84\x9E \xC5\x91";
}

void ExpectMutagenAgrees(const Json& read, int version, int encoding, const std::string& title,
                         const std::string& path) {
  SCOPED_TRACE("v" + std::to_string(version) + " encoding " + std::to_string(encoding) + " " +
               path);
  ASSERT_FALSE(read.has("error")) << read["error"].string;
  EXPECT_EQ(read["version"][1].number, version);
  const Names n = NamesOf(version);
  const int written = version < 4 && encoding > 1 ? 1 : encoding;
  const std::string text = TextFor(encoding);

  auto one = [&](const char* id) {
    std::vector<Json> frames = FramesWithId(read, id);
    EXPECT_EQ(frames.size(), 1u) << id;
    return frames.empty() ? Json{} : frames[0];
  };
  Json t = one(n.title);
  EXPECT_EQ(t["encoding"].number, written);
  ASSERT_EQ(t["text"].array.size(), 1u);
  EXPECT_EQ(t["text"][0].string, title);
  EXPECT_EQ(one(n.artist)["text"][0].string, text);
  EXPECT_EQ(one(n.year)["text"][0].string, "2024");

  Json c = one(n.comment);
  EXPECT_EQ(c["encoding"].number, written);
  EXPECT_EQ(c["lang"].string, "eng");
  EXPECT_EQ(c["desc"].string, "d\xC3\xA9sc");
  EXPECT_EQ(c["text"][0].string, text);

  Json w = one(n.link);
  EXPECT_EQ(w["desc"].string, text);
  EXPECT_EQ(w["url"].string, "http://example.org/\xC3\xA9");

  Json p = one(n.picture);
  EXPECT_EQ(p["mime"].string, version == 2 ? "PNG" : "image/png");
  EXPECT_EQ(p["type"].number, 3);
  EXPECT_EQ(p["desc"].string, text);
  EXPECT_EQ(p["data"].string, Hex(kImage));
}

TEST(ID3v2Mutagen, ReadsEveryEncodingWeWrite) {
  TempDir dir;
  WriteFileBytes(dir.file("cover.png"), kImage);
  std::vector<std::string> paths;
  struct Written {
    int version, encoding;
    std::string title;
  };
  std::vector<Written> written;
  for (int version : {2, 3, 4}) {
    for (int encoding : {0, 1, 2, 3}) {
      const std::string text = TextFor(encoding);
      for (bool grow : {false, true}) {
        // The first write puts a tag in front of the audio; the second
        // replaces it in place or, grown, through the temporary file.
        std::string f = dir.file("v" + std::to_string(version) + "e" + std::to_string(encoding) +
                                 (grow ? "g" : "") + ".mp3");
        WriteFileBytes(f, Audio(4000));
        ID3v2Tag tag;
        ASSERT_EQ(OpenID3v2(f, tag, version), kTagNone);
        ReadID3v2Frames(tag);
        ASSERT_TRUE(SetID3v2Text(tag, "TIT2", "first", encoding, false));
        ASSERT_TRUE(SetID3v2Text(tag, "TPE1", text, encoding, false));
        ASSERT_TRUE(SetID3v2Text(tag, "TDRC", "2024", encoding, false));
        ASSERT_TRUE(SetID3v2Comment(tag, "eng", "d\xC3\xA9sc", text, encoding, false));
        ASSERT_TRUE(SetID3v2UserURL(tag, text, "http://example.org/\xC3\xA9", encoding, false));
        ASSERT_TRUE(SetID3v2Picture(tag, text, dir.file("cover.png"), encoding, false));
        ASSERT_TRUE(WriteID3v2(tag));
        ID3v2Tag again;
        ASSERT_EQ(OpenAndRead(f, again), kTagDone);
        std::string title = grow ? std::string(3000, 'g') + text : text;
        ASSERT_TRUE(SetID3v2Text(again, "TIT2", title, encoding, false));
        ASSERT_TRUE(WriteID3v2(again));
        if (grow) EXPECT_GT(again.TagSize, 2048); else EXPECT_EQ(again.TagSize, 2048);
        paths.push_back(f);
        written.push_back({version, encoding, title});
      }
    }
  }
  Json all = RunMutagen("read", paths);
  for (std::size_t i = 0; i < paths.size(); ++i)
    ExpectMutagenAgrees(all[paths[i]], written[i].version, written[i].encoding, written[i].title,
                        paths[i]);
}

TEST(ID3v2Mutagen, WeReadWhatMutagenWrites) {
  TempDir dir;
  for (int version : {3, 4}) {
    for (int encoding : {0, 1, 2, 3}) {
      SCOPED_TRACE("v" + std::to_string(version) + " encoding " + std::to_string(encoding));
      const std::string text = TextFor(encoding);
      std::string f = dir.file("m.mp3");
      WriteFileBytes(f, Audio(4000));
      auto frame = [&](const std::string& id, const std::string& value) {
        return "{\"id\":\"" + id + "\",\"encoding\":" + std::to_string(encoding) +
               ",\"text\":\"" + value + "\"}";
      };
      std::string e = std::to_string(encoding);
      std::string tagJson =
          "{\"version\":" + std::to_string(version) + ",\"frames\":[" + frame("TIT2", text) + "," +
          frame("TALB", "Album " + text) + "," + frame("TRCK", "3/12") + "," + frame("TDRC", "1999") +
          "," + frame("TCON", "Jazz") + "," +
          "{\"id\":\"COMM\",\"encoding\":" + e + ",\"lang\":\"eng\",\"desc\":\"\",\"text\":\"" +
          text + "\"}," + "{\"id\":\"WXXX\",\"encoding\":" + e +
          ",\"desc\":\"home\",\"url\":\"http://x.org/\"}," + "{\"id\":\"TXXX\",\"encoding\":" + e +
          ",\"desc\":\"one\",\"text\":\"" + text + "\"}," + "{\"id\":\"TXXX\",\"encoding\":" + e +
          ",\"desc\":\"two\",\"text\":\"2\"}," + "{\"id\":\"APIC\",\"encoding\":" + e +
          ",\"mime\":\"image/png\",\"type\":3,\"desc\":\"" + text + "\",\"data\":\"" +
          Hex(kImage) + "\"}]}";
      ProcessResult w = RunProcess({PythonPath(), ToolPath("mutagen_id3v2.py"), "write", f, tagJson});
      ASSERT_EQ(w.exitCode, 0) << w.err;

      ID3v2Tag tag;
      ASSERT_EQ(OpenAndRead(f, tag), kTagDone);
      EXPECT_EQ(tag.Version, version);
      EXPECT_EQ(GetID3v2Field(tag, kFieldTitle), text);
      EXPECT_EQ(GetID3v2Field(tag, kFieldAlbum), "Album " + text);
      EXPECT_EQ(GetID3v2Field(tag, kFieldTrack), "3/12");
      EXPECT_EQ(GetID3v2Field(tag, kFieldYear), "1999");
      EXPECT_EQ(GetID3v2Field(tag, kFieldGenre), "Jazz");
      EXPECT_EQ(GetID3v2Field(tag, kFieldComment), text);
      EXPECT_EQ(GetID3v2Field(tag, kFieldUrl), "http://x.org/");
      std::vector<ID3v2UserField> texts;
      ASSERT_EQ(GetID3v2UserTexts(tag, texts, false), 2);
      std::sort(texts.begin(), texts.end(),
                [](const auto& a, const auto& b) { return a.Description < b.Description; });
      EXPECT_EQ(texts[0].Description, "one");
      EXPECT_EQ(texts[0].Value, text);
      EXPECT_EQ(texts[1].Value, "2");
      ASSERT_TRUE(HasID3v2Picture(tag));
      bool sawPicture = false;
      for (const ID3v2Frame& fr : tag.Frames) {
        ID3v2Picture pic;
        if (fr.FrameID != "APIC" || !DecodeID3v2Picture(tag, fr, pic)) continue;
        sawPicture = true;
        EXPECT_EQ(pic.MimeType, "image/png");
        EXPECT_EQ(pic.Description, text);
        EXPECT_EQ(Bytes(pic.Image, pic.Image + pic.ImageSize), kImage);
      }
      EXPECT_TRUE(sawPicture);

      // Rewritten by us, mutagen still finds everything it wrote.
      Json before = RunMutagen("read", {f})[f];
      SetID3v2Text(tag, "TIT3", std::string(5000, 's'), 3, false);
      ASSERT_TRUE(WriteID3v2(tag));
      Json after = RunMutagen("read", {f})[f];
      std::vector<Json> kept;
      for (const Json& fr : after["frames"].array)
        if (fr["id"].string != "TIT3") kept.push_back(fr);
      ASSERT_EQ(kept.size(), before["frames"].array.size());
      for (std::size_t i = 0; i < kept.size(); ++i)
        EXPECT_EQ(Dump(kept[i]), Dump(before["frames"][i])) << i;
    }
  }
}

}  // namespace
}  // namespace velotag
