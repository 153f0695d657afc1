#include "support/ini.h"

#include <gtest/gtest.h>

namespace velotag {
namespace {

std::string Value(const IniDocument& doc, const std::string& section, const std::string& key) {
  std::string v;
  EXPECT_TRUE(GetIniValue(section, key, v, doc)) << section << "/" << key;
  return v;
}

TEST(IniParse, KeyLinesAndTheirValues) {
  IniDocument doc;
  EXPECT_EQ(ParseIniText("[options]\r\nLastPath=/home/u\\\\Music\r\n  Pad  =  a b  \r\n"
                         "a=b=c\r\n=nokey\r\nnoequals\r\n;comment=1\r\n",
                         doc, true),
            1);
  ASSERT_EQ(doc.size(), 1u);
  ASSERT_EQ(doc[0].Keys.size(), 3u);
  EXPECT_EQ(Value(doc, "options", "LastPath"), "/home/u\\Music");
  EXPECT_EQ(doc[0].Keys[1].Key, "Pad");
  EXPECT_EQ(doc[0].Keys[1].Value, "  a b  ");
  EXPECT_EQ(Value(doc, "options", "a"), "b=c");
}

TEST(IniParse, BrokenHeadersKeepTheCurrentSection) {
  IniDocument doc;
  EXPECT_EQ(ParseIniText("k0=dropped\n[one]\nk1=1\n[abc\nk2=2\n[]\nk3=3\n  [two] trailing\n"
                         "k4=4\rstill4\n",
                         doc, false),
            2);
  ASSERT_EQ(doc.size(), 2u);
  EXPECT_EQ(doc[0].Name, "one");
  EXPECT_EQ(doc[0].Keys.size(), 3u);
  EXPECT_EQ(doc[1].Name, "two");
  EXPECT_EQ(Value(doc, "two", "k4"), "4\rstill4");  // a lone CR stays inside its line
}

TEST(IniParse, EmptyTextClearsTheDocument) {
  IniDocument doc{{"x", {}}};
  EXPECT_EQ(ParseIniText("", doc, true), 0);
  EXPECT_TRUE(doc.empty());
}

TEST(IniLookup, TrimsTheSearchedNameAndIgnoresCase) {
  IniDocument doc;
  ParseIniText("[Options]\nKey=1\n[ spaced ]\nk=2\n[ÁRVÍZ]\nŐ=3", doc, true);
  EXPECT_EQ(FindIniSection("  options ", doc), 0);
  EXPECT_EQ(FindIniSection("OPTIONS", doc), 0);
  EXPECT_EQ(FindIniSection("spaced", doc), -1);  // stored with its spaces
  EXPECT_EQ(FindIniSection("árvíz", doc), 2);
  EXPECT_EQ(Value(doc, "árvíz", "ő"), "3");
  EXPECT_EQ(FindIniSection("missing", IniDocument{}), -1);
  std::string v = "stale";
  EXPECT_FALSE(GetIniValue("options", "nokey", v, doc));
  EXPECT_EQ(v, "");
}

TEST(IniLookup, EmptyKeyNeverMatchesAFreeSlot) {
  std::vector<IniKey> keys{{"", ""}, {"", "orphan"}};
  EXPECT_EQ(FindIniKey("", keys), 1);
  EXPECT_EQ(FindIniKey("  ", std::vector<IniKey>{{"", ""}}), -1);
}

TEST(IniMerge, LastValueWinsAtTheFirstPosition) {
  IniDocument doc;
  ParseIniText("[s]\na=1\nb=1\n[t]\nx=0\n[S]\nA=2\nc=3", doc, true);
  MergeIniDuplicates(doc);
  std::string text = BuildIniText(doc, true);
  EXPECT_EQ(text, "[s]\r\na=2\r\nb=1\r\nc=3\r\n[t]\r\nx=0");
}

TEST(IniBuild, EmptyDocumentsAndKeylessSections) {
  IniDocument doc;
  EXPECT_EQ(BuildIniText(doc, true), "");
  doc.push_back({"only", {}});
  EXPECT_EQ(BuildIniText(doc, true), "[only]");
  RemoveEmptyIniSections(doc);
  EXPECT_EQ(BuildIniText(doc, true), "");
}

TEST(IniBuild, SetValueCreatesReusesAndTrims) {
  IniDocument doc;
  EXPECT_FALSE(SetIniValue("options", "a", "1", doc, false));
  EXPECT_TRUE(SetIniValue("options", "a", "1", doc, true));
  EXPECT_TRUE(SetIniValue(" OPTIONS ", " A ", "2", doc, true));
  doc[0].Keys.push_back({"", ""});
  EXPECT_TRUE(SetIniValue("options", "b", "3", doc, true));
  EXPECT_EQ(doc[0].Keys.size(), 2u);  // the free slot was reused
  EXPECT_EQ(BuildIniText(doc, true), "[options]\r\na=2\r\nb=3");
}

TEST(IniBuild, VbCrLfMarkerWithoutEscapes) {
  IniDocument doc;
  SetIniValue("s", "k", "a\r\nb", doc, true);
  EXPECT_EQ(BuildIniText(doc, false), "[s]\r\nk=a#vbcrlf#b");
  ParseIniText("[s]\nk=a#VBCRLF#b#vbCrLf#", doc, false);
  EXPECT_EQ(Value(doc, "s", "k"), "a\r\nb\r\n");
}

struct EscapeCase {
  std::string text;
  std::string escaped;
};

TEST(IniEscape, BothWays) {
  const EscapeCase cases[] = {
      {"a\\b", "a\\\\b"},
      {"x\r\ny", "x\\r\\ny"},
      {"\t", "\\t"},
      {std::string("\0", 1), "\\0"},
      {"\x01\x1F", "\\h01\\h1F"},
      {"\xC5\x91", "\\x0151"},           // U+0151 beyond the code page
      {"caf\xC3\xA9", "caf\xC3\xA9"},    // 32..255 stays
      {"\xF0\x9F\x98\x80", "\\xD83D\\xDE00"},
  };
  for (const EscapeCase& c : cases) {
    EXPECT_EQ(EscapeIniValue(c.text), c.escaped);
    EXPECT_EQ(UnescapeIniValue(c.escaped), c.text);
  }
}

TEST(IniEscape, UnescapeQuirks) {
  EXPECT_EQ(UnescapeIniValue("\\X0151\\H01"), "\xC5\x91\x01");
  EXPECT_EQ(UnescapeIniValue("\\q"), "q");
  EXPECT_EQ(UnescapeIniValue("end\\"), "end");
  EXPECT_EQ(UnescapeIniValue("\\xZZZZ!"), std::string("\0!", 2));
  EXPECT_EQ(UnescapeIniValue("\\N\\R\\T"), "\n\r\t");
}

TEST(IniRoundTrip, AnyValueSurvivesBuildAndParse) {
  const std::string values[] = {"", " lead and trail ", "a=b", "[not a section]",
                                "line1\r\nline2\nline3\r", "\\\\server\\share", "ő€😀\x01"};
  IniDocument doc;
  for (std::size_t i = 0; i < std::size(values); ++i)
    SetIniValue("options", "k" + std::to_string(i), values[i], doc, true);
  IniDocument back;
  ParseIniText(BuildIniText(doc, true), back, true);
  for (std::size_t i = 0; i < std::size(values); ++i)
    EXPECT_EQ(Value(back, "options", "k" + std::to_string(i)), values[i]);
}

}  // namespace
}  // namespace velotag
