// mutagen as a second opinion: it reads what we write and we read what it
// writes, on our own files and on real files of other tag projects
// (tests/data/peers, described by INDEX.tsv).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <tuple>

#include "id3v2_builder.h"
#include "tags/id3v2_frames.h"

namespace velotag {
namespace {

using namespace test;

const Bytes kImage = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0xFF, 0x00, 0xFF, 0xE0, 0, 1};
const std::string kImageHex = "89504e470d0a1a0aff00ffe00001";

// mutagen's canonical frame texts, but those of the given identifiers.
std::vector<std::string> FramesBut(const Json& tag, const std::set<std::string>& skip) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < tag["frames"].array.size(); ++i)
    if (!skip.count(tag["frames"][i]["id"].string)) out.push_back(tag["canonical"][i].string);
  return out;
}

std::string Fill(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& [key, value] : values)
    for (std::size_t at; (at = text.find(key)) != std::string::npos;)
      text.replace(at, key.size(), value);
  return text;
}

// The same frames written by mutagen ("theirs") and by us ("ours"), in every
// version and encoding: mutagen reads ours as it reads its own, we read its
// own, and after our rewrite its file still holds everything it wrote. For
// 2.2, which mutagen cannot write, theirs is 2.3: it reads both with 2.3 names.
TEST(ID3v2Mutagen, AgreesBothWaysInEveryEncoding) {
  const std::string kTag = R"({"version": %V, "frames": [
      {"id": "TIT2", "encoding": %E, "text": "%T"}, {"id": "TPE1", "encoding": %E, "text": "%A"},
      {"id": "TDRC", "encoding": %E, "text": "2024"},
      {"id": "COMM", "encoding": %E, "lang": "eng", "desc": "d\u00e9sc", "text": "%A"},
      {"id": "WXXX", "encoding": %E, "desc": "%A", "url": "http://example.org/\u00e9"},
      {"id": "TXXX", "encoding": %E, "desc": "one", "text": "%A"},
      {"id": "TXXX", "encoding": %E, "desc": "two", "text": "2"},
      {"id": "APIC", "encoding": %E, "mime": "image/png", "type": 3, "desc": "%A",
       "data": "%D"}]})";
  TempDir dir;
  WriteFileBytes(dir.file("cover.png"), kImage);
  struct Case {
    int version, encoding;
    std::string text, title, ours, theirs;
  };
  std::vector<Case> cases;
  std::vector<std::string> writes, files;
  for (int version : {2, 3, 4}) {
    for (int encoding : {0, 1, 2, 3}) {
      // Texts that the encoding can carry: ISO-8859-1 only for encoding 0.
      const std::string text = encoding == 0 ? "Caf\xC3\xA9 \xC3\x9Cml\xC3\xA4ut"
                                             : "Caf\xC3\xA9 \xE2\x98\x95 \xF0\x9D\x84\x9E \xC5\x91";
      for (std::string title : {text, std::string(3000, 'g') + text}) {
        const std::string n = std::to_string(cases.size());
        cases.push_back(
            {version, encoding, text, title, dir.file(n + "ours.mp3"), dir.file(n + "theirs.mp3")});
        WriteFileBytes(cases.back().theirs, Audio(4000));
        writes.insert(
            writes.end(),
            {cases.back().theirs, Fill(kTag, {{"%V", version == 2 ? "3" : std::to_string(version)},
                                              {"%E", std::to_string(encoding)},
                                              {"%T", title},
                                              {"%A", text},
                                              {"%D", kImageHex}})});
        files.insert(files.end(), {cases.back().ours, cases.back().theirs});
      }
    }
  }
  Mutagen("write", writes);

  for (const Case& c : cases) {
    SCOPED_TRACE("v" + std::to_string(c.version) + " encoding " + std::to_string(c.encoding) +
                 " title " + std::to_string(c.title.size()));
    // Ours: a new tag in front of the audio, then the title replaced in
    // place or, grown, through the temporary file.
    WriteFileBytes(c.ours, Audio(4000));
    ID3v2Tag tag;
    ASSERT_EQ(OpenID3v2(c.ours, tag, c.version), kTagNone);
    ReadID3v2Frames(tag);
    ASSERT_TRUE(SetID3v2Text(tag, "TIT2", "first", c.encoding));
    ASSERT_TRUE(SetID3v2Text(tag, "TPE1", c.text, c.encoding));
    ASSERT_TRUE(SetID3v2Text(tag, "TDRC", "2024", c.encoding));
    ASSERT_TRUE(SetID3v2Comment(tag, "eng", "d\xC3\xA9sc", c.text, c.encoding));
    ASSERT_TRUE(SetID3v2UserURL(tag, c.text, "http://example.org/\xC3\xA9", c.encoding));
    ASSERT_TRUE(SetID3v2Picture(tag, c.text, dir.file("cover.png"), c.encoding));
    ASSERT_TRUE(WriteID3v2(tag));
    ASSERT_EQ(OpenAndRead(c.ours, tag), kTagDone);
    ASSERT_TRUE(SetID3v2Text(tag, "TIT2", c.title, c.encoding));
    ASSERT_TRUE(WriteID3v2(tag));

    // Theirs, as we read it.
    ASSERT_EQ(OpenAndRead(c.theirs, tag), kTagDone);
    std::string fields;
    for (int i : {kFieldTitle, kFieldArtist, kFieldYear, kFieldComment, kFieldUrl})
      fields += GetID3v2Field(tag, i) + "|";
    EXPECT_EQ(fields, c.title + "|" + c.text + "|2024|" + c.text + "|http://example.org/\xC3\xA9|");
    std::vector<ID3v2UserField> texts;
    ASSERT_EQ(GetID3v2UserTexts(tag, texts, false), 2);
    EXPECT_EQ(std::set<std::string>({texts[0].Description + "=" + texts[0].Value,
                                     texts[1].Description + "=" + texts[1].Value}),
              (std::set<std::string>{"one=" + c.text, "two=2"}));
    ID3v2Picture pic;
    for (const ID3v2Frame& f : tag.Frames) {
      if (f.FrameID == "APIC") {
        ASSERT_TRUE(DecodeID3v2Picture(tag, f, pic));
      }
    }
    EXPECT_EQ(pic.MimeType + "|" + pic.Description, "image/png|" + c.text);
    EXPECT_EQ(Bytes(pic.Image, pic.Image + pic.ImageSize), kImage);
  }

  // mutagen reads ours as it reads its own. Then theirs, rewritten by us
  // with one more frame, still holds everything mutagen wrote.
  const Json before = Mutagen("read", files);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ours);
    EXPECT_EQ(before[c.ours]["version"][1].number, c.version);
    std::vector<std::string> ours = FramesBut(before[c.ours], {});
    if (c.version == 2)  // 2.2 names the picture format in three letters
      for (std::string& f : ours) f = Fill(f, {{"\"mime\": \"PNG\"", "\"mime\": \"image/png\""}});
    EXPECT_EQ(ours, FramesBut(before[c.theirs], {"TXXX"}));
    ID3v2Tag tag;
    ASSERT_EQ(OpenAndRead(c.theirs, tag), kTagDone);
    SetID3v2Text(tag, "TIT3", std::string(5000, 's'));
    ASSERT_TRUE(WriteID3v2(tag));
  }
  const Json after = Mutagen("read", files);
  for (const Case& c : cases)
    EXPECT_EQ(FramesBut(after[c.theirs], {"TIT3"}), FramesBut(before[c.theirs], {})) << c.theirs;
}

// Where we and mutagen read a peer file differently on purpose (-1: mutagen
// cannot load the file at all). mutagen drops comment frames whose language
// bytes are not ASCII ("en\xCC"); we keep them: a comment needs only its four
// leading bytes. mutagen reads the extended header's length a second time
// past the tag, so it cannot load a file that is only a tag with an extended
// header, before or after our rewrite.
const std::pair<std::string, int> kDifferences[] = {
    {"ozzy.tag", kFieldComment},        {"thatspot.mp3", kFieldComment},
    {"thatspot.tag", kFieldComment},    {"id3v24_extended_header.id3", -1},
    {"github-issue-91.id3", -1}};

bool Known(const std::string& file, int field) {
  return std::count(std::begin(kDifferences), std::end(kDifferences), std::pair(file, field)) > 0;
}

std::vector<std::string> Fields(const ID3v2Tag& tag) {
  std::vector<std::string> out;
  for (int i = 0; i < kID3v2FieldCount; ++i) out.push_back(GetID3v2Field(tag, i));
  return out;
}

TEST(ID3v2Peers, EveryFileOpensReadsAndRewritesLikeMutagenReadsIt) {
  std::ifstream index(DataPath("peers/INDEX.tsv"));
  std::vector<std::string> names, copies;
  TempDir dir;
  std::string line, project, file;
  std::getline(index, line);  // column names
  // Copied to ".mp3" names: the tag code touches no others.
  while (std::getline(index, project, '\t') && std::getline(index, file, '\t') && std::getline(index, line)) {
    names.push_back(file);
    copies.push_back(dir.file(std::to_string(copies.size()) + ".mp3"));
    WriteFileBytes(copies.back(), ReadFileBytes(DataPath("peers/" + project + "/" + file)));
  }
  ASSERT_GE(copies.size(), 80u);
  const Json theirFields = Mutagen("fields", copies), before = Mutagen("read", copies);

  std::size_t compared = 0;
  for (std::size_t i = 0; i < copies.size(); ++i) {
    SCOPED_TRACE(names[i]);
    ID3v2Tag tag;
    const int result = OpenID3v2(copies[i], tag, 4);
    ASSERT_NE(result, kTagFailed);
    const bool whole = ReadID3v2Frames(tag);
    const std::vector<std::string> ours = Fields(tag);
    if (const Json& theirs = theirFields[copies[i]]["values"]; !theirs.isNull()) {
      EXPECT_TRUE(result == kTagDone && whole) << "mutagen reads a tag here";
      ++compared;
      for (int k = 0; k < kID3v2FieldCount; ++k)
        EXPECT_EQ(ours[k], Known(names[i], k) ? ours[k] : theirs[k].string) << k;
    }
    // In place when it fits, then grown through the temporary file: the
    // other fields stay as they were.
    for (std::size_t grow : {0, 5000}) {
      ASSERT_NE(OpenAndRead(copies[i], tag), kTagFailed);
      ASSERT_TRUE(SetID3v2Text(tag, "TIT3", std::string(grow, 's') + "sub"));
      ASSERT_TRUE(SetID3v2Text(tag, "TIT2", "velotag"));
      ASSERT_TRUE(WriteID3v2(tag)) << grow;
      ASSERT_EQ(OpenAndRead(copies[i], tag), kTagDone);
      std::vector<std::string> now = Fields(tag);
      EXPECT_EQ(now[kFieldTitle], "velotag");
      now[kFieldTitle] = ours[kFieldTitle];
      EXPECT_EQ(now, ours) << "grow " << grow;
    }
  }
  EXPECT_GE(compared, 55u);

  // Whatever mutagen saw before our rewrites it still sees, the title and
  // subtitle aside.
  const Json after = Mutagen("read", copies);
  const std::set<std::string> changed = {"TIT2", "TIT3", "TT2", "TT3"};
  for (std::size_t i = 0; i < copies.size(); ++i) {
    const Json &was = before[copies[i]], &is = after[copies[i]];
    EXPECT_TRUE(Known(names[i], -1) || !is.has("error")) << names[i] << is["error"].string;
    if (!was.has("error")) {
      EXPECT_EQ(FramesBut(is, changed), FramesBut(was, changed)) << names[i];
    }
  }
}

}  // namespace
}  // namespace velotag
