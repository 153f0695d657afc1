#include "tags/id3v2_catalogue.h"

#include <gtest/gtest.h>

#include <set>

namespace velotag {
namespace {

TEST(ID3v2Catalogue, SizesAndShapeOfEachVersion) {
  struct Case {
    int version;
    std::size_t count;
    std::size_t idLength;
  };
  for (Case c : {Case{2, 63, 3}, Case{3, 74, 4}, Case{4, 83, 4}}) {
    auto cat = ID3v2Catalogue(c.version);
    ASSERT_EQ(cat.size(), c.count) << c.version;
    std::set<std::string_view> seen;
    for (const ID3v2CatalogueEntry& e : cat) {
      EXPECT_EQ(e.FrameID.size(), c.idLength) << e.FrameID;
      EXPECT_FALSE(e.Description.empty()) << e.FrameID;
      EXPECT_TRUE(seen.insert(e.FrameID).second) << "duplicate " << e.FrameID;
      for (char ch : e.FrameID) EXPECT_TRUE((ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9'));
    }
  }
  EXPECT_TRUE(ID3v2Catalogue(5).empty());
  EXPECT_EQ(ID3v2CorrespondenceTable().size(), 62u);
}

TEST(ID3v2Catalogue, EveryCorrespondenceCellIsInItsCatalogue) {
  for (const ID3v2Correspondence& row : ID3v2CorrespondenceTable()) {
    EXPECT_NE(ID3v2FrameDescription(row.v22, 2), "") << row.v22;
    EXPECT_NE(ID3v2FrameDescription(row.v23, 3), "") << row.v23;
    std::string_view v24 = row.v24.empty() ? row.v23 : row.v24;
    // TYER-style rows lead to TDRC; the 2.3-only ones with an empty cell
    // (TSIZ, TORY ...) are exactly the ones 2.4 dropped.
    if (!row.v24.empty()) {
      EXPECT_NE(ID3v2FrameDescription(v24, 4), "") << v24;
    }
  }
}

TEST(ID3v2Catalogue, Descriptions) {
  struct Case {
    const char* id;
    int version;
    const char* description;
  };
  const Case cases[] = {
      {"TYER", 4, ""},
      {"TYER", 3, "Year"},
      {" tit2 ", 3, "Title/songname/content description"},
      {"AENC", 3, "Audio encryption "},
      {"AENC", 4, "Audio encryption"},
      {"ULT", 2, "Unsychronized lyric/text transcription"},
      {"USLT", 3, "Unsychronized lyric/text transcription"},
      {"USLT", 4, "Unsynchronised lyric/text transcription"},
      {"TP1", 2, "Lead artist(s)/Lead performer(s)/Soloist(s)/Performing group"},
      {"WORS", 4, "Official Internet radio station homepage"},
      {"WORS", 3, "Official internet radio station homepage"},
      {"TALB", 2, ""},
      {"TAL", 3, ""},
      {"TIT2", 1, ""},
      {"TIT2", 5, ""},
      {"", 4, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ID3v2FrameDescription(c.id, c.version), c.description) << c.id << " " << c.version;
}

TEST(ID3v2Catalogue, Conversions) {
  struct Case {
    const char* id;
    int from, to;
    const char* result;
  };
  const Case cases[] = {
      {"TDRC", 4, 3, "TYER"}, {"TDRC", 4, 2, "TYE"},  {"tdrc", 4, 3, "TYER"},
      {"TYER", 3, 4, "TDRC"}, {"TDAT", 3, 4, "TDRC"}, {"TIME", 3, 4, "TDRC"},
      {"TRDA", 3, 4, "TDRC"}, {"TORY", 3, 4, "TDOR"}, {"TOR", 2, 4, "TDOR"},
      {"TALB", 4, 3, "TALB"}, {"TALB", 4, 2, "TAL"},  {"TAL", 2, 4, "TALB"},
      {"IPLS", 3, 4, "TIPL"}, {"EQU2", 4, 2, "EQU"},  {"RVA2", 4, 3, "RVAD"},
      {"TSOP", 4, 3, ""},     {"ZZZZ", 3, 4, ""},     {"ZZZZ", 3, 3, "ZZZZ"},
      {" x ", 4, 4, " x "},   {"TALB", 5, 3, ""},     {"TALB", 4, 1, ""},
      {" TAL", 2, 3, ""},     {"PIC", 2, 4, "APIC"},  {"COMM", 3, 2, "COM"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ConvertID3v2FrameID(c.id, c.from, c.to), c.result)
        << c.id << " " << c.from << "->" << c.to;
}

}  // namespace
}  // namespace velotag
