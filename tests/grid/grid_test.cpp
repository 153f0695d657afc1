// The grid: rows and their ItemIDs, cells, selection, sort, search, and its
// CSV files.
#include "grid/mylistview.h"
#include "grid/textmatch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/textenc.h"
#include "testutil.h"

namespace velotag {
namespace {

using Cols = std::vector<std::string>;

// Counts repaints and logs property notices and clicks.
class Host : public PlainGridSurface, public MyListviewEvents {
 public:
  void Repaint() override { ++repaints; }
  void PropertyChanged(std::string_view name) override { log.emplace_back(name); }
  void ItemClick(std::int32_t id, bool on) override { log.push_back(Said("click", id, on)); }
  void ItemCheck(std::int32_t id, bool on) override { log.push_back(Said("check", id, on)); }
  static std::string Said(const char* what, std::int32_t id, bool on) {
    return what + (" " + std::to_string(id)) + (on ? " on" : " off");
  }
  int repaints = 0;
  Cols log;
};

Cols Column(const MyListview& grid, std::int32_t col) {
  Cols out(static_cast<std::size_t>(grid.ItemCount()));
  for (std::int32_t i = 0; i < grid.ItemCount(); ++i)
    EXPECT_TRUE(grid.GetItemCol(i, col, out[static_cast<std::size_t>(i)]));
  return out;
}

Cols Item(const MyListview& grid, std::int32_t id) {
  Cols cols;
  EXPECT_TRUE(grid.GetItem(id, cols));
  return cols;
}

void Fill(MyListview& grid, const std::vector<Cols>& rows, std::int32_t columns = 1) {
  grid.SetColumnCount(columns);
  for (const Cols& r : rows) ASSERT_TRUE(grid.InsertItem(r, -1, false));
}

// ---- ItemID arithmetic ----------------------------------------------------------

// Inserts, removals and searches against a plain vector: positions must agree
// across block splits and emptied blocks, walking forwards, backwards and
// jumping.
TEST(ItemIds, ManyInsertsRemovalsAndSearchesMatchAPlainList) {
  MyListview grid;
  Cols model;
  std::mt19937 rng(7);
  auto check = [&] {
    ASSERT_EQ(Column(grid, 0), model);  // walking forwards
    std::string text;
    for (int k = 0; k < 300; ++k) {  // jumping; searching from anywhere for anything
      auto i = static_cast<std::int32_t>(rng() % model.size());
      auto start = static_cast<std::int32_t>(rng() % model.size());
      ASSERT_TRUE(grid.GetItemCol(i, 0, text));
      ASSERT_EQ(text, model[static_cast<std::size_t>(i)]);
      auto hit = std::find(model.begin() + start, model.end(), text);
      ASSERT_EQ(grid.FindString(start, 0, text, true, kCompareBinary),
                hit == model.end() ? -1 : static_cast<std::int32_t>(hit - model.begin()));
    }
    EXPECT_FALSE(grid.RemoveItem(-1, false));
    EXPECT_FALSE(grid.RemoveItem(grid.ItemCount(), false));
  };
  auto insert = [&](std::int32_t at, int step) {
    std::string text = "t" + std::to_string(step);
    ASSERT_TRUE(grid.InsertItem({text}, at, false));  // out of range: appended
    const auto n = static_cast<std::int32_t>(model.size());
    model.insert(model.begin() + (at < 0 || at > n ? n : at), text);
  };
  auto remove = [&](std::int32_t at) {
    ASSERT_TRUE(grid.RemoveItem(at, false));
    model.erase(model.begin() + at);
  };
  // Always at the front: the first block fills up and splits again and again.
  for (int step = 0; step < 3000; ++step) insert(0, step);
  check();
  for (int step = 0; step < 6000; ++step) {
    auto n = static_cast<std::uint32_t>(model.size());
    if (rng() % 10 < 6) {
      insert(static_cast<std::int32_t>(rng() % (n + 4)) - 1, step);
    } else {
      remove(static_cast<std::int32_t>(rng() % n));
    }
  }
  check();
  // Down to a few rows: whole blocks empty out and go.
  while (model.size() > 10) remove(static_cast<std::int32_t>(rng() % model.size()));
  insert(5, -1);
  check();
}

// ---- Cells and columns ---------------------------------------------------------------

// Rows store only the cells they were given; the rest read as empty but are
// no cells (an empty search never finds them).
TEST(Cells, EditsAndColumnChangesKeepEveryRowWhole) {
  MyListview grid;
  Fill(grid, {{"a0", "a1", "a2", "a3", "beyond"}, {"b0"}, {"c0", "c1", "c2"}}, 4);
  grid.SetColumnheaderValue(2, "h2", false);
  grid.SetColumnPassword(3, true, false);
  EXPECT_EQ(Item(grid, 1), (Cols{"b0", "", "", ""}));
  std::string text;
  EXPECT_FALSE(grid.GetItemCol(0, 4, text));
  ASSERT_TRUE(grid.EditItemCol(1, 2, "b2", false));  // the cells before it become stored
  EXPECT_EQ(grid.FindString(0, 1, "", true, kCompareBinary), 1);
  EXPECT_EQ(grid.FindString(0, 3, "", true, kCompareBinary), -1);
  ASSERT_TRUE(grid.EditItem(2, {"C0", "C1"}, false));  // only the cells named
  EXPECT_EQ(Item(grid, 2), (Cols{"C0", "C1", "c2", ""}));
  ASSERT_TRUE(grid.EditItem(1, {"1", "2", "3", "4", "5"}, false));
  EXPECT_EQ(Item(grid, 1), (Cols{"1", "2", "3", "4"}));
  // Removing a column shifts everything after it, headers and passwords too.
  EXPECT_FALSE(grid.RemoveCol(0, false));
  ASSERT_TRUE(grid.RemoveCol(1, false));
  EXPECT_TRUE(grid.GetColumnheaderValue(1) == "h2" && grid.GetColumnPassword(2));
  EXPECT_EQ(Item(grid, 0), (Cols{"a0", "a2", "a3"}));
  EXPECT_EQ(Item(grid, 2), (Cols{"C0", "c2", ""}));
  // Fewer columns free the cells for good; at least one column stays.
  grid.SetColumnCount(0);
  EXPECT_EQ(grid.ColumnCount(), 1);
  grid.SetColumnCount(3);
  EXPECT_EQ(Item(grid, 0), (Cols{"a0", "", ""}));
  EXPECT_EQ(grid.FindString(0, 1, "", true, kCompareBinary), -1);
}

// ---- Selection ---------------------------------------------------------------------------

TEST(Selection, BulkSelectAndCheck) {
  // Rows start with Flags 0, 1, 2, 3 and row 3 as the anchor.
  struct Case {
    bool multi;
    int selectOp, checkOp;
    std::vector<std::int32_t> flagsAfter;  // and the first selected row
  } const cases[] = {
      {true, kBulkSet, kBulkLeave, {1, 1, 3, 3, 0}},
      {true, kBulkToggle, kBulkLeave, {1, 0, 3, 2, 0}},
      {true, kBulkLeave, kBulkSet, {2, 3, 2, 3, 1}},  // anchor forgotten, rescanned
      {true, 9, 7, {3, 2, 1, 0, 0}},                   // above 3 counts as toggle
      {false, kBulkClear, kBulkLeave, {0, 1, 2, 3, -1}},
      {false, kBulkLeave, kBulkToggle, {2, 3, 0, 1, -1}},
  };
  for (const Case& c : cases) {
    MyListview grid;
    grid.SetMultiselect(c.multi);
    for (std::int32_t f = 0; f < 4; ++f) grid.InsertItem({"r"}, -1, false, f);
    grid.SetItemSelected(3, true, false);
    grid.SetAllItemSelectCheckbox(c.selectOp, c.checkOp, false);
    const std::vector<std::int32_t> flags = {grid.GetItemFlags(0), grid.GetItemFlags(1), grid.GetItemFlags(2),
                                             grid.GetItemFlags(3), grid.GetFirstSelectedItemID()};
    EXPECT_EQ(flags, c.flagsAfter) << c.multi << " " << c.selectOp << " " << c.checkOp;
  }
}

// Set and pressed: in multiselect the last row set selected is the anchor,
// a press moves it only upwards, deselecting the anchor (or, by setting, any
// row) forgets it and the first selected row is found again; single mode
// holds one row, not in the Flags. The anchor follows inserts and removals
// before it; a sort forgets it (the Flags stay with their rows), removing its
// row too.
TEST(Selection, AnchorRulesForSetsAndPresses) {
  Host host;
  MyListview grid(&host);
  grid.SetEventSink(&host);
  Fill(grid, {{"0"}, {"1"}, {"2"}, {"3"}, {"4"}, {"5"}, {"6"}});
  struct Step {
    bool multi;
    char op;  // set, deselect, press, press on the check box, reset, insert, remove, sort
    std::int32_t row, anchor;
  } const steps[] = {
      {true, 's', 3, 3},  {true, 'i', 1, 4},  {true, 'i', 4, 5},  {true, 'i', -1, 5}, {true, 'x', 0, 4},
      {true, 'o', 0, 6},  {true, 'x', 0, 5},  {true, 'x', 5, -1},  // 7 rows again, none selected
      {true, 's', 2, 2},  {true, 's', 5, 5},  {true, 's', 4, 4},  {true, 'd', 6, 2},
      {true, 's', 7, 2},  {true, 'r', 0, -1}, {true, 'p', 3, 3},  {true, 'p', 4, 3},
      {true, 'p', 1, 1},  {true, 'p', 4, 1},  {true, 'p', 1, 3},  {true, 'c', 2, 3},
      {true, 'p', 9, 3},  {false, 'p', 0, 0}, {false, 'p', 0, 0}, {false, 'c', 4, 4},
      {false, 's', 3, 3}, {false, 's', 1, 1}, {false, 'd', 6, -1}, {false, 's', 2, 2}, {false, 'o', 0, -1},
  };
  for (const Step& s : steps) {
    grid.SetMultiselect(s.multi);
    if (s.op == 's' || s.op == 'd') grid.SetItemSelected(s.row, s.op == 's', false);
    if (s.op == 'p' || s.op == 'c') grid.PressRow(s.row, s.op == 'c');
    if (s.op == 'r') grid.SetAllItemSelectCheckbox(kBulkClear, kBulkLeave, false);
    if (s.op == 'i') grid.InsertItem({"n"}, s.row, false);
    if (s.op == 'x') grid.RemoveItem(s.row, false);
    if (s.op == 'o') grid.SortByCol(0, false, false);
    EXPECT_EQ(grid.GetFirstSelectedItemID(), s.anchor) << s.op << s.row;
    for (std::int32_t r : {0, 1, 3})
      EXPECT_TRUE(s.multi || grid.GetItemSelected(r) == (r == s.anchor)) << s.op << s.row << r;
  }
  EXPECT_EQ(grid.GetItemFlags(0) & kRowSelected, 0);
  EXPECT_EQ(host.repaints, 11);  // every press and the two changes of mode
  grid.SetHasCheckBox(false);
  grid.PressRow(2, true);  // without check boxes a press is a press
  EXPECT_TRUE(grid.GetItemCheckbox(2));
  EXPECT_EQ(host.log, (Cols{"Multiselect", "click 3 on", "click 4 on", "click 1 on", "click 4 off",
                            "click 1 off", "check 2 on", "Multiselect", "click 0 on", "click 0 on",
                            "click 4 on", "check 4 on", "HasCheckBox", "click 2 on"}));
  // A removal pulls the view back into range.
  ASSERT_TRUE(grid.TrackVisible(6, false));
  grid.RemoveItem(0, false);
  EXPECT_EQ(grid.VSCROLL_VALUE(), 5);
}

// ---- Sort ------------------------------------------------------------------------------------

// Random texts over ASCII, Latin, the surrogate boundary and beyond, sorted
// twice in a row, against an independent order: binary UTF-16 units (not
// numeric, not by case), equal keys swapped by each sort (the list reversed,
// then a stable sort); a byte that is not UTF-8 reads as its Latin-1 character.
TEST(Sort, TheOrderOfUtf16UnitsWithEqualKeysSwapped) {
  const char* pieces[] = {"a", "A", "b", "0", "9", "1", " ", "\xC3\xA9", "\xE2\x82\xAC",
                          "\xEF\xBC\x81", "\xEE\x80\x80", "\xF0\x9F\x98\x80", "\xF0\x90\x80\x80",
                          "\xE9", "\xFF"};
  std::mt19937 rng(11);
  std::vector<std::pair<std::u16string, std::string>> model;
  MyListview grid;
  grid.SetColumnCount(2);
  for (int i = 0; i < 3000; ++i) {
    std::string key;
    for (int k = static_cast<int>(rng() % 3); k > 0; --k) key += pieces[rng() % std::size(pieces)];
    grid.InsertItem({std::to_string(i), key}, -1, false);
    model.emplace_back(Utf8ToUtf16(key), std::to_string(i));
  }
  for (bool ascending : {true, true, false}) {
    std::reverse(model.begin(), model.end());
    std::stable_sort(model.begin(), model.end(), [&](const auto& a, const auto& b) {
      return ascending ? a.first < b.first : b.first < a.first;
    });
    Cols expected;
    for (const auto& m : model) expected.push_back(m.second);
    grid.SortByCol(1, ascending, false);
    EXPECT_EQ(Column(grid, 0), expected) << ascending;
  }
  grid.SortByCol(5, true, false);  // no such column: the order is kept
  EXPECT_EQ(Column(grid, 0).front(), model.front().second);
}

// ---- Search -------------------------------------------------------------------------------------

TEST(Search, Variants) {
  MyListview grid;
  Fill(grid, {{"Alpha", "one", "x"}, {"beta", "Two"}, {"Gamma", "", "x"}, {"alphabet", "three", ""},
              {"Kilo", "Stra\xC3\x9F" "e", "end"}}, 3);
  struct Case {
    std::int32_t start, col;
    std::string text;
    bool whole;
    int compare;
    std::int32_t expected;
  } const cases[] = {
      {0, 0, "alpha", true, kCompareText, 0},
      {0, 0, "alpha", false, kCompareBinary, 3},
      {4, 0, "ALPHA", false, kCompareText, -1},  // no wrap-around
      {0, 2, "", true, kCompareText, 3},         // empty: a stored empty cell, binary
      {0, -1, "", false, kCompareBinary, 2},     // any column
      {0, -1, "SS", false, kCompareText, 4},     // ß folds to ss: the row is known not ASCII
      {-1, 0, "Alpha", true, kCompareText, -1},  // out of range
  };
  for (const Case& c : cases)
    EXPECT_EQ(grid.FindString(c.start, c.col, c.text, c.whole, c.compare), c.expected)
        << c.start << " " << c.col << " '" << c.text << "' " << c.whole << " " << c.compare;
}

// Random cells and search texts (ligatures, the Kelvin sign, combining marks,
// ...): the matcher must agree with folding both texts and comparing,
// whichever path it takes.
TEST(FoldShortcut, MatcherAgreesWithPlainFolding) {
  const char* pieces[] = {"a", "B", "ss", "S", "k", " ", "\xC3\xA9", "\xC3\x89", "e\xCC\x81",
                          "\xC3\x9F", "\xE2\x84\xAA", "\xEF\xAC\x81", "fi", "\xC4\xB0", "i",
                          "\xCC\x81", "\xE9", "\xF0\x9F\x98\x80", "x"};
  std::mt19937 rng(5);
  auto text = [&](unsigned maxLen) {
    std::string s;
    for (unsigned k = rng() % (maxLen + 1); k > 0; --k) s += pieces[rng() % std::size(pieces)];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    std::string cell = text(8), needle = text(3);
    if (needle.empty()) continue;
    bool whole = rng() % 4 == 0;
    std::string fc = CaseFold(cell), fn = CaseFold(needle);
    bool expected = whole ? fc == fn : fc.find(fn) != std::string::npos;
    ASSERT_EQ(grid_detail::CellMatcher(needle, whole, true).Matches(cell, false), expected)
        << "'" << cell << "' '" << needle << "'";
  }
}

// ---- CSV: grids as tables ----------------------------------------------------------------------

using test::Bytes;

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

// ---- CSV: writing --------------------------------------------------------------------------

TEST(CsvWrite, ByteForByte) {
  struct Case {
    Table table;
    bool unicode, bom;
    Bytes expected;
  } const cases[] = {
      // Quoting, missing cells, line breaks, the mark.
      {{{"a\"b", "x;y", ""},
        {{{"a;b", "say \"hi\"", "  lead"}, 1}, {{"x;y"}, 3}, {{"", "\"", "line\r\nbreak"}, 0},
         {{"q\";\"", "-"}, -1}}},
       true, true,
       Utf16(u"\xFEFF\"a\"\"b\";\"x;y\";\"\"\r\n\"a;b\";\"say \"\"hi\"\"\";  lead;1\r\n\"x;y\";;;3\r\n"
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

// ---- CSV: round trips ----------------------------------------------------------------------

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
      // Rows keep the cells they had: "cr" has one, an empty cell stays a cell.
      EXPECT_EQ(back.FindString(0, 2, "", true, kCompareBinary), 1) << file << " " << size;
      EXPECT_EQ(back.FindString(0, 1, "", true, kCompareBinary), -1) << file << " " << size;
    }
  }
}

// ---- CSV: loading --------------------------------------------------------------------------

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
