#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "grid/mylistview.h"
#include "support/textenc.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::Bytes;
using Cols = std::vector<std::string>;

Bytes Utf16(std::u16string_view text, bool bigEndian = false) {
  Bytes out;
  for (char16_t u : text) {
    out.push_back(static_cast<std::uint8_t>(bigEndian ? u >> 8 : u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(bigEndian ? u & 0xFF : u >> 8));
  }
  return out;
}

struct Row {
  Cols cols;
  std::int32_t flags = 0;
  bool operator==(const Row&) const = default;
};

// A grid's column headers and rows.
struct Table {
  Cols headers;
  std::vector<Row> rows{};
  bool operator==(const Table&) const = default;
};

void Build(MyListview& grid, const Table& t) {
  grid.SetColumnCount(static_cast<std::int32_t>(t.headers.size()));
  for (std::size_t c = 0; c < t.headers.size(); ++c)
    grid.SetColumnheaderValue(static_cast<std::int32_t>(c), t.headers[c], false);
  for (const Row& r : t.rows) ASSERT_TRUE(grid.InsertItem(r.cols, -1, false, r.flags));
}

Table Dump(const MyListview& grid) {
  Table t;
  for (std::int32_t c = 0; c < grid.ColumnCount(); ++c)
    t.headers.push_back(grid.GetColumnheaderValue(c));
  t.rows.resize(static_cast<std::size_t>(grid.ItemCount()));
  for (std::int32_t i = 0; i < grid.ItemCount(); ++i) {
    grid.GetItem(i, t.rows[static_cast<std::size_t>(i)].cols);
    t.rows[static_cast<std::size_t>(i)].flags = grid.GetItemFlags(i);
  }
  return t;
}

// ---- Writing ------------------------------------------------------------------------------

TEST(CsvWrite, ByteForByte) {
  struct Case {
    Table table;
    bool unicode, bom;
    Bytes expected;
  } const cases[] = {
      // Quoting, missing cells, line breaks, the mark.
      {{{"a\"b", "x;y", ""},
        {{{"a;b", "say \"hi\"", "  lead"}, 1}, {{"x"}, 3}, {{"", "\"", "line\r\nbreak"}, 0},
         {{"q\";\"", "-"}, -1}}},
       true, true,
       Utf16(u"\xFEFF\"a\"\"b\";\"x;y\";\"\"\r\n\"a;b\";\"say \"\"hi\"\"\";  lead;1\r\nx;;;3\r\n"
             u";\"\"\"\";line\r\nbreak;0\r\n\"q\"\";\"\"\";-;;-1\r\n")},
      // One byte per character, "?" for what has none, and never a mark.
      {{{"T\xC3\xAFtle"}, {{{"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"}, 2}}}, false, true,
       test::ToBytes("\"T\xEFtle\"\r\n\xE9??;2\r\n")},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    MyListview grid;
    Build(grid, c.table);
    ASSERT_TRUE(grid.SaveCSV(dir.file("out.csv"), c.unicode, c.bom));
    EXPECT_EQ(test::ReadFileBytes(dir.file("out.csv")), c.expected) << c.table.headers[0];
  }
}

TEST(CsvWrite, FailuresAreReportedAndLeaveNoFile) {
  MyListview grid;
  Build(grid, {{"a"}, {{{"x"}}}});
  test::TempDir dir;
  // On a full disk the write fails, and the device is not removed for it.
  for (const std::string& path :
       {dir.file("missing/out.csv"), dir.path(), std::string(), std::string("/dev/full")})
    EXPECT_FALSE(grid.SaveCSV(path, true, false)) << path;
  struct stat st {};
  EXPECT_TRUE(::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
}

// ---- Round trips --------------------------------------------------------------------------

// Saved in every form and loaded in pieces of any size: the piece edges fall
// inside surrogate pairs, between CR and LF and inside long lines.
TEST(CsvRoundTrip, AwkwardCellsInEveryFormAndPieceSize) {
  const std::string emoji = "\xF0\x9F\x98\x80";
  Table table = {{"A", "B;x", "C\"q", "D"},
                 {{{"semi;colon", "\"quoted\"", "  lead", emoji + " beyond"}, 3},
                  {{"  lead0", "mixed;\"both\"", "", "end"}},
                  {{"cr\r\nlf", "x", "y", "z"}, 1}}};
  // Leading blanks survive only in column 0; a CR LF inside a cell splits
  // its row in two.
  Table expected = table;
  expected.rows[0].cols[2] = "lead";
  expected.rows[2] = {{"lf", "x", "y", "z"}, 1};
  expected.rows.insert(expected.rows.begin() + 2, {{"cr", "", "", ""}});
  for (int i = 0; i < 300; ++i) {
    Row row = {{std::string(static_cast<std::size_t>(i * 7 % 300), 'a') + emoji,
                "Bj\xC3\xB6rk" + std::string(static_cast<std::size_t>(i % 5), ';'), "", "\""},
               i % 4};
    table.rows.push_back(row);
    expected.rows.push_back(row);
  }
  MyListview grid;
  Build(grid, table);
  test::TempDir dir;
  // Big-endian files differ only in how a unit is put together (see CsvLoad).
  const std::string mark = dir.file("mark.csv"), le = dir.file("le.csv"), ansi = dir.file("ansi.csv");
  ASSERT_TRUE(grid.SaveCSV(mark, true, true) && grid.SaveCSV(le, true, false) &&
              grid.SaveCSV(ansi, false, true));
  for (const std::string& file : {mark, le, ansi}) {
    Table want = expected;
    if (file == ansi)  // one byte per character
      for (Row& r : want.rows)
        for (std::string& cell : r.cols)
          if (auto at = cell.find(emoji); at != std::string::npos) cell.replace(at, 4, "?");
    for (std::int32_t size : {-5, 129, 1000, 5001, 2000000}) {  // the least read is 128 bytes
      MyListview back;
      back.SetColumnCount(9);
      ASSERT_TRUE(back.LoadCSV(file, size, file != ansi)) << file << " " << size;
      EXPECT_TRUE(Dump(back) == want) << file << " " << size;
    }
  }
  // Rows keep the cells they had: "cr" has one, an empty cell stays a cell.
  MyListview back;
  ASSERT_TRUE(back.LoadCSV(le, 4096, true));
  EXPECT_EQ(back.FindString(0, 2, "", true, kCompareBinary), 1);
  EXPECT_EQ(back.FindString(0, 1, "", true, kCompareBinary), -1);
}

// ---- Loading ------------------------------------------------------------------------------

// Loaded into a grid of two columns and one row: a file replaces both; one
// that gives nothing leaves them.
TEST(CsvLoad, MarksByteOrdersCodePagesAndFields) {
  const std::u16string text = u"\"h1\";\"h\u00E9\"\r\na;\U0001F600;2\r\n";
  const Table loaded = {{"h1", "h\xC3\xA9"}, {{{"a", "\xF0\x9F\x98\x80"}, 2}}};
  const Table before = {{"", ""}, {{{"kept", "row"}}}};
  struct Case {
    const char* name;
    Bytes file;
    bool unicode, ok;
    Table table;
  } const cases[] = {
      {"big-endian with mark", Utf16(u"\xFEFF" + text, true), true, true, loaded},
      // Blank lines skipped; a final separator adds nothing; fields beyond the
      // header dropped, missing ones empty; the last field the Flags (a number
      // at its start); blanks skipped only after a separator; text after a
      // closing quote dropped, or without a separator the next field; a quote
      // never closed takes the rest, only doubled ones up to the end.
      {"more and fewer fields",
       Utf16(u"\r\n\r\n\"c0\";\"c1\";\"c2\";\r\na;b;c;3;junk\r\n\r\np;q\r\nx;y;z\r\n"
             u"u;v;w; 2.6xyz\r\n;\r\n  a;  b ;c\r\na; \"b;c\";\"say \"\"hi\"\"\"\r\n\"ab\"cd;ef\r\n"
             u"\"ab\"cd\r\n\"abc\"\"\r\n\"open;no close;1\r\nlast;1;2;1"),
       true, true,
       {{"c0", "c1", "c2"},
        {{{"a", "b", "c"}, 3}, {{"p", "q", ""}}, {{"x", "y", "z"}}, {{"u", "v", "w"}, 3},
         {{"", "", ""}}, {{"  a", "b ", "c"}}, {{"a", "b;c", "say \"hi\""}}, {{"ab", "ef", ""}},
         {{"ab", "cd", ""}}, {{"abc\"", "", ""}}, {{"\"open;no close;1", "", ""}},
         {{"last", "1", "2"}, 1}}}},
      {"line ends only", Utf16(u"\r\n\r\n"), true, true, {{"", ""}}},  // emptied, columns kept
      {"an odd last byte",  // dropped: it cannot be a character
       [] { Bytes b = Utf16(u"\"h\"\r\nx;1\r\n"); b.push_back(0x41); return b; }(), true, true,
       {{"h"}, {{{"x"}, 1}}}},
      {"one byte", {0x41}, true, true, {{"", ""}}},
      {"empty", {}, true, false, before},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    test::WriteFileBytes(dir.file("in.csv"), c.file);
    MyListview grid;
    Build(grid, before);
    EXPECT_EQ(grid.LoadCSV(dir.file("in.csv"), 4096, c.unicode), c.ok) << c.name;
    EXPECT_TRUE(Dump(grid) == c.table) << c.name;
  }
  MyListview grid;
  Build(grid, before);
  EXPECT_FALSE(grid.LoadCSV(dir.file("missing.csv"), 4096, true));
  EXPECT_FALSE(grid.LoadCSV(dir.path(), 4096, true));
  EXPECT_TRUE(Dump(grid) == before);
}

}  // namespace
}  // namespace velotag
