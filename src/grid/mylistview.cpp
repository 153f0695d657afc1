#include "grid/mylistview.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>

#include "grid/textmatch.h"
#include "support/textenc.h"
#include "support/utf8.h"

namespace velotag {

using grid_detail::kStateAscii;
using grid_detail::kStatePending;
using grid_detail::Row;

namespace {

constexpr std::int32_t kHorizLineStep = 16;

// CR LF, CR and LF each become one blank: header texts are stored that way,
// and texts are measured that way.
std::string BlankLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      out.push_back(' ');
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// ---- Sort keys -------------------------------------------------------------
//
// The order is the binary order of UTF-16 code units. For UTF-8 that is well
// formed this is byte order, except that U+E000..U+FFFF (lead bytes EE, EF)
// sort above the surrogate pairs of U+10000 and up (lead bytes F0..F4); a
// text that is not well formed goes through the same lenient decoding as
// everywhere else and is compared unit by unit.

enum KeyKind : std::uint32_t { kKeyPlain = 0, kKeyRemap = 1, kKeyUnits = 2 };

struct SortKey {
  const void* data;  // UTF-8 bytes, or char16_t units for kKeyUnits
  std::uint32_t size;
  std::uint32_t kind;
  Row* row;
};

// Rejects overlong forms, surrogates and values past U+10FFFF: exactly the
// texts whose lenient decoding is their plain decoding.
bool IsStrictUtf8(std::string_view s, bool& upperBmp) {
  return EveryNonAsciiUtf8(s, [&upperBmp](std::uint32_t cp) {
    if (cp >= 0xE000 && cp < 0x10000) upperBmp = true;
    return true;
  });
}

// Yields the UTF-16 code units of a key one by one; -1 at the end.
class UnitReader {
 public:
  explicit UnitReader(const SortKey& k) : key_(k) {}
  std::int32_t Next() {
    if (key_.kind == kKeyUnits) {
      return i_ < key_.size ? static_cast<const char16_t*>(key_.data)[i_++] : -1;
    }
    if (low_) {
      std::int32_t u = low_;
      low_ = 0;
      return u;
    }
    if (i_ >= key_.size) return -1;
    // The key's text passed IsStrictUtf8: every sequence decodes.
    std::size_t length;
    std::uint32_t cp =
        DecodeUtf8(static_cast<const unsigned char*>(key_.data) + i_, key_.size - i_, length);
    i_ += static_cast<std::uint32_t>(length);
    if (cp < 0x10000) return static_cast<std::int32_t>(cp);
    cp -= 0x10000;
    low_ = static_cast<std::int32_t>(0xDC00 + (cp & 0x3FF));
    return static_cast<std::int32_t>(0xD800 + (cp >> 10));
  }

 private:
  const SortKey& key_;
  std::uint32_t i_ = 0;
  std::int32_t low_ = 0;
};

int RemapLead(unsigned char b) { return (b == 0xEE || b == 0xEF) ? b + 0x10 : b; }

int CompareKeys(const SortKey& a, const SortKey& b) {
  if (((a.kind | b.kind) & kKeyUnits) == 0) {
    std::uint32_t n = std::min(a.size, b.size);
    int c = n ? std::memcmp(a.data, b.data, n) : 0;
    if (c != 0) {
      if ((a.kind | b.kind) == kKeyPlain) return c;
      const auto* pa = static_cast<const unsigned char*>(a.data);
      const auto* pb = static_cast<const unsigned char*>(b.data);
      std::uint32_t i = 0;
      while (pa[i] == pb[i]) ++i;
      return RemapLead(pa[i]) - RemapLead(pb[i]);
    }
    return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
  }
  UnitReader ra(a);
  UnitReader rb(b);
  for (;;) {
    std::int32_t ua = ra.Next();
    std::int32_t ub = rb.Next();
    if (ua != ub) return ua < ub ? -1 : 1;
    if (ua < 0) return 0;
  }
}

}  // namespace

// ---- Surfaces --------------------------------------------------------------

std::int32_t PlainGridSurface::TextWidth(std::string_view text, bool bold) {
  return static_cast<std::int32_t>(Utf8Length(text)) * (bold ? 9 : 8);
}

std::int32_t PlainGridSurface::TextHeight(std::string_view /*text*/, bool /*bold*/) {
  return 16;
}

// ---- Life cycle and hosting --------------------------------------------------

MyListview::MyListview(GridSurface* surface) : columns_(1) { SetSurface(surface); }

MyListview::~MyListview() { events_->Terminate(); }

void MyListview::SetSurface(GridSurface* surface) {
  surface_ = surface ? surface : &plainSurface_;
}

void MyListview::SetEventSink(MyListviewEvents* sink) { events_ = sink ? sink : &noEvents_; }

void MyListview::Repaint() { surface_->Repaint(); }

void MyListview::Changed(std::string_view property) {
  surface_->PropertyChanged(property);
  Repaint();
}

void MyListview::Refresh() { Repaint(); }

std::int32_t MyListview::TextWidthU(std::string_view text, bool bold) {
  return surface_->TextWidth(text, bold);
}

std::int32_t MyListview::TextHeightU(std::string_view text, bool bold) {
  return surface_->TextHeight(text, bold);
}

// ---- Widths ------------------------------------------------------------------
//
// A new or rewritten row is measured when a width is next needed rather than
// at once: filling the list then costs no measuring, and the fit that follows
// measures every text once. Rows still waiting carry kStatePending; a text
// about to be replaced or removed is measured first, so MaxTextWidth comes out
// as if every text had been measured when it was stored.

std::int32_t MyListview::MeasureCell(std::string_view text, bool bold) {
  if (!HasLineBreak(text)) return TextWidthU(text, bold) + kTextPadding;
  return TextWidthU(BlankLineBreaks(text), bold) + kTextPadding;
}

void MyListview::MeasureRow(Row* row) {
  std::size_t n = std::min<std::size_t>(row->cells, columns_.size());
  for (std::size_t c = 0; c < n; ++c) {
    std::int32_t w = MeasureCell(row->Cell(c), false);
    if (w > columns_[c].maxTextWidth) columns_[c].maxTextWidth = w;
  }
  if (row->state & kStatePending) {
    row->state &= static_cast<std::uint16_t>(~kStatePending);
    --pendingRows_;
  }
}

void MyListview::MeasurePending() {
  if (pendingRows_ == 0) return;
  rows_.ForEach([this](Row* row) {
    if (row->state & kStatePending) MeasureRow(row);
  });
  pendingRows_ = 0;
}

void MyListview::DropPending() {
  if (pendingRows_ == 0) return;
  rows_.ForEach([](Row* row) { row->state &= static_cast<std::uint16_t>(~kStatePending); });
  pendingRows_ = 0;
}

void MyListview::ResetMaxWidths() {
  for (ColumnInfo& c : columns_) c.maxTextWidth = 0;
}

void MyListview::SetDefaultColsMaxWidth() {
  DropPending();
  ResetMaxWidths();
}

void MyListview::FitColumn(std::size_t c) {
  ColumnInfo& col = columns_[c];
  col.maxTextWidth = std::max(col.maxTextWidth, MeasureCell(col.headerText, true));
  std::int32_t width = col.maxTextWidth;
  if (c == 0 && hasCheckBox_) width += TextHeightU("Ay", false) + 2;
  col.width = std::min(width, kMaxColumnWidth);
}

void MyListview::RefreshColumnsMaxWidth() {
  for (ColumnInfo& c : columns_) c.maxTextWidth = MeasureCell(c.headerText, true);
  rows_.ForEach([this](Row* row) {
    row->state &= static_cast<std::uint16_t>(~kStatePending);
    std::size_t n = std::min<std::size_t>(row->cells, columns_.size());
    for (std::size_t c = 0; c < n; ++c) {
      std::int32_t w = MeasureCell(row->Cell(c), false);
      if (w > columns_[c].maxTextWidth) columns_[c].maxTextWidth = w;
    }
  });
  pendingRows_ = 0;
}

std::int32_t MyListview::ColumnMaxTextWidth(std::int32_t colIndex) {
  if (!ValidColumn(colIndex)) return 0;
  MeasurePending();
  return columns_[static_cast<std::size_t>(colIndex)].maxTextWidth;
}

bool MyListview::SetColumnheaderValue(std::int32_t colIndex, std::string_view text, bool redraw) {
  if (!ValidColumn(colIndex)) return false;
  auto c = static_cast<std::size_t>(colIndex);
  columns_[c].headerText = BlankLineBreaks(text);
  if (columns_[c].width == -1) {
    MeasurePending();
    FitColumn(c);
  }
  if (redraw) Repaint();
  return true;
}

std::string MyListview::GetColumnheaderValue(std::int32_t colIndex) const {
  if (!ValidColumn(colIndex)) return {};
  return columns_[static_cast<std::size_t>(colIndex)].headerText;
}

void MyListview::SetDefWidthAllCol(bool redraw) {
  MeasurePending();
  for (std::size_t c = 0; c < columns_.size(); ++c) FitColumn(c);
  if (redraw) Repaint();
}

bool MyListview::SetColumnheaderWidth(std::int32_t colIndex, std::int32_t width, bool redraw) {
  if (!ValidColumn(colIndex)) return false;
  auto c = static_cast<std::size_t>(colIndex);
  if (width >= 0) {
    columns_[c].width = std::min(width, kMaxColumnWidth);
  } else {
    MeasurePending();
    FitColumn(c);
  }
  if (redraw) Repaint();
  return true;
}

std::int32_t MyListview::GetColumnheaderWidth(std::int32_t colIndex) const {
  if (!ValidColumn(colIndex)) return -1;
  return columns_[static_cast<std::size_t>(colIndex)].width;
}

bool MyListview::SetColumnPassword(std::int32_t colIndex, bool value, bool redraw) {
  if (!ValidColumn(colIndex)) return false;
  columns_[static_cast<std::size_t>(colIndex)].password = value;
  if (redraw) Repaint();
  return true;
}

bool MyListview::GetColumnPassword(std::int32_t colIndex) const {
  return ValidColumn(colIndex) && columns_[static_cast<std::size_t>(colIndex)].password;
}

// ---- Rows ----------------------------------------------------------------------

std::span<const std::string_view> MyListview::Views(const std::vector<std::string>& cols,
                                                    std::size_t n) {
  scratch_.assign(cols.begin(), cols.begin() + static_cast<std::ptrdiff_t>(n));
  return scratch_;
}

Row* MyListview::BuildRow(const Row* old, std::span<const std::string_view> texts,
                          std::int32_t flags) {
  if (!old && !texts.empty()) return grid_detail::NewRow(texts, flags, kStatePending);
  std::size_t count = std::max<std::size_t>(texts.size(), old ? old->cells : 1);
  merged_.assign(count, std::string_view());
  for (std::size_t i = 0; i < count; ++i) {
    if (i < texts.size()) {
      merged_[i] = texts[i];
    } else if (old) {
      merged_[i] = old->CellOrEmpty(i);
    }
  }
  std::uint16_t state = old ? old->state : kStatePending;
  return grid_detail::NewRow(merged_, flags, state);
}

bool MyListview::AppendRow(std::span<const std::string_view> cells, std::int32_t flags) {
  Row* row = BuildRow(nullptr, cells, flags);
  if (!row) return false;
  try {
    rows_.insert(ItemCount(), row);
  } catch (const std::bad_alloc&) {
    grid_detail::FreeRow(row);
    return false;
  }
  ++pendingRows_;
  return true;
}

bool MyListview::InsertItem(const std::vector<std::string>& cols, std::int32_t beforeId,
                            bool redraw, std::int32_t flags) {
  try {
    auto texts = Views(cols, std::min(cols.size(), columns_.size()));
    bool linkedIn = beforeId >= 0 && beforeId < ItemCount();
    if (!linkedIn) {
      if (!AppendRow(texts, flags)) return false;
    } else {
      Row* row = BuildRow(nullptr, texts, flags);
      if (!row) return false;
      try {
        rows_.insert(beforeId, row);
      } catch (const std::bad_alloc&) {
        grid_detail::FreeRow(row);
        return false;
      }
      ++pendingRows_;
      // An appended row renumbers nothing; a row linked in moves the rows
      // from BeforeID on, the anchor among them.
      if (anchor_ >= beforeId) ++anchor_;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (redraw) Repaint();
  return true;
}

bool MyListview::EditItem(std::int32_t itemId, const std::vector<std::string>& cols, bool redraw) {
  if (!ValidItem(itemId)) return false;
  try {
    std::size_t n = std::min(cols.size(), columns_.size());
    if (n > 0) {
      Row* old = rows_.at(itemId);
      auto texts = Views(cols, n);
      Row* row = BuildRow(old, texts, old->flags);
      if (!row) return false;
      bool pending = (old->state & kStatePending) != 0;
      for (std::size_t c = 0; c < n; ++c) {
        // A waiting row's old text still counts; a measured row's new one is due now.
        if (pending && c >= old->cells) continue;
        std::int32_t w = MeasureCell(pending ? old->Cell(c) : texts[c], false);
        if (w > columns_[c].maxTextWidth) columns_[c].maxTextWidth = w;
      }
      rows_.replace(itemId, row);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (redraw) Repaint();
  return true;
}

bool MyListview::EditItemCol(std::int32_t itemId, std::int32_t colIndex, std::string_view text,
                             bool redraw) {
  if (!ValidItem(itemId) || !ValidColumn(colIndex)) return false;
  try {
    Row* old = rows_.at(itemId);
    auto c = static_cast<std::size_t>(colIndex);
    scratch_.assign(c + 1, std::string_view());
    for (std::size_t i = 0; i < c; ++i) scratch_[i] = old->CellOrEmpty(i);
    scratch_[c] = text;
    Row* row = BuildRow(old, scratch_, old->flags);
    if (!row) return false;
    bool pending = (old->state & kStatePending) != 0;
    if (!pending || c < old->cells) {
      std::int32_t w = MeasureCell(pending ? old->Cell(c) : text, false);
      if (w > columns_[c].maxTextWidth) columns_[c].maxTextWidth = w;
    }
    rows_.replace(itemId, row);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (redraw) Repaint();
  return true;
}

bool MyListview::GetItemCol(std::int32_t itemId, std::int32_t colIndex, std::string& text) const {
  if (!ValidItem(itemId) || !ValidColumn(colIndex)) return false;
  text.assign(rows_.at(itemId)->CellOrEmpty(static_cast<std::size_t>(colIndex)));
  return true;
}

bool MyListview::GetItem(std::int32_t itemId, std::vector<std::string>& cols) const {
  if (!ValidItem(itemId)) return false;
  const Row* row = rows_.at(itemId);
  cols.resize(columns_.size());
  // resize and copy: a plain assign goes through the general replace, which
  // costs more than the copy itself for texts this short.
  std::size_t stored = std::min<std::size_t>(row->cells, cols.size());
  const std::uint32_t* ends = row->Ends();
  const char* text = row->Text();
  std::uint32_t begin = 0;
  for (std::size_t c = 0; c < stored; ++c) {
    std::size_t n = ends[c] - begin;
    cols[c].resize(n);
    if (n) std::memcpy(cols[c].data(), text + begin, n);
    begin = ends[c];
  }
  for (std::size_t c = stored; c < cols.size(); ++c) cols[c].clear();
  return true;
}

std::int32_t MyListview::GetItemFlags(std::int32_t itemId) const {
  return ValidItem(itemId) ? rows_.at(itemId)->flags : 0;
}

bool MyListview::RemoveItem(std::int32_t itemId, bool redraw) {
  if (!ValidItem(itemId)) return false;
  Row* row = rows_.at(itemId);
  if ((row->state & kStatePending) && ItemCount() > 1) MeasureRow(row);
  if (row->state & kStatePending) --pendingRows_;
  rows_.erase(itemId);
  if (anchor_ == itemId) {
    anchor_ = -1;
  } else if (anchor_ > itemId) {
    --anchor_;
  }
  if (ItemCount() == 0) ResetMaxWidths();
  if (vscroll_ > VSCROLL_MAX()) vscroll_ = VSCROLL_MAX();
  if (redraw) Repaint();
  return true;
}

void MyListview::Clear(bool redraw) {
  rows_.clear();
  pendingRows_ = 0;
  anchor_ = -1;
  ResetMaxWidths();
  vscroll_ = 0;
  if (redraw) Repaint();
}

bool MyListview::RemoveCol(std::int32_t colIndex, bool redraw) {
  if (colIndex <= 0 || colIndex >= ColumnCount()) return false;
  auto c = static_cast<std::size_t>(colIndex);
  rows_.ForEach([c](Row* row) { grid_detail::RemoveRowCell(row, c); });
  columns_.erase(columns_.begin() + colIndex);
  if (redraw) Repaint();
  return true;
}

void MyListview::ResizeColumns(std::size_t count) {
  if (count < columns_.size()) {
    rows_.ForEach([count](Row* row) { grid_detail::TruncateRow(row, count); });
  }
  columns_.resize(count);
}

// ---- Sort and search -------------------------------------------------------------

void MyListview::SortByCol(std::int32_t colIndex, bool ascending, bool redraw) {
  if (ValidColumn(colIndex) && ItemCount() > 0) {
    try {
      auto c = static_cast<std::size_t>(colIndex);
      std::vector<SortKey> keys;
      keys.reserve(static_cast<std::size_t>(ItemCount()));
      std::deque<std::u16string> units;  // never moves, so keys may point into it
      // Rows with equal keys come out in the reverse of their order before
      // the sort: a stable sort of the reversed list gives exactly that.
      rows_.ForEachReverse([&](Row* row) {
        std::string_view key = row->CellOrEmpty(c);
        std::uint32_t kind = kKeyPlain;
        if (!(row->state & kStateAscii) && !grid_detail::IsAscii(key)) {
          bool upperBmp = false;
          if (!IsStrictUtf8(key, upperBmp)) {
            units.push_back(Utf8ToUtf16(key));
            keys.push_back({units.back().data(), static_cast<std::uint32_t>(units.back().size()),
                            kKeyUnits, row});
            return;
          }
          if (upperBmp) kind = kKeyRemap;
        }
        keys.push_back({key.data(), static_cast<std::uint32_t>(key.size()), kind, row});
      });
      if (ascending) {
        std::stable_sort(keys.begin(), keys.end(),
                         [](const SortKey& a, const SortKey& b) { return CompareKeys(a, b) < 0; });
      } else {
        std::stable_sort(keys.begin(), keys.end(),
                         [](const SortKey& a, const SortKey& b) { return CompareKeys(a, b) > 0; });
      }
      std::vector<Row*> order;
      order.reserve(keys.size());
      for (const SortKey& k : keys) order.push_back(k.row);
      rows_.assign(order);
      anchor_ = -1;
    } catch (const std::bad_alloc&) {
      // The list keeps its order.
    }
  }
  if (redraw) Repaint();
}

std::int32_t MyListview::FindString(std::int32_t startId, std::int32_t colIndex,
                                    std::string_view text, bool wholeText, int compare) const {
  if (colIndex >= ColumnCount() || !ValidItem(startId)) return -1;
  bool textCompare = compare == kCompareText;
  if (text.empty()) {
    wholeText = true;
    textCompare = false;
  }
  try {
    grid_detail::CellMatcher matcher(text, wholeText, textCompare);
    if (colIndex < 0) {
      return rows_.FindFrom(startId, [&](const Row* row) {
        bool ascii = row->state & kStateAscii;
        for (std::size_t c = 0; c < row->cells; ++c)
          if (matcher.Matches(row->Cell(c), ascii)) return true;
        return false;
      });
    }
    auto c = static_cast<std::size_t>(colIndex);
    return rows_.FindFrom(startId, [&](const Row* row) {
      return c < row->cells && matcher.Matches(row->Cell(c), row->state & kStateAscii);
    });
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

// ---- Selection and check marks ---------------------------------------------------

bool MyListview::GetItemCheckbox(std::int32_t itemId) const {
  return ValidItem(itemId) && (rows_.at(itemId)->flags & kRowChecked);
}

bool MyListview::SetItemCheckbox(std::int32_t itemId, bool value, bool redraw) {
  if (!ValidItem(itemId)) return false;
  Row* row = rows_.at(itemId);
  std::int32_t old = row->flags;
  row->flags = value ? (old | kRowChecked) : (old & ~kRowChecked);
  if (row->flags != old && redraw) Repaint();
  return true;
}

void MyListview::SetAllItemSelectCheckbox(int selectOp, int checkOp, bool redraw) {
  selectOp = std::clamp(selectOp, kBulkLeave, kBulkToggle);
  checkOp = std::clamp(checkOp, kBulkLeave, kBulkToggle);
  if (!multiselect_) {
    if (selectOp == kBulkClear || selectOp == kBulkToggle) {
      anchor_ = -1;
      if (checkOp == kBulkLeave && redraw) Repaint();
    }
    selectOp = kBulkLeave;
  }
  if (selectOp == kBulkLeave && checkOp == kBulkLeave) return;
  anchor_ = -1;
  std::int32_t id = 0;
  rows_.ForEach([&](Row* row) {
    std::int32_t f = row->flags;
    switch (selectOp) {
      case kBulkSet: f |= kRowSelected; break;
      case kBulkClear: f &= ~kRowSelected; break;
      case kBulkToggle: f ^= kRowSelected; break;
      default: break;
    }
    if (selectOp != kBulkLeave && (f & kRowSelected) && anchor_ < 0) anchor_ = id;
    switch (checkOp) {
      case kBulkSet: f |= kRowChecked; break;
      case kBulkClear: f &= ~kRowChecked; break;
      case kBulkToggle: f ^= kRowChecked; break;
      default: break;
    }
    row->flags = f;
    ++id;
  });
  if (redraw) Repaint();
}

std::int32_t MyListview::GetFirstSelectedItemID() {
  if (!multiselect_ || anchor_ >= 0) return anchor_;
  anchor_ = rows_.FindFrom(0, [](const Row* row) { return (row->flags & kRowSelected) != 0; });
  return anchor_;
}

bool MyListview::GetItemSelected(std::int32_t itemId) const {
  if (!ValidItem(itemId)) return false;
  if (multiselect_) return (rows_.at(itemId)->flags & kRowSelected) != 0;
  return itemId == anchor_;
}

bool MyListview::SetItemSelected(std::int32_t itemId, bool value, bool redraw) {
  if (!ValidItem(itemId)) return false;
  if (multiselect_) {
    Row* row = rows_.at(itemId);
    row->flags = value ? (row->flags | kRowSelected) : (row->flags & ~kRowSelected);
  }
  anchor_ = value ? itemId : -1;
  if (redraw) Repaint();
  return true;
}

void MyListview::PressRow(std::int32_t itemId, bool onCheckBox) {
  if (!ValidItem(itemId)) return;
  Row* row = rows_.at(itemId);
  bool check = onCheckBox && hasCheckBox_;
  bool select = !(check && multiselect_);
  if (check) row->flags ^= kRowChecked;
  bool selected = true;
  if (select) {
    if (multiselect_) {
      row->flags ^= kRowSelected;
      selected = (row->flags & kRowSelected) != 0;
      if (selected && (anchor_ < 0 || itemId < anchor_)) {
        anchor_ = itemId;
      } else if (!selected && anchor_ == itemId) {
        anchor_ = -1;
      }
    } else {
      anchor_ = itemId;
    }
  }
  bool checked = (row->flags & kRowChecked) != 0;
  Repaint();
  if (select) events_->ItemClick(itemId, selected);
  if (check) events_->ItemCheck(itemId, checked);
}

// ---- Scrolling and header geometry ------------------------------------------------

std::int32_t MyListview::HSCROLL_MAX() const {
  std::int64_t total = 0;
  for (const ColumnInfo& c : columns_) total += std::max(c.width, 0);
  return static_cast<std::int32_t>(std::max<std::int64_t>(0, total - pageWidth_));
}

void MyListview::SetPageSizes(std::int32_t rowsPerPage, std::int32_t pageWidth) {
  rowsPerPage_ = std::max(rowsPerPage, 1);
  pageWidth_ = std::max(pageWidth, 0);
  hscroll_ = std::min(hscroll_, HSCROLL_MAX());
}

bool MyListview::ScrollVertTo(std::int32_t row) {
  std::int32_t old = vscroll_;
  vscroll_ = std::clamp(row, 0, VSCROLL_MAX());
  return vscroll_ != old;
}

bool MyListview::ScrollHorizTo(std::int32_t pixels) {
  std::int32_t old = hscroll_;
  hscroll_ = std::clamp(pixels, 0, HSCROLL_MAX());
  return hscroll_ != old;
}

void MyListview::Scroll_Vert(bool forward, bool page, bool redraw) {
  std::int64_t step = page ? rowsPerPage_ : 1;
  std::int64_t target = static_cast<std::int64_t>(vscroll_) + (forward ? step : -step);
  ScrollVertTo(static_cast<std::int32_t>(std::clamp<std::int64_t>(target, 0, VSCROLL_MAX())));
  if (redraw) Repaint();
}

void MyListview::Scroll_Horiz(bool forward, bool page, bool redraw) {
  std::int64_t step = page ? std::max(pageWidth_, 1) : kHorizLineStep;
  std::int64_t target = static_cast<std::int64_t>(hscroll_) + (forward ? step : -step);
  ScrollHorizTo(static_cast<std::int32_t>(std::clamp<std::int64_t>(target, 0, HSCROLL_MAX())));
  if (redraw) Repaint();
}

bool MyListview::ApplyScrollKey(ScrollKey key) {
  std::int32_t v = vscroll_;
  std::int32_t h = hscroll_;
  switch (key) {
    case ScrollKey::Up: Scroll_Vert(false, false, false); break;
    case ScrollKey::Down: Scroll_Vert(true, false, false); break;
    case ScrollKey::PageUp: Scroll_Vert(false, true, false); break;
    case ScrollKey::PageDown: Scroll_Vert(true, true, false); break;
    case ScrollKey::Home: ScrollVertTo(0); break;
    case ScrollKey::End: ScrollVertTo(VSCROLL_MAX()); break;
    case ScrollKey::Left: Scroll_Horiz(false, false, false); break;
    case ScrollKey::Right: Scroll_Horiz(true, false, false); break;
  }
  Repaint();
  return v != vscroll_ || h != hscroll_;
}

bool MyListview::TrackVisible(std::int32_t itemId, bool redraw) {
  if (!ValidItem(itemId)) return false;
  vscroll_ = itemId;
  if (redraw) Repaint();
  return true;
}

MyListview::HeaderHit MyListview::HitTestHeader(std::int32_t x) const {
  std::int64_t right = -static_cast<std::int64_t>(hscroll_);
  HeaderHit cell;
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    std::int64_t left = right;
    right += std::max(columns_[c].width, 0);
    if (x >= right - kBorderGrip && x <= right + kBorderGrip)
      return {static_cast<std::int32_t>(c), true};
    if (cell.colIndex < 0 && x >= left && x < right) cell.colIndex = static_cast<std::int32_t>(c);
  }
  return cell;
}

void MyListview::FitColumnFromBorder(std::int32_t colIndex) {
  if (!SetColumnheaderWidth(colIndex, -1, true)) return;
  events_->ColumnArrange(colIndex, GetColumnheaderWidth(colIndex));
}

std::int32_t MyListview::CheckBoxWidth() {
  return hasCheckBox_ ? TextHeightU("Ay", false) + 2 : 0;
}

// ---- Properties --------------------------------------------------------------------

void MyListview::SetFont(const GridFont& font) {
  font_ = font;
  Changed("Font");
}

void MyListview::SetHasColumnheader(bool value) {
  hasColumnheader_ = value;
  Changed("HasColumnheader");
}

void MyListview::SetHasCheckBox(bool value) {
  hasCheckBox_ = value;
  Changed("HasCheckBox");
}

void MyListview::SetColumnCount(std::int32_t count) {
  count = std::clamp(count, 1, kMaxColumnCount);
  if (count == ColumnCount()) return;
  ResizeColumns(static_cast<std::size_t>(count));
  Changed("ColumnCount");
}

void MyListview::SetBackColor(GridColor color) {
  backColor_ = color;
  Changed("BackColor");
}

void MyListview::SetFontColor(GridColor color) {
  fontColor_ = color;
  Changed("FontColor");
}

void MyListview::SetBorderColor(GridColor color) {
  borderColor_ = color;
  Changed("BorderColor");
}

void MyListview::SetHeaderBckColor(GridColor color) {
  headerBckColor_ = color;
  Changed("HeaderBckColor");
}

void MyListview::SetHasHorizBorder(bool value) {
  hasHorizBorder_ = value;
  Changed("HasHorizBorder");
}

void MyListview::SetMultiselect(bool value) {
  if (value == multiselect_) return;
  multiselect_ = value;
  Changed("Multiselect");
}

GridColor MyListview::SelectionColor() const {
  auto channel = [](std::uint8_t back, std::uint8_t font) {
    int sum = back + font;
    int m = sum / 2;
    if ((sum & 1) && (m & 1)) ++m;  // a half goes to the even neighbour
    if (std::abs(m - back) < 64) m = (m + 128) % 256;
    return static_cast<std::uint8_t>(m);
  };
  return {channel(backColor_.r, fontColor_.r), channel(backColor_.g, fontColor_.g),
          channel(backColor_.b, fontColor_.b)};
}

}  // namespace velotag
