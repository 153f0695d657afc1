#include "grid/mylistview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/textenc.h"

namespace velotag {
namespace {

using Cols = std::vector<std::string>;

// 10 pixels per byte, 13 in bold, lines 20 high; counts repaints and notices.
class FakeSurface : public GridSurface {
 public:
  std::int32_t TextWidth(std::string_view text, bool bold) override {
    return static_cast<std::int32_t>(text.size()) * (bold ? 13 : 10);
  }
  std::int32_t TextHeight(std::string_view, bool) override { return 20; }
  void Repaint() override { ++repaints; }
  void PropertyChanged(std::string_view name) override { changed.emplace_back(name); }
  int repaints = 0;
  std::vector<std::string> changed;
};

class Recorder : public MyListviewEvents {
 public:
  void ItemClick(std::int32_t id, bool selected) override {
    log.push_back("click " + std::to_string(id) + (selected ? " on" : " off"));
  }
  void ItemCheck(std::int32_t id, bool checked) override {
    log.push_back("check " + std::to_string(id) + (checked ? " on" : " off"));
  }
  void ColumnArrange(std::int32_t col, std::int32_t width) override {
    log.push_back("arrange " + std::to_string(col) + " " + std::to_string(width));
  }
  void Terminate() override { log.push_back("terminate"); }
  std::vector<std::string> log;
};

std::vector<std::string> Column(const MyListview& grid, std::int32_t col) {
  std::vector<std::string> out;
  for (std::int32_t i = 0; i < grid.ItemCount(); ++i) {
    std::string text;
    EXPECT_TRUE(grid.GetItemCol(i, col, text));
    out.push_back(text);
  }
  return out;
}

void Fill(MyListview& grid, const std::vector<Cols>& rows) {
  for (const Cols& r : rows) ASSERT_TRUE(grid.InsertItem(r, -1, false));
}

// ---- ItemID arithmetic ----------------------------------------------------------

struct InsertCase {
  std::int32_t beforeId;
  std::vector<std::string> order;
};

TEST(ItemIds, InsertRenumbersFromBeforeId) {
  const InsertCase cases[] = {
      {-1, {"r0", "r1", "r2", "new"}},
      {3, {"r0", "r1", "r2", "new"}},     // ItemCount: appended
      {99, {"r0", "r1", "r2", "new"}},
      {0, {"new", "r0", "r1", "r2"}},
      {2, {"r0", "r1", "new", "r2"}},
  };
  for (const InsertCase& c : cases) {
    MyListview grid;
    Fill(grid, {{"r0"}, {"r1"}, {"r2"}});
    ASSERT_TRUE(grid.InsertItem({"new"}, c.beforeId, false));
    EXPECT_EQ(Column(grid, 0), c.order) << "before " << c.beforeId;
  }
  MyListview empty;
  ASSERT_TRUE(empty.InsertItem({"only"}, 0, false));
  EXPECT_EQ(empty.ItemCount(), 1);
  EXPECT_EQ(empty.VSCROLL_MAX(), 0);
}

TEST(ItemIds, RemoveRenumbersAndRejectsInvalidIds) {
  MyListview grid;
  Fill(grid, {{"r0"}, {"r1"}, {"r2"}, {"r3"}});
  EXPECT_FALSE(grid.RemoveItem(-1, false));
  EXPECT_FALSE(grid.RemoveItem(4, false));
  ASSERT_TRUE(grid.RemoveItem(1, false));
  EXPECT_EQ(Column(grid, 0), (std::vector<std::string>{"r0", "r2", "r3"}));
  EXPECT_EQ(grid.VSCROLL_MAX(), 2);
}

// Inserts and removals against a plain vector: positions must agree across
// block splits and emptied blocks, walking forwards, backwards and jumping.
TEST(ItemIds, ManyInsertsAndRemovalsMatchAPlainList) {
  MyListview grid;
  std::vector<std::string> model;
  std::mt19937 rng(7);
  auto check = [&] {
    ASSERT_EQ(grid.ItemCount(), static_cast<std::int32_t>(model.size()));
    EXPECT_EQ(Column(grid, 0), model);
    std::string text;
    for (std::int32_t i = grid.ItemCount() - 1; i >= 0; i -= 3) {
      ASSERT_TRUE(grid.GetItemCol(i, 0, text));
      ASSERT_EQ(text, model[static_cast<std::size_t>(i)]);
    }
    for (std::size_t k = 0; k < 300 && !model.empty(); ++k) {
      std::int32_t i = static_cast<std::int32_t>(rng() % model.size());
      ASSERT_TRUE(grid.GetItemCol(i, 0, text));
      ASSERT_EQ(text, model[static_cast<std::size_t>(i)]);
    }
  };
  auto insert = [&](std::int32_t at, int step) {
    std::string text = "t" + std::to_string(step);
    ASSERT_TRUE(grid.InsertItem({text}, at, false));
    model.insert(at < 0 || at >= static_cast<std::int32_t>(model.size()) ? model.end()
                                                                          : model.begin() + at,
                 text);
  };
  auto remove = [&](std::int32_t at) {
    ASSERT_TRUE(grid.RemoveItem(at, false));
    model.erase(model.begin() + at);
  };
  // Always at the front: the first block fills up and splits again and again.
  for (int step = 0; step < 3000; ++step) insert(0, step);
  check();
  for (int step = 0; step < 6000; ++step) {
    std::int32_t n = static_cast<std::int32_t>(model.size());
    if (rng() % 10 < 6) {
      insert(static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(n + 2)) - 1, step);
    } else {
      remove(static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(n)));
    }
  }
  check();
  // Down to a few rows: whole blocks empty out and go.
  while (model.size() > 10) remove(static_cast<std::int32_t>(rng() % model.size()));
  check();
  insert(5, -1);
  insert(-1, -2);
  check();
}

TEST(ItemIds, AnchorFollowsItsRowThroughInsertAndRemove) {
  MyListview grid;
  grid.SetMultiselect(true);
  Fill(grid, {{"r0"}, {"r1"}, {"r2"}, {"r3"}, {"r4"}});
  grid.SetItemSelected(3, true, false);
  grid.InsertItem({"a"}, 1, false);   // before the anchor
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 4);
  grid.InsertItem({"b"}, 4, false);   // at the anchor
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 5);
  grid.InsertItem({"c"}, -1, false);  // appended
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 5);
  grid.InsertItem({"d"}, 6, false);   // after it
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 5);
  grid.RemoveItem(0, false);
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 4);
  std::string text;
  grid.GetItemCol(4, 0, text);
  EXPECT_EQ(text, "r3");
  grid.RemoveItem(4, false);           // the anchor row itself
  EXPECT_EQ(grid.GetFirstSelectedItemID(), -1);
}

TEST(ItemIds, RemovalPullsTheViewBackIntoRange) {
  MyListview grid;
  Fill(grid, {{"r0"}, {"r1"}, {"r2"}, {"r3"}, {"r4"}});
  ASSERT_TRUE(grid.TrackVisible(4, false));
  EXPECT_FALSE(grid.TrackVisible(5, false));
  EXPECT_EQ(grid.VSCROLL_VALUE(), 4);
  grid.RemoveItem(0, false);
  EXPECT_EQ(grid.VSCROLL_VALUE(), 3);
  while (grid.ItemCount() > 0) grid.RemoveItem(0, false);
  EXPECT_EQ(grid.VSCROLL_VALUE(), 0);
  EXPECT_EQ(grid.VSCROLL_MAX(), 0);
}

// ---- Cells and columns ---------------------------------------------------------------

TEST(Cells, ShortChainsReadAsEmpty) {
  MyListview grid;
  grid.SetColumnCount(4);
  Fill(grid, {{"a", "b"}, {"c", "d", "e", "f", "beyond"}});
  std::string text = "x";
  EXPECT_TRUE(grid.GetItemCol(0, 3, text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(grid.GetItemCol(0, 4, text));
  EXPECT_FALSE(grid.GetItemCol(2, 0, text));
  Cols cols;
  ASSERT_TRUE(grid.GetItem(1, cols));
  EXPECT_EQ(cols, (Cols{"c", "d", "e", "f"}));
  ASSERT_TRUE(grid.GetItem(0, cols));
  EXPECT_EQ(cols, (Cols{"a", "b", "", ""}));
  EXPECT_FALSE(grid.GetItem(5, cols));
}

TEST(Cells, EditsReplaceOnlyWhatTheyName) {
  MyListview grid;
  grid.SetColumnCount(4);
  Fill(grid, {{"a"}});
  ASSERT_TRUE(grid.EditItemCol(0, 2, "c", false));
  Cols cols;
  grid.GetItem(0, cols);
  EXPECT_EQ(cols, (Cols{"a", "", "c", ""}));
  // Filler cells became stored cells: an empty search finds them.
  EXPECT_EQ(grid.FindString(0, 1, "", true, kCompareBinary), 0);
  EXPECT_EQ(grid.FindString(0, 3, "", true, kCompareBinary), -1);
  ASSERT_TRUE(grid.EditItem(0, {"A", "B"}, false));
  grid.GetItem(0, cols);
  EXPECT_EQ(cols, (Cols{"A", "B", "c", ""}));
  ASSERT_TRUE(grid.EditItem(0, {"1", "2", "3", "4", "5"}, false));
  grid.GetItem(0, cols);
  EXPECT_EQ(cols, (Cols{"1", "2", "3", "4"}));
  EXPECT_FALSE(grid.EditItemCol(0, 4, "x", false));
  EXPECT_FALSE(grid.EditItemCol(1, 0, "x", false));
  EXPECT_FALSE(grid.EditItem(1, {"x"}, false));
}

TEST(Cells, RemoveColShiftsEverythingAfterIt) {
  MyListview grid;
  grid.SetColumnCount(4);
  for (int c = 0; c < 4; ++c) grid.SetColumnheaderValue(c, "h" + std::to_string(c), false);
  grid.SetColumnPassword(3, true, false);
  Fill(grid, {{"a0", "a1", "a2", "a3"}, {"b0"}, {"c0", "c1", "c2"}});
  EXPECT_FALSE(grid.RemoveCol(0, false));
  EXPECT_FALSE(grid.RemoveCol(4, false));
  ASSERT_TRUE(grid.RemoveCol(1, false));
  EXPECT_EQ(grid.ColumnCount(), 3);
  EXPECT_EQ(grid.GetColumnheaderValue(1), "h2");
  EXPECT_TRUE(grid.GetColumnPassword(2));
  Cols cols;
  grid.GetItem(0, cols);
  EXPECT_EQ(cols, (Cols{"a0", "a2", "a3"}));
  grid.GetItem(2, cols);
  EXPECT_EQ(cols, (Cols{"c0", "c2", ""}));
  EXPECT_EQ(grid.FindString(0, 2, "", true, kCompareBinary), -1);
  grid.GetItem(1, cols);
  EXPECT_EQ(cols, (Cols{"b0", "", ""}));
}

TEST(Cells, ColumnCountBoundsAndTruncation) {
  FakeSurface surface;
  MyListview grid(&surface);
  grid.SetColumnCount(3);
  Fill(grid, {{"a", "b", "c"}});
  grid.SetColumnCount(0);
  EXPECT_EQ(grid.ColumnCount(), 1);
  grid.SetColumnCount(-4);
  EXPECT_EQ(grid.ColumnCount(), 1);
  grid.SetColumnCount(3);
  Cols cols;
  grid.GetItem(0, cols);
  EXPECT_EQ(cols, (Cols{"a", "", ""}));  // lowering freed the cells for good
  EXPECT_EQ(grid.FindString(0, 1, "", true, kCompareBinary), -1);
  EXPECT_EQ(grid.GetColumnheaderWidth(2), -1);
  // Only real changes of ColumnCount and Multiselect are announced.
  surface.changed.clear();
  grid.SetColumnCount(3);
  grid.SetMultiselect(false);
  grid.SetHasHorizBorder(true);
  EXPECT_EQ(surface.changed, (std::vector<std::string>{"HasHorizBorder"}));
}

// ---- Selection ---------------------------------------------------------------------------

TEST(Selection, MultiselectAnchorWinsOverLowerRows) {
  MyListview grid;
  grid.SetMultiselect(true);
  Fill(grid, {{"0"}, {"1"}, {"2"}, {"3"}, {"4"}, {"5"}, {"6"}});
  grid.SetItemSelected(2, true, false);
  grid.SetItemSelected(5, true, false);
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 5);
  grid.SetItemSelected(5, false, false);
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 2);
  EXPECT_TRUE(grid.GetItemSelected(2));
  EXPECT_FALSE(grid.GetItemSelected(5));
  // Deselecting any row forgets the anchor; the scan then finds row 2 again.
  grid.SetItemSelected(4, true, false);
  grid.SetItemSelected(6, false, false);
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 2);
  EXPECT_FALSE(grid.SetItemSelected(7, true, false));
}

TEST(Selection, SingleModeHoldsOneRow) {
  MyListview grid;
  Fill(grid, {{"0"}, {"1"}, {"2"}, {"3"}});
  EXPECT_EQ(grid.GetFirstSelectedItemID(), -1);
  grid.SetItemSelected(3, true, false);
  grid.SetItemSelected(1, true, false);
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 1);
  EXPECT_TRUE(grid.GetItemSelected(1));
  EXPECT_FALSE(grid.GetItemSelected(3));
  EXPECT_EQ(grid.GetItemFlags(1) & kRowSelected, 0);  // bit 0 belongs to multiselect
  grid.SetItemSelected(2, false, false);                // any row clears it
  EXPECT_EQ(grid.GetFirstSelectedItemID(), -1);
  EXPECT_FALSE(grid.GetItemSelected(1));
}

struct BulkCase {
  bool multi;
  int selectOp;
  int checkOp;
  std::vector<std::int32_t> flagsAfter;
  std::int32_t firstSelected;
};

TEST(Selection, BulkSelectAndCheck) {
  // Rows start with Flags 0, 1, 2, 3 and row 3 as the anchor.
  const BulkCase cases[] = {
      {true, kBulkSet, kBulkLeave, {1, 1, 3, 3}, 0},
      {true, kBulkClear, kBulkLeave, {0, 0, 2, 2}, -1},
      {true, kBulkToggle, kBulkLeave, {1, 0, 3, 2}, 0},
      {true, kBulkLeave, kBulkSet, {2, 3, 2, 3}, 1},   // anchor forgotten, rescanned
      {true, kBulkLeave, kBulkClear, {0, 1, 0, 1}, 1},
      {true, 9, 7, {3, 2, 1, 0}, 0},                   // above 3 counts as toggle
      {true, kBulkLeave, kBulkLeave, {0, 1, 2, 3}, 3},  // nothing at all
      {false, kBulkClear, kBulkLeave, {0, 1, 2, 3}, -1},
      {false, kBulkToggle, kBulkLeave, {0, 1, 2, 3}, -1},
      {false, kBulkSet, kBulkLeave, {0, 1, 2, 3}, 3},
      {false, kBulkLeave, kBulkToggle, {2, 3, 0, 1}, -1},
  };
  for (const BulkCase& c : cases) {
    MyListview grid;
    grid.SetMultiselect(c.multi);
    for (std::int32_t f = 0; f < 4; ++f) grid.InsertItem({"r"}, -1, false, f);
    grid.SetItemSelected(3, true, false);
    grid.SetAllItemSelectCheckbox(c.selectOp, c.checkOp, false);
    std::vector<std::int32_t> flags;
    for (std::int32_t i = 0; i < 4; ++i) flags.push_back(grid.GetItemFlags(i));
    EXPECT_EQ(flags, c.flagsAfter) << c.multi << " " << c.selectOp << " " << c.checkOp;
    EXPECT_EQ(grid.GetFirstSelectedItemID(), c.firstSelected)
        << c.multi << " " << c.selectOp << " " << c.checkOp;
  }
}

TEST(Selection, PressesSelectAndCheckByMode) {
  FakeSurface surface;
  Recorder events;
  MyListview grid(&surface);
  grid.SetEventSink(&events);
  grid.SetMultiselect(true);
  Fill(grid, {{"0"}, {"1"}, {"2"}, {"3"}, {"4"}});
  surface.repaints = 0;
  grid.PressRow(3, false);  // selected, becomes the anchor
  grid.PressRow(4, false);  // below the anchor: anchor stays
  grid.PressRow(1, false);  // above: becomes the anchor
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 1);
  grid.PressRow(4, false);  // deselects a row that is not the anchor
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 1);
  grid.PressRow(1, false);  // deselecting the anchor forgets it
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 3);
  grid.PressRow(2, true);   // the check box leaves the selection alone
  EXPECT_FALSE(grid.GetItemSelected(2));
  EXPECT_TRUE(grid.GetItemCheckbox(2));
  grid.PressRow(9, false);  // no such row
  EXPECT_EQ(events.log, (std::vector<std::string>{"click 3 on", "click 4 on", "click 1 on",
                                                  "click 4 off", "click 1 off", "check 2 on"}));
  EXPECT_EQ(surface.repaints, 6);

  events.log.clear();
  grid.SetMultiselect(false);
  grid.PressRow(0, false);
  grid.PressRow(0, false);  // single mode: pressing again keeps it selected
  grid.PressRow(4, true);   // check box: checks and selects
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 4);
  EXPECT_TRUE(grid.GetItemCheckbox(4));
  grid.SetHasCheckBox(false);
  grid.PressRow(2, true);   // without check boxes a press is a press
  EXPECT_TRUE(grid.GetItemCheckbox(2));  // still checked from before, not toggled
  EXPECT_EQ(events.log, (std::vector<std::string>{"click 0 on", "click 0 on", "click 4 on",
                                                  "check 4 on", "click 2 on"}));
}

TEST(Selection, CheckboxRepaintsOnlyOnChange) {
  FakeSurface surface;
  MyListview grid(&surface);
  Fill(grid, {{"0"}});
  EXPECT_TRUE(grid.SetItemCheckbox(0, true, true));
  EXPECT_TRUE(grid.SetItemCheckbox(0, true, true));
  EXPECT_EQ(surface.repaints, 1);
  EXPECT_TRUE(grid.GetItemCheckbox(0));
  EXPECT_FALSE(grid.SetItemCheckbox(1, true, true));
  EXPECT_FALSE(grid.GetItemCheckbox(1));
}

// ---- Sort ------------------------------------------------------------------------------------

std::vector<std::string> Sorted(std::vector<Cols> rows, std::int32_t col, bool ascending) {
  MyListview grid;
  grid.SetColumnCount(2);
  Fill(grid, rows);
  grid.SortByCol(col, ascending, false);
  return Column(grid, 0);
}

TEST(Sort, BinaryOrderOfUtf16Units) {
  EXPECT_EQ(Sorted({{"b"}, {"a"}, {"B"}, {""}}, 0, true),
            (std::vector<std::string>{"", "B", "a", "b"}));
  EXPECT_EQ(Sorted({{"b"}, {"a"}, {"B"}, {""}}, 0, false),
            (std::vector<std::string>{"b", "a", "B", ""}));
  EXPECT_EQ(Sorted({{"9"}, {"10"}, {"100"}, {"1"}}, 0, true),
            (std::vector<std::string>{"1", "10", "100", "9"}));
  // U+FF01 and U+E000 come after the surrogate pair of U+1F600; a byte that
  // is not UTF-8 reads as its Latin-1 character (0xE9 is é).
  EXPECT_EQ(Sorted({{"\xEF\xBC\x81"}, {"\xF0\x9F\x98\x80"}, {"\xE9x"}, {"z"}, {"\xC3\xA9"},
                    {"\xEE\x80\x80"}, {"\xED\x9F\xBF"}},
                   0, true),
            (std::vector<std::string>{"z", "\xC3\xA9", "\xE9x", "\xED\x9F\xBF",
                                      "\xF0\x9F\x98\x80", "\xEE\x80\x80", "\xEF\xBC\x81"}));
}

TEST(Sort, EqualKeysSwapEachTime) {
  const std::vector<Cols> rows = {{"x1", "k"}, {"y", "m"}, {"x2", "k"}, {"z", ""}, {"x3", "k"},
                                  {"w"}};
  MyListview grid;
  grid.SetColumnCount(2);
  Fill(grid, rows);
  grid.SortByCol(1, true, false);
  EXPECT_EQ(Column(grid, 0), (std::vector<std::string>{"w", "z", "x3", "x2", "x1", "y"}));
  grid.SortByCol(1, true, false);
  EXPECT_EQ(Column(grid, 0), (std::vector<std::string>{"z", "w", "x1", "x2", "x3", "y"}));
  grid.SortByCol(1, false, false);
  EXPECT_EQ(Column(grid, 0), (std::vector<std::string>{"y", "x3", "x2", "x1", "w", "z"}));
}

// Random texts over ASCII, Latin, the surrogate boundary and beyond, against
// an independent order: UTF-16 strings, the list reversed, a stable sort.
TEST(Sort, LargeRandomListsFollowTheUnitOrder) {
  const char* pieces[] = {"a", "A", "b", "0", " ", "\xC3\xA9", "\xE2\x82\xAC", "\xEF\xBC\x81",
                          "\xEE\x80\x80", "\xF0\x9F\x98\x80", "\xF0\x90\x80\x80", "\xE9", "\xFF"};
  std::mt19937 rng(11);
  std::vector<Cols> rows;
  for (int i = 0; i < 3000; ++i) {
    std::string key;
    int len = static_cast<int>(rng() % 4);
    for (int k = 0; k < len; ++k) key += pieces[rng() % std::size(pieces)];
    rows.push_back({std::to_string(i), key});
  }
  for (bool ascending : {true, false}) {
    std::vector<std::pair<std::u16string, std::string>> model;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
      model.emplace_back(Utf8ToUtf16((*it)[1]), (*it)[0]);
    std::stable_sort(model.begin(), model.end(), [&](const auto& a, const auto& b) {
      return ascending ? a.first < b.first : b.first < a.first;
    });
    std::vector<std::string> expected;
    for (const auto& m : model) expected.push_back(m.second);
    EXPECT_EQ(Sorted(rows, 1, ascending), expected) << ascending;
  }
}

TEST(Sort, ForgetsTheAnchorButFlagsStayWithRows) {
  FakeSurface surface;
  MyListview grid(&surface);
  grid.SetMultiselect(true);
  Fill(grid, {{"c"}, {"a"}, {"b"}});
  grid.SetItemSelected(0, true, false);
  grid.SetItemCheckbox(1, true, false);
  grid.SortByCol(0, true, true);
  EXPECT_EQ(grid.GetItemFlags(2), kRowSelected);
  EXPECT_EQ(grid.GetItemFlags(0), kRowChecked);
  EXPECT_EQ(grid.GetFirstSelectedItemID(), 2);
  grid.SetMultiselect(false);
  grid.SetItemSelected(1, true, false);
  grid.SortByCol(0, false, false);
  EXPECT_EQ(grid.GetFirstSelectedItemID(), -1);
  int before = surface.repaints;
  grid.SortByCol(5, true, true);  // no such column: order kept, still repainted
  EXPECT_EQ(Column(grid, 0), (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_EQ(surface.repaints, before + 1);
}

// ---- Search -------------------------------------------------------------------------------------

struct FindCase {
  std::int32_t start;
  std::int32_t col;
  std::string text;
  bool whole;
  int compare;
  std::int32_t expected;
};

TEST(Search, Variants) {
  MyListview grid;
  grid.SetColumnCount(3);
  Fill(grid, {{"Alpha", "one", "x"},
              {"beta", "Two"},
              {"Gamma", "", "\xC3\x9Cn\xC3\xAF" "code"},
              {"alphabet", "three", ""},
              {"Kilo", "Stra\xC3\x9F" "e", "end"}});
  const FindCase cases[] = {
      {0, 0, "alpha", true, kCompareBinary, -1},
      {0, 0, "alpha", true, kCompareText, 0},
      {0, 0, "alpha", false, kCompareBinary, 3},
      {0, 0, "ALPHA", false, kCompareText, 0},
      {1, 0, "ALPHA", false, kCompareText, 3},
      {4, 0, "ALPHA", false, kCompareText, -1},   // no wrap-around
      {0, 2, "", true, kCompareText, 3},          // empty: a stored empty cell, binary
      {0, 1, "", false, kCompareText, 2},
      {0, -1, "", false, kCompareBinary, 2},
      {0, -1, "\xC3\xBCN\xC3\x8F", false, kCompareText, 2},
      {0, 2, "\xC3\x9CN\xC3\x8F" "CODE", true, kCompareText, 2},
      {0, 2, "\xC3\x9CN\xC3\x8F" "CODE", true, kCompareBinary, -1},
      {0, 1, "two", true, kCompareText, 1},
      {0, -1, "\xE2\x84\xAA", false, kCompareText, 4},  // the Kelvin sign folds to k
      {0, -1, "SS", false, kCompareText, 4},            // ß folds to ss
      {0, -1, "ree", false, kCompareBinary, 3},
      {0, -1, "nd", true, kCompareBinary, -1},
      {0, 3, "x", false, kCompareBinary, -1},           // no such column
      {-1, 0, "Alpha", true, kCompareBinary, -1},
      {5, 0, "Alpha", true, kCompareBinary, -1},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(grid.FindString(c.start, c.col, c.text, c.whole, c.compare), c.expected)
        << c.start << " " << c.col << " '" << c.text << "' " << c.whole << " " << c.compare;
  }
}

TEST(Search, FindsInLaterBlocks) {
  MyListview grid;
  for (int i = 0; i < 3000; ++i) grid.InsertItem({"row " + std::to_string(i)}, -1, false);
  EXPECT_EQ(grid.FindString(0, 0, "row 2999", true, kCompareBinary), 2999);
  EXPECT_EQ(grid.FindString(1500, 0, "ROW 15", false, kCompareText), 1500);
  EXPECT_EQ(grid.FindString(1501, 0, "ROW 150", false, kCompareText), 1501);
  EXPECT_EQ(grid.FindString(2000, 0, "row 1999", true, kCompareBinary), -1);
}

// ---- Widths -----------------------------------------------------------------------------------

TEST(Widths, FittingHeadersRowsAndTheCheckBox) {
  FakeSurface surface;
  MyListview grid(&surface);
  grid.SetColumnCount(3);
  ASSERT_TRUE(grid.SetColumnheaderValue(1, "Name", false));  // width -1: fitted at once
  EXPECT_EQ(grid.GetColumnheaderWidth(1), 4 * 13 + 6);
  grid.SetColumnheaderWidth(1, 30, false);
  grid.SetColumnheaderValue(1, "Longer name", false);        // a set width stays
  EXPECT_EQ(grid.GetColumnheaderWidth(1), 30);
  Fill(grid, {{"ab", "abcdefghij", "x\r\ny"}, {"a", "b"}});
  grid.SetDefWidthAllCol(false);
  EXPECT_EQ(grid.GetColumnheaderWidth(0), 2 * 10 + 6 + 20 + 2);  // the check box
  EXPECT_EQ(grid.GetColumnheaderWidth(1), 11 * 13 + 6);          // header wider
  EXPECT_EQ(grid.GetColumnheaderWidth(2), 3 * 10 + 6);           // CR LF as one blank
  grid.SetHasCheckBox(false);
  grid.SetColumnheaderWidth(0, -1, false);
  EXPECT_EQ(grid.GetColumnheaderWidth(0), 26);
  EXPECT_TRUE(grid.SetColumnheaderWidth(2, 5000, false));
  EXPECT_EQ(grid.GetColumnheaderWidth(2), 2048);
  grid.EditItemCol(0, 2, std::string(300, 'w'), false);
  grid.SetColumnheaderWidth(2, -1, false);
  EXPECT_EQ(grid.GetColumnheaderWidth(2), 2048);
  EXPECT_FALSE(grid.SetColumnheaderWidth(3, 10, false));
  EXPECT_EQ(grid.GetColumnheaderWidth(3), -1);
  EXPECT_EQ(grid.GetColumnheaderWidth(-1), -1);
}

TEST(Widths, HeaderTextsKeepNoLineBreaks) {
  MyListview grid;
  grid.SetColumnheaderValue(0, "a\r\nb\nc\rd", false);
  EXPECT_EQ(grid.GetColumnheaderValue(0), "a b c d");
  EXPECT_EQ(grid.GetColumnheaderValue(1), "");
  EXPECT_FALSE(grid.SetColumnheaderValue(1, "x", false));
}

TEST(Widths, MaxTextWidthOnlyGrowsUntilReset) {
  FakeSurface surface;
  MyListview grid(&surface);
  grid.SetColumnCount(2);
  Fill(grid, {{"wide text", "x"}, {"ab", "y"}});
  // The wide text was stored, so it counts even after it is edited away
  // and after its row is gone.
  grid.EditItemCol(0, 0, "a", false);
  EXPECT_EQ(grid.ColumnMaxTextWidth(0), 96);
  grid.EditItem(1, {"abcdefghijkl"}, false);
  grid.RemoveItem(1, false);
  EXPECT_EQ(grid.ColumnMaxTextWidth(0), 126);
  // A full re-measure sees only what is there now.
  grid.RefreshColumnsMaxWidth();
  EXPECT_EQ(grid.ColumnMaxTextWidth(0), 13 * 0 + 6 + 10);  // "a" wider than the empty header
  // A reset drops every width, also of rows not measured yet.
  grid.InsertItem({"very wide text"}, -1, false);
  grid.SetDefaultColsMaxWidth();
  grid.EditItemCol(0, 1, "abc", false);
  EXPECT_EQ(grid.ColumnMaxTextWidth(0), 0);
  EXPECT_EQ(grid.ColumnMaxTextWidth(1), 36);
  grid.InsertItem({"some"}, -1, false);
  EXPECT_EQ(grid.ColumnMaxTextWidth(0), 46);
  // Removing the last row resets every column.
  grid.Clear(false);
  grid.InsertItem({"wide text", "wide text"}, -1, false);
  grid.RemoveItem(0, false);
  EXPECT_EQ(grid.ColumnMaxTextWidth(0), 0);
  EXPECT_EQ(grid.ColumnMaxTextWidth(1), 0);
}

TEST(Widths, LateMeasuringAgreesWithMeasuringAtOnce) {
  // The same edits, with a fit forcing measurement after every step or only
  // at the end, must give the same widths.
  auto run = [](bool fitEachStep) {
    FakeSurface surface;
    MyListview grid(&surface);
    grid.SetColumnCount(3);
    auto step = [&](auto&& op) {
      op();
      if (fitEachStep) grid.SetDefWidthAllCol(false);
    };
    step([&] { grid.InsertItem({"abc", "abcdefg", "a"}, -1, false); });
    step([&] { grid.InsertItem({"abcdefghij"}, 0, false); });
    step([&] { grid.EditItem(0, {"a", "abcdefghijklmnop"}, false); });
    step([&] { grid.EditItemCol(1, 2, "abcdefghijklmnopqrstu", false); });
    step([&] { grid.RemoveItem(1, false); });
    step([&] { grid.SortByCol(0, true, false); });
    step([&] { grid.RemoveCol(1, false); });
    step([&] { grid.EditItemCol(0, 1, "xy", false); });
    grid.SetDefWidthAllCol(false);
    return std::vector<std::int32_t>{grid.GetColumnheaderWidth(0), grid.GetColumnheaderWidth(1)};
  };
  EXPECT_EQ(run(true), run(false));
  EXPECT_EQ(run(false), (std::vector<std::int32_t>{106 + 22, 216}));
}

TEST(Widths, DefaultMeasurerCountsCharacters) {
  MyListview grid;
  EXPECT_EQ(grid.TextWidthU("abc", false), 24);
  EXPECT_EQ(grid.TextWidthU("\xC3\xA9\xF0\x9F\x98\x80", true), 18);
  EXPECT_EQ(grid.TextHeightU("Ay", false), 16);
  EXPECT_EQ(grid.CheckBoxWidth(), 18);
}

// ---- Properties, scrolling and events -----------------------------------------------------------

TEST(Properties, DefaultsAndDerivedSelectionColour) {
  FakeSurface surface;
  MyListview grid(&surface);
  EXPECT_TRUE(grid.HasColumnheader());
  EXPECT_TRUE(grid.HasCheckBox());
  EXPECT_TRUE(grid.HasHorizBorder());
  EXPECT_FALSE(grid.Multiselect());
  EXPECT_EQ(grid.ColumnCount(), 1);
  EXPECT_EQ(grid.BackColor(), (GridColor{0, 0, 0}));
  EXPECT_EQ(grid.FontColor(), (GridColor{255, 255, 255}));
  EXPECT_EQ(grid.BorderColor(), (GridColor{170, 170, 170}));
  EXPECT_EQ(grid.HeaderBckColor(), (GridColor{119, 119, 119}));
  EXPECT_EQ(grid.SelectionColor(), (GridColor{128, 128, 128}));
  grid.SetBackColor({100, 0, 0});
  grid.SetFontColor({110, 255, 1});
  // 105 lies within 64 of 100 and moves by 128; 127.5 and 0.5 round to even.
  EXPECT_EQ(grid.SelectionColor(), (GridColor{233, 128, 128}));
  grid.SetFont({"DejaVu Sans", 9, false, false});
  EXPECT_EQ(surface.changed, (std::vector<std::string>{"BackColor", "FontColor", "Font"}));
  EXPECT_EQ(surface.repaints, 3);
  EXPECT_EQ(MyListview::version(), "1.0.0");
}

TEST(Scrolling, StepsPagesAndKeysStayInRange) {
  MyListview grid;
  grid.SetColumnCount(3);
  for (int i = 0; i < 30; ++i) grid.InsertItem({"r"}, -1, false);
  grid.SetPageSizes(8, 100);
  grid.Scroll_Vert(true, true, false);
  EXPECT_EQ(grid.VSCROLL_VALUE(), 8);
  grid.Scroll_Vert(false, false, false);
  EXPECT_EQ(grid.VSCROLL_VALUE(), 7);
  grid.ApplyScrollKey(ScrollKey::End);
  EXPECT_EQ(grid.VSCROLL_VALUE(), 29);
  grid.Scroll_Vert(true, true, false);
  EXPECT_EQ(grid.VSCROLL_VALUE(), 29);
  EXPECT_TRUE(grid.ApplyScrollKey(ScrollKey::Home));
  EXPECT_FALSE(grid.ApplyScrollKey(ScrollKey::Up));
  EXPECT_EQ(grid.VSCROLL_VALUE(), 0);
  // Horizontal: the columns are 250 wide, the page 100.
  grid.SetColumnheaderWidth(0, 100, false);
  grid.SetColumnheaderWidth(1, 50, false);
  grid.SetColumnheaderWidth(2, 100, false);
  EXPECT_EQ(grid.HSCROLL_MAX(), 150);
  grid.Scroll_Horiz(true, true, false);
  EXPECT_EQ(grid.HSCROLL_VALUE(), 100);
  grid.Scroll_Horiz(true, true, false);
  EXPECT_EQ(grid.HSCROLL_VALUE(), 150);
  grid.ApplyScrollKey(ScrollKey::Left);
  EXPECT_EQ(grid.HSCROLL_VALUE(), 134);
  EXPECT_TRUE(grid.ScrollHorizTo(-5));
  EXPECT_EQ(grid.HSCROLL_VALUE(), 0);
}

TEST(Scrolling, HeaderHitsAndBorders) {
  MyListview grid;
  grid.SetColumnCount(3);
  grid.SetColumnheaderWidth(0, 100, false);
  grid.SetColumnheaderWidth(1, 50, false);
  grid.SetColumnheaderWidth(2, 80, false);
  struct Hit {
    std::int32_t x, col;
    bool border;
  };
  const Hit hits[] = {{0, 0, false},   {96, 0, false}, {97, 0, true}, {103, 0, true},
                      {104, 1, false}, {150, 1, true}, {229, 2, true}, {240, -1, false}};
  for (const Hit& h : hits) {
    MyListview::HeaderHit got = grid.HitTestHeader(h.x);
    EXPECT_EQ(got.colIndex, h.col) << h.x;
    EXPECT_EQ(got.onBorder, h.border) << h.x;
  }
  grid.SetPageSizes(10, 100);
  grid.ScrollHorizTo(60);
  EXPECT_EQ(grid.HitTestHeader(40).colIndex, 0);
  EXPECT_TRUE(grid.HitTestHeader(40).onBorder);
}

TEST(Events, FitFromBorderAndTerminate) {
  Recorder events;
  {
    FakeSurface surface;
    MyListview grid(&surface);
    grid.SetEventSink(&events);
    grid.SetColumnCount(2);
    grid.SetColumnheaderValue(1, "ab", false);
    grid.InsertItem({"", "abcdef"}, -1, false);
    grid.FitColumnFromBorder(1);
    grid.FitColumnFromBorder(2);
  }
  EXPECT_EQ(events.log, (std::vector<std::string>{"arrange 1 66", "terminate"}));
}

TEST(Events, ClearEmptiesEverything) {
  FakeSurface surface;
  MyListview grid(&surface);
  grid.SetMultiselect(true);
  Fill(grid, {{"a"}, {"b"}});
  grid.SetItemSelected(1, true, false);
  grid.TrackVisible(1, false);
  surface.repaints = 0;
  grid.Clear(true);
  EXPECT_EQ(grid.ItemCount(), 0);
  EXPECT_EQ(grid.VSCROLL_VALUE(), 0);
  EXPECT_EQ(grid.GetFirstSelectedItemID(), -1);
  EXPECT_EQ(grid.ColumnMaxTextWidth(0), 0);
  EXPECT_EQ(surface.repaints, 1);
  EXPECT_EQ(grid.FindString(0, -1, "a", false, kCompareBinary), -1);
}

}  // namespace
}  // namespace velotag
