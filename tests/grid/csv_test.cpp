#include <sys/stat.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "grid/mylistview.h"
#include "support/textenc.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::Bytes;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using Cols = std::vector<std::string>;

Bytes Le(std::u16string_view text) {
  Bytes out;
  for (char16_t u : text) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return out;
}

Bytes Be(std::u16string_view text) {
  Bytes out;
  for (char16_t u : text) {
    out.push_back(static_cast<std::uint8_t>(u >> 8));
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
  }
  return out;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Row {
  Cols cols;
  std::int32_t flags;
  bool operator==(const Row&) const = default;
};

void PrintTo(const Row& r, std::ostream* os) {
  *os << "{";
  for (const std::string& c : r.cols) *os << "[" << c << "]";
  *os << " flags " << r.flags << "}";
}

void Build(MyListview& grid, const Cols& headers, const std::vector<Row>& rows) {
  grid.SetColumnCount(static_cast<std::int32_t>(headers.size()));
  for (std::size_t c = 0; c < headers.size(); ++c)
    grid.SetColumnheaderValue(static_cast<std::int32_t>(c), headers[c], false);
  for (const Row& r : rows) ASSERT_TRUE(grid.InsertItem(r.cols, -1, false, r.flags));
}

std::vector<Row> Dump(const MyListview& grid) {
  std::vector<Row> out;
  for (std::int32_t i = 0; i < grid.ItemCount(); ++i) {
    Row r;
    grid.GetItem(i, r.cols);
    r.flags = grid.GetItemFlags(i);
    out.push_back(r);
  }
  return out;
}

Cols Headers(const MyListview& grid) {
  Cols out;
  for (std::int32_t c = 0; c < grid.ColumnCount(); ++c) out.push_back(grid.GetColumnheaderValue(c));
  return out;
}

// ---- Writing ------------------------------------------------------------------------------

struct WriteCase {
  const char* name;
  Cols headers;
  std::vector<Row> rows;
  bool unicode;
  bool bom;
  Bytes expected;
};

TEST(CsvWrite, ByteForByte) {
  const WriteCase cases[] = {
      {"two columns, one checked row",
       {"filename", "Track"},
       {{{"a.mp3", "01"}, 2}},
       true,
       false,
       Le(u"\"filename\";\"Track\"\r\na.mp3;01;2\r\n")},
      {"quoting, missing cells, line breaks, mark",
       {"a\"b", "x;y", ""},
       {{{"a;b", "say \"hi\"", "  lead"}, 1},
        {{"x"}, 3},
        {{"", "\"", "line\r\nbreak"}, 0},
        {{"q\";\"", "-"}, -1}},
       true,
       true,
       Le(u"\xFEFF\"a\"\"b\";\"x;y\";\"\"\r\n"
          u"\"a;b\";\"say \"\"hi\"\"\";  lead;1\r\n"
          u"x;;;3\r\n"
          u";\"\"\"\";line\r\nbreak;0\r\n"
          u"\"q\"\";\"\"\";-;;-1\r\n")},
      {"beyond U+FFFF",
       {"h"},
       {{{"\xF0\x9F\x98\x80" "\xC3\xA9"}, 0}},
       true,
       false,
       Le(u"\"h\"\r\n\U0001F600\u00E9;0\r\n")},
      {"single-byte code page",
       {"T\xC3\xAFtle"},
       {{{"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"}, 2}},
       false,
       true,  // no mark without Unicode
       test::ToBytes("\"T\xEFtle\"\r\n\xE9??;2\r\n")},
      {"no rows",
       {"a", "b"},
       {},
       false,
       false,
       test::ToBytes("\"a\";\"b\"\r\n")},
  };
  TempDir dir;
  for (const WriteCase& c : cases) {
    MyListview grid;
    Build(grid, c.headers, c.rows);
    std::string file = dir.file("out.csv");
    ASSERT_TRUE(grid.SaveCSV(file, c.unicode, c.bom)) << c.name;
    EXPECT_EQ(ReadFileBytes(file), c.expected) << c.name;
  }
}

// Cells long enough for the block copies, with characters of every length at
// every offset, quotes and separators: the file must hold exactly what the
// text layer's own UTF-16 conversion makes of each quoted cell.
TEST(CsvWrite, LongMixedCellsEncodeLikeTheTextLayer) {
  const char* pieces[] = {"abcdefg", "x", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                          ";", "\"", " ", "\xE9", "\xED\xA0\xBD", "0123456789abcdef"};
  std::mt19937 rng(3);
  MyListview grid;
  grid.SetColumnCount(3);
  std::u16string expected = u"\"\";\"\";\"\"\r\n";
  for (int r = 0; r < 400; ++r) {
    Cols cols;
    for (int c = 0; c < 3; ++c) {
      std::string cell;
      int n = static_cast<int>(rng() % 12);
      for (int k = 0; k < n; ++k) cell += pieces[rng() % std::size(pieces)];
      cols.push_back(cell);
      std::u16string units = Utf8ToUtf16(cell);
      if (cell.find('"') != std::string::npos) {
        std::u16string doubled;
        for (char16_t u : units) {
          if (u == u'"') doubled += u'"';
          doubled += u;
        }
        units = u"\"" + doubled + u"\"";
      } else if (cell.find(';') != std::string::npos) {
        units = u"\"" + units + u"\"";
      }
      expected += units + u";";
    }
    expected += u"0\r\n";
    ASSERT_TRUE(grid.InsertItem(cols, -1, false));
  }
  TempDir dir;
  ASSERT_TRUE(grid.SaveCSV(dir.file("mixed.csv"), true, false));
  EXPECT_TRUE(ReadFileBytes(dir.file("mixed.csv")) == Le(expected));
}

TEST(CsvWrite, LargeListsComeBackWhole) {
  MyListview grid;
  std::vector<Row> rows;
  for (int i = 0; i < 4000; ++i) {
    std::string name = "track " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 37), 'x');
    rows.push_back({{name, i % 3 ? "Bj\xC3\xB6rk" : "a;b", std::to_string(i * 7)}, i % 4});
  }
  Build(grid, {"filename", "Artist", "Size"}, rows);
  TempDir dir;
  for (bool unicode : {true, false}) {
    std::string file = dir.file("big.csv");
    ASSERT_TRUE(grid.SaveCSV(file, unicode, false));
    Bytes bytes = ReadFileBytes(file);
    Bytes tail = unicode ? Le(u"\r\n") : test::ToBytes("\r\n");
    ASSERT_GE(bytes.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), bytes.end() - static_cast<long>(tail.size())));
    MyListview back;
    ASSERT_TRUE(back.LoadCSV(file, 4096, unicode));
    EXPECT_EQ(Headers(back), (Cols{"filename", "Artist", "Size"}));
    EXPECT_TRUE(Dump(back) == rows) << unicode;
  }
}

TEST(CsvWrite, FailuresAreReportedAndLeaveNoFile) {
  MyListview grid;
  Build(grid, {"a"}, {{{"x"}, 0}});
  TempDir dir;
  EXPECT_FALSE(grid.SaveCSV(dir.file("missing/out.csv"), true, false));
  EXPECT_FALSE(grid.SaveCSV(dir.path(), true, false));
  EXPECT_FALSE(grid.SaveCSV("", true, false));
  // A full disk: the write fails, and the device is not removed for it.
  EXPECT_FALSE(grid.SaveCSV("/dev/full", true, false));
  struct stat st {};
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// ---- Round trips --------------------------------------------------------------------------

TEST(CsvRoundTrip, AwkwardCells) {
  const Cols headers = {"A", "B;x", "C\"q", "D"};
  const std::vector<Row> rows = {
      {{"semi;colon", "\"quoted\"", "  lead", "\xF0\x9F\x98\x80 beyond"}, 3},
      {{"  lead0", "mixed;\"both\"", "", "end"}, 0},
      {{"cr\r\nlf", "x", "y", "z"}, 1},
  };
  // Leading blanks survive only in column 0; a CR LF inside a cell splits
  // its row in two on loading.
  const std::vector<Row> expected = {
      {{"semi;colon", "\"quoted\"", "lead", "\xF0\x9F\x98\x80 beyond"}, 3},
      {{"  lead0", "mixed;\"both\"", "", "end"}, 0},
      {{"cr", "", "", ""}, 0},
      {{"lf", "x", "y", "z"}, 1},
  };
  MyListview grid;
  Build(grid, headers, rows);
  TempDir dir;
  std::string file = dir.file("rt.csv");
  for (bool bom : {true, false}) {
    ASSERT_TRUE(grid.SaveCSV(file, true, bom));
    MyListview back;
    back.SetColumnCount(9);
    ASSERT_TRUE(back.LoadCSV(file, 128, true));
    EXPECT_EQ(Headers(back), headers);
    EXPECT_EQ(Dump(back), expected) << bom;
    EXPECT_EQ(back.FindString(0, 2, "", true, kCompareBinary), 1);
    EXPECT_EQ(back.FindString(0, 1, "", true, kCompareBinary), -1);  // "cr" has one cell
  }
  ASSERT_TRUE(grid.SaveCSV(file, false, false));
  MyListview back;
  ASSERT_TRUE(back.LoadCSV(file, 128, false));
  std::vector<Row> ansi = expected;
  ansi[0].cols[3] = "? beyond";
  EXPECT_EQ(Dump(back), ansi);
}

// ---- Loading ------------------------------------------------------------------------------

struct LoadCase {
  const char* name;
  Bytes file;
  bool unicode;
  Cols headers;
  std::vector<Row> rows;
};

TEST(CsvLoad, MarksByteOrdersAndCodePages) {
  const std::u16string text = u"\"h1\";\"h\u00E9\"\r\na;\U0001F600;2\r\n";
  const std::vector<Row> rows = {{{"a", "\xF0\x9F\x98\x80"}, 2}};
  const LoadCase cases[] = {
      {"little-endian with mark", Cat({0xFF, 0xFE}, Le(text)), true, {"h1", "h\xC3\xA9"}, rows},
      {"big-endian with mark", Cat({0xFE, 0xFF}, Be(text)), true, {"h1", "h\xC3\xA9"}, rows},
      {"little-endian without mark", Le(text), true, {"h1", "h\xC3\xA9"}, rows},
      {"single-byte", test::ToBytes("\"h\xE9\"\r\nv\xE9;1\r\n"), false, {"h\xC3\xA9"},
       {{{"v\xC3\xA9"}, 1}}},
      // A single-byte file read as UTF-16 is not converted: one line of
      // nonsense, which becomes the header.
      {"single-byte read as UTF-16", test::ToBytes("\"a\";\"b\"\r\nx;y;0\r\n"), true,
       {"\xE6\x84\xA2\xE3\xAC\xA2\xE6\x88\xA2\xE0\xB4\xA2\xE7\xA0\x8A\xE7\xA4\xBB\xE3\x80\xBB"
        "\xE0\xA8\x8D"},
       {}},
  };
  TempDir dir;
  for (const LoadCase& c : cases) {
    std::string file = dir.file("in.csv");
    WriteFileBytes(file, c.file);
    MyListview grid;
    grid.InsertItem({"old"}, -1, false);
    ASSERT_TRUE(grid.LoadCSV(file, 4096, c.unicode)) << c.name;
    EXPECT_EQ(Headers(grid), c.headers) << c.name;
    EXPECT_EQ(Dump(grid), c.rows) << c.name;
  }
}

TEST(CsvLoad, MoreAndFewerFieldsThanColumns) {
  TempDir dir;
  std::string file = dir.file("fields.csv");
  WriteFileBytes(file, Le(u"\r\n\r\n\"c0\";\"c1\";\"c2\"\r\n"
                          u"a;b;c;3;junk\r\n"
                          u"\r\n"
                          u"p;q\r\n"
                          u"x;y;z\r\n"
                          u"u;v;w; 2.6xyz\r\n"
                          u";\r\n"
                          u"\"open;no close;1\r\n"
                          u"last;1;2;1"));
  MyListview grid;
  grid.SetColumnCount(7);
  ASSERT_TRUE(grid.LoadCSV(file, 0, true));
  EXPECT_EQ(grid.ColumnCount(), 3);
  EXPECT_EQ(grid.GetColumnheaderWidth(0), -1);
  EXPECT_EQ(Dump(grid), (std::vector<Row>{{{"a", "b", "c"}, 3},
                                          {{"p", "q", ""}, 0},
                                          {{"x", "y", "z"}, 0},
                                          {{"u", "v", "w"}, 3},
                                          {{"", "", ""}, 0},
                                          {{"\"open;no close;1", "", ""}, 0},
                                          {{"last", "1", "2"}, 1}}));
  // Rows with fewer fields store fewer cells.
  EXPECT_EQ(grid.FindString(0, 2, "", true, kCompareBinary), -1);
  EXPECT_EQ(grid.FindString(0, 0, "", true, kCompareBinary), 4);
}

// Chunk edges fall inside surrogate pairs, between CR and LF and inside long
// lines; the result must not depend on where they fall.
TEST(CsvLoad, ReadSizeDoesNotChangeTheResult) {
  std::u16string text = u"\"name\";\"v\"\r\n";
  std::vector<Row> rows;
  for (int i = 0; i < 60; ++i) {
    std::u16string cell(static_cast<std::size_t>(i * 7 % 300), u'a');
    cell += u"\U0001F600";
    text += cell + u";" + std::u16string(static_cast<std::size_t>(i % 5), u'\U00000160') + u";1\r\n";
    std::string utf8(static_cast<std::size_t>(i * 7 % 300), 'a');
    utf8 += "\xF0\x9F\x98\x80";
    std::string second;
    for (int k = 0; k < i % 5; ++k) second += "\xC5\xA0";
    rows.push_back({{utf8, second}, 1});
  }
  TempDir dir;
  std::string le = dir.file("le.csv");
  std::string be = dir.file("be.csv");
  WriteFileBytes(le, Le(text));
  WriteFileBytes(be, Cat({0xFE, 0xFF}, Be(text)));
  for (const std::string& file : {le, be}) {
    for (std::int32_t size : {-5, 1, 3, 128, 129, 130, 1000, 5001, 2000000}) {
      MyListview grid;
      ASSERT_TRUE(grid.LoadCSV(file, size, true)) << size;
      EXPECT_EQ(Headers(grid), (Cols{"name", "v"})) << size;
      EXPECT_TRUE(Dump(grid) == rows) << file << " " << size;
    }
  }
}

TEST(CsvLoad, FilesThatGiveNothing) {
  TempDir dir;
  MyListview grid;
  grid.SetColumnCount(2);
  grid.InsertItem({"kept", "row"}, -1, false);
  EXPECT_FALSE(grid.LoadCSV(dir.file("missing.csv"), 4096, true));
  WriteFileBytes(dir.file("empty.csv"), {});
  EXPECT_FALSE(grid.LoadCSV(dir.file("empty.csv"), 4096, true));
  EXPECT_FALSE(grid.LoadCSV(dir.path(), 4096, true));
  EXPECT_EQ(Dump(grid), (std::vector<Row>{{{"kept", "row"}, 0}}));
  // Line ends only: read whole, the list emptied, the columns as they were.
  WriteFileBytes(dir.file("blank.csv"), Le(u"\r\n\r\n"));
  EXPECT_TRUE(grid.LoadCSV(dir.file("blank.csv"), 4096, true));
  EXPECT_EQ(grid.ItemCount(), 0);
  EXPECT_EQ(grid.ColumnCount(), 2);
  // An odd last byte cannot be a character and is dropped.
  WriteFileBytes(dir.file("odd.csv"), Cat(Le(u"\"h\"\r\nx;1\r\n"), {0x41}));
  EXPECT_TRUE(grid.LoadCSV(dir.file("odd.csv"), 4096, true));
  EXPECT_EQ(Dump(grid), (std::vector<Row>{{{"x"}, 1}}));
  WriteFileBytes(dir.file("one.csv"), {0x41});
  EXPECT_TRUE(grid.LoadCSV(dir.file("one.csv"), 4096, true));
  EXPECT_EQ(grid.ItemCount(), 0);
}

// ---- The field parser -------------------------------------------------------------------

struct FieldCase {
  std::string line;
  std::string separator;
  Cols fields;
};

TEST(CsvFields, ParserRules) {
  const FieldCase cases[] = {
      {"", ";", {}},
      {"a;b", "", {}},
      {"a;b;c", ";", {"a", "b", "c"}},
      {"a;b;", ";", {"a", "b"}},          // a final separator adds nothing
      {"a;;b", ";", {"a", "", "b"}},
      {";", ";", {""}},
      {"  a;  b ;c", ";", {"  a", "b ", "c"}},
      {"a;   ", ";", {"a"}},
      {"\"a;b\";c", ";", {"a;b", "c"}},
      {"a; \"b;c\"", ";", {"a", "b;c"}},
      {"\"say \"\"hi\"\"\";x", ";", {"say \"hi\"", "x"}},
      {"\"\"", ";", {""}},
      {"\"\";x", ";", {"", "x"}},
      {"\"\"\"\"", ";", {"\""}},
      {"\"abc", ";", {"\"abc"}},                  // never closed: the rest, quote and all
      {"\"abc;d;e", ";", {"\"abc;d;e"}},
      {"x;\"abc;d", ";", {"x", "\"abc;d"}},
      {"\"abc\"\"", ";", {"abc\""}},              // only doubled quotes: up to the end
      {"\"ab\"cd;ef", ";", {"ab", "ef"}},         // text after the closing quote dropped
      {"\"ab\"cd", ";", {"ab", "cd"}},            // ... or, without a separator, a field
      {"\"ab\"  ;  ef", ";", {"ab", "ef"}},
      {"a::b::", "::", {"a", "b"}},
      {"\xC3\xA9;\xF0\x9F\x98\x80", ";", {"\xC3\xA9", "\xF0\x9F\x98\x80"}},
  };
  for (const FieldCase& c : cases) {
    std::vector<std::string> fields = {"stale", "stale", "stale", "stale", "stale"};
    EXPECT_EQ(SplitCsvFields(c.line, c.separator, fields),
              static_cast<std::int32_t>(c.fields.size()))
        << c.line;
    EXPECT_EQ(fields, c.fields) << c.line;
  }
}

}  // namespace
}  // namespace velotag
