// MyListview: the data model of the media browser grid, without drawing.
//
// Rows are addressed by ItemID, their 0-based position in the current order;
// inserting, removing and sorting renumber them. Columns are addressed by
// ColIndex. Texts are UTF-8; the sort order and the CSV files work on UTF-16
// code units and convert at that spot.
//
// A drawing widget plugs in through GridSurface (text measuring, repaint,
// property-changed notices) and forwards mouse and keyboard to PressRow,
// FitColumnFromBorder, ApplyScrollKey and the scroll setters; whoever hosts
// the grid listens through MyListviewEvents. Without a surface the grid
// measures with PlainGridSurface, which is what the CLI and the tests use.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "grid/rowstore.h"

namespace velotag {

// Row Flags bits.
inline constexpr std::int32_t kRowSelected = 1;
inline constexpr std::int32_t kRowChecked = 2;

// Operations of SetAllItemSelectCheckbox.
inline constexpr int kBulkLeave = 0;
inline constexpr int kBulkSet = 1;
inline constexpr int kBulkClear = 2;
inline constexpr int kBulkToggle = 3;

// Compare modes of FindString.
inline constexpr int kCompareBinary = 0;
inline constexpr int kCompareText = 1;

inline constexpr std::int32_t kMaxColumnWidth = 2048;
// Rows keep their cell count in 16 bits; a CSV header with more fields is cut.
inline constexpr std::int32_t kMaxColumnCount = 65535;
// Pixels added to every measured text.
inline constexpr std::int32_t kTextPadding = 6;
// Distance from a header border within which a press grabs the border.
inline constexpr std::int32_t kBorderGrip = 3;

// Takes the next piece of a CSV text; false when it could not.
using CsvSink = std::function<bool(std::string_view)>;

struct GridColor {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  bool operator==(const GridColor&) const = default;
};

// The grid's font as the widget should build it; an empty family means the
// font of the window that holds the grid.
struct GridFont {
  std::string family;
  double pointSize = 0;
  bool bold = false;
  bool italic = false;
  bool operator==(const GridFont&) const = default;
};

// What the drawing widget supplies.
class GridSurface {
 public:
  virtual ~GridSurface() = default;
  // Pixels of a one-line text in the grid's font, or in its bold variant.
  virtual std::int32_t TextWidth(std::string_view text, bool bold) = 0;
  virtual std::int32_t TextHeight(std::string_view text, bool bold) = 0;
  virtual void Repaint() {}
  // A persisted property was set (its name as persisted, e.g. "ColumnCount").
  virtual void PropertyChanged(std::string_view /*name*/) {}
};

// Fixed-pitch measuring for the CLI and the tests: 8 pixels per character
// (9 in bold), 16 pixels per line.
class PlainGridSurface : public GridSurface {
 public:
  std::int32_t TextWidth(std::string_view text, bool bold) override;
  std::int32_t TextHeight(std::string_view text, bool bold) override;
};

// The grid's events. Every method does nothing unless overridden. The grid
// raises ItemClick, ItemCheck and ColumnArrange itself (from PressRow and
// FitColumnFromBorder) and Terminate when destroyed; the widget raises the
// others through MyListview::Events() where its input happens.
class MyListviewEvents {
 public:
  virtual ~MyListviewEvents() = default;
  virtual void ItemClick(std::int32_t /*itemId*/, bool /*selected*/) {}
  virtual void ItemCheck(std::int32_t /*itemId*/, bool /*checked*/) {}
  virtual void ColumnClick(std::int32_t /*colIndex*/) {}
  virtual void ColumnArrange(std::int32_t /*colIndex*/, std::int32_t /*width*/) {}
  virtual void ColumnResizing(std::int32_t /*colIndex*/, std::int32_t /*width*/) {}
  virtual void StartHorizScroll() {}
  virtual void EndHorizScroll() {}
  virtual void StartVertScroll() {}
  virtual void EndVertScroll() {}
  virtual void KeyDown(int /*keyCode*/, int /*shift*/) {}
  virtual void KeyPress(int /*keyAscii*/) {}
  virtual void KeyUp(int /*keyCode*/, int /*shift*/) {}
  virtual void DblClick() {}
  virtual void MouseDown(int /*button*/, int /*shift*/, int /*x*/, int /*y*/) {}
  virtual void MouseUp(int /*button*/, int /*shift*/, int /*x*/, int /*y*/) {}
  virtual void MouseMove(int /*button*/, int /*shift*/, int /*x*/, int /*y*/) {}
  virtual void Resize() {}
  virtual void Terminate() {}
};

// The keys that scroll the grid.
enum class ScrollKey { Up, Down, PageUp, PageDown, Home, End, Left, Right };

class MyListview {
 public:
  explicit MyListview(GridSurface* surface = nullptr);
  ~MyListview();
  MyListview(const MyListview&) = delete;
  MyListview& operator=(const MyListview&) = delete;

  // Hosting. Neither pointer is owned; nullptr restores the default.
  void SetSurface(GridSurface* surface);
  void SetEventSink(MyListviewEvents* sink);
  MyListviewEvents& Events() { return *events_; }

  // Methods. Redraw asks for a repaint after a change that was made.
  void Clear(bool redraw);
  void SortByCol(std::int32_t colIndex, bool ascending, bool redraw);
  bool RemoveCol(std::int32_t colIndex, bool redraw);
  bool EditItemCol(std::int32_t itemId, std::int32_t colIndex, std::string_view text,
                   bool redraw);
  bool EditItem(std::int32_t itemId, const std::vector<std::string>& cols, bool redraw);
  bool GetItemCol(std::int32_t itemId, std::int32_t colIndex, std::string& text) const;
  bool GetItem(std::int32_t itemId, std::vector<std::string>& cols) const;
  std::int32_t FindString(std::int32_t startId, std::int32_t colIndex, std::string_view text,
                          bool wholeText, int compare) const;
  bool InsertItem(const std::vector<std::string>& cols, std::int32_t beforeId, bool redraw,
                  std::int32_t flags = 0);
  void SetDefaultColsMaxWidth();
  bool RemoveItem(std::int32_t itemId, bool redraw);
  bool TrackVisible(std::int32_t itemId, bool redraw);
  bool GetItemCheckbox(std::int32_t itemId) const;
  bool SetItemCheckbox(std::int32_t itemId, bool value, bool redraw);
  void SetAllItemSelectCheckbox(int selectOp, int checkOp, bool redraw);
  std::int32_t GetFirstSelectedItemID();
  bool GetItemSelected(std::int32_t itemId) const;
  bool SetItemSelected(std::int32_t itemId, bool value, bool redraw);
  void Scroll_Horiz(bool forward, bool page, bool redraw);
  void Scroll_Vert(bool forward, bool page, bool redraw);
  std::int32_t TextWidthU(std::string_view text, bool bold);
  std::int32_t TextHeightU(std::string_view text, bool bold);
  void Refresh();
  bool SetColumnheaderValue(std::int32_t colIndex, std::string_view text, bool redraw);
  std::string GetColumnheaderValue(std::int32_t colIndex) const;
  void SetDefWidthAllCol(bool redraw);
  bool SetColumnheaderWidth(std::int32_t colIndex, std::int32_t width, bool redraw);
  std::int32_t GetColumnheaderWidth(std::int32_t colIndex) const;
  void RefreshColumnsMaxWidth();
  bool SetColumnPassword(std::int32_t colIndex, bool value, bool redraw);
  bool GetColumnPassword(std::int32_t colIndex) const;
  // The CSV files (csv.cpp).
  bool SaveCSV(const std::string& fileName, bool unicode, bool bom) const;
  // The same text handed to sink piece by piece; false from sink ends it.
  bool WriteCSV(const CsvSink& sink, bool unicode, bool bom) const;
  bool LoadCSV(const std::string& fileName, std::int32_t bufferSize, bool unicode);

  // Persisted properties. Setting one notifies the surface and repaints;
  // ColumnCount and Multiselect do nothing when set to their current value.
  const GridFont& Font() const { return font_; }
  void SetFont(const GridFont& font);
  bool HasColumnheader() const { return hasColumnheader_; }
  void SetHasColumnheader(bool value);
  bool HasCheckBox() const { return hasCheckBox_; }
  void SetHasCheckBox(bool value);
  std::int32_t ColumnCount() const { return static_cast<std::int32_t>(columns_.size()); }
  void SetColumnCount(std::int32_t count);
  GridColor BackColor() const { return backColor_; }
  void SetBackColor(GridColor color);
  GridColor FontColor() const { return fontColor_; }
  void SetFontColor(GridColor color);
  GridColor BorderColor() const { return borderColor_; }
  void SetBorderColor(GridColor color);
  GridColor HeaderBckColor() const { return headerBckColor_; }
  void SetHeaderBckColor(GridColor color);
  bool HasHorizBorder() const { return hasHorizBorder_; }
  void SetHasHorizBorder(bool value);
  bool Multiselect() const { return multiselect_; }
  void SetMultiselect(bool value);
  // The background of selected rows, derived from BackColor and FontColor.
  GridColor SelectionColor() const;

  // Read-only properties.
  std::int32_t ItemCount() const { return rows_.size(); }
  std::int32_t HSCROLL_VALUE() const { return hscroll_; }
  std::int32_t HSCROLL_MAX() const;
  std::int32_t VSCROLL_VALUE() const { return vscroll_; }
  std::int32_t VSCROLL_MAX() const { return ItemCount() > 0 ? ItemCount() - 1 : 0; }

  // For the widget.
  // Rows a page holds and pixels of the visible column area: the page steps.
  void SetPageSizes(std::int32_t rowsPerPage, std::int32_t pageWidth);
  std::int32_t RowsPerPage() const { return rowsPerPage_; }
  std::int32_t PageWidth() const { return pageWidth_; }
  // Scroll-bar drags and the wheel; clamped. True when the position moved.
  bool ScrollVertTo(std::int32_t row);
  bool ScrollHorizTo(std::int32_t pixels);
  bool ApplyScrollKey(ScrollKey key);
  // A left press on row itemId, on its check box or elsewhere: selects or
  // checks as the mode says, repaints and raises ItemClick / ItemCheck.
  void PressRow(std::int32_t itemId, bool onCheckBox);
  // Which header cell lies under x (pixels from the grid's left edge, the
  // horizontal scroll applied), and whether x is within kBorderGrip of a
  // right border (then colIndex is the column left of that border).
  struct HeaderHit {
    std::int32_t colIndex = -1;
    bool onBorder = false;
  };
  HeaderHit HitTestHeader(std::int32_t x) const;
  // A double-click on a header border: fits the column, raises ColumnArrange.
  void FitColumnFromBorder(std::int32_t colIndex);
  // Room for the check box in front of column 0; 0 without check boxes.
  std::int32_t CheckBoxWidth();
  // The widest measured text of a column plus padding; 0 for an invalid index.
  std::int32_t ColumnMaxTextWidth(std::int32_t colIndex);
  // The Flags word of a row, 0 for a missing row.
  std::int32_t GetItemFlags(std::int32_t itemId) const;

 private:
  struct ColumnInfo {
    std::string headerText;
    std::int32_t width = -1;
    std::int32_t maxTextWidth = 0;
    bool password = false;
  };
  using Row = grid_detail::Row;

  bool ValidItem(std::int32_t itemId) const { return itemId >= 0 && itemId < ItemCount(); }
  bool ValidColumn(std::int32_t colIndex) const {
    return colIndex >= 0 && colIndex < ColumnCount();
  }
  void Repaint();
  void Changed(std::string_view property);
  std::int32_t MeasureCell(std::string_view text, bool bold);
  void MeasureRow(Row* row);
  void MeasurePending();
  void DropPending();
  void ResetMaxWidths();
  void FitColumn(std::size_t colIndex);
  // Replaces the texts of columns 0 .. texts.size() - 1 of a row (nullptr: a
  // new row with only these cells); nullptr when memory is short.
  Row* BuildRow(const Row* old, std::span<const std::string_view> texts, std::int32_t flags);
  bool AppendRow(std::span<const std::string_view> cells, std::int32_t flags);
  // The first n texts of cols as views, in scratch_.
  std::span<const std::string_view> Views(const std::vector<std::string>& cols, std::size_t n);
  void ResizeColumns(std::size_t count);

  grid_detail::RowList rows_;
  std::vector<ColumnInfo> columns_;
  std::int32_t anchor_ = -1;  // in single-selection mode, the selection
  std::int32_t vscroll_ = 0;
  std::int32_t hscroll_ = 0;
  std::int32_t rowsPerPage_ = 10;
  std::int32_t pageWidth_ = 400;
  std::int32_t pendingRows_ = 0;

  GridFont font_;
  bool hasColumnheader_ = true;
  bool hasCheckBox_ = true;
  GridColor backColor_{0, 0, 0};
  GridColor fontColor_{255, 255, 255};
  GridColor borderColor_{170, 170, 170};
  GridColor headerBckColor_{119, 119, 119};
  bool hasHorizBorder_ = true;
  bool multiselect_ = false;

  PlainGridSurface plainSurface_;
  GridSurface* surface_ = &plainSurface_;
  MyListviewEvents noEvents_;
  MyListviewEvents* events_ = &noEvents_;
  // Reused by every edit, so that a row costs one allocation: its own.
  std::vector<std::string_view> scratch_;
  std::vector<std::string_view> merged_;
};

// The CSV field parser: splits one line at separator, with the quoting rules
// of the grid's CSV files. Returns the number of fields (fields is resized).
std::int32_t SplitCsvFields(std::string_view line, std::string_view separator,
                            std::vector<std::string>& fields);

}  // namespace velotag
