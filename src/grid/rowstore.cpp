#include "grid/rowstore.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace velotag::grid_detail {

bool IsAscii(std::string_view text) {
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t any = 0;
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    any |= w;
  }
  for (; n > 0; ++p, --n) any |= static_cast<unsigned char>(*p);
  return (any & 0x8080808080808080ull) == 0;
}

Row* NewRow(std::span<const std::string_view> cells, std::int32_t flags, std::uint16_t state) {
  if (cells.empty() || cells.size() > kMaxRowCells) return nullptr;
  std::uint64_t textBytes = 0;
  for (std::string_view c : cells) textBytes += c.size();
  if (textBytes > std::numeric_limits<std::uint32_t>::max()) return nullptr;
  std::size_t bytes = sizeof(Row) + cells.size() * sizeof(std::uint32_t) +
                      static_cast<std::size_t>(textBytes);
  void* memory = ::operator new(bytes, std::nothrow);
  if (!memory) return nullptr;
  Row* row = new (memory) Row{flags, static_cast<std::uint16_t>(cells.size()), 0};
  std::uint32_t* ends = row->Ends();
  char* text = row->Text();
  std::uint32_t end = 0;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    std::string_view c = cells[i];
    if (!c.empty()) std::memcpy(text + end, c.data(), c.size());
    end += static_cast<std::uint32_t>(c.size());
    ends[i] = end;
  }
  bool ascii = IsAscii(std::string_view(text, end));
  row->state = static_cast<std::uint16_t>((state & ~kStateAscii) | (ascii ? kStateAscii : 0));
  return row;
}

void FreeRow(Row* row) {
  if (row) ::operator delete(static_cast<void*>(row));
}

void TruncateRow(Row* row, std::size_t count) {
  if (count == 0 || count >= row->cells) return;
  std::uint32_t keep = row->Ends()[count - 1];
  const char* oldText = row->Text();
  char* newText = reinterpret_cast<char*>(row->Ends() + count);
  std::memmove(newText, oldText, keep);
  row->cells = static_cast<std::uint16_t>(count);
}

void RemoveRowCell(Row* row, std::size_t index) {
  std::size_t m = row->cells;
  if (index == 0 || index >= m) return;
  std::uint32_t* ends = row->Ends();
  std::uint32_t begin = ends[index - 1];
  std::uint32_t end = ends[index];
  std::uint32_t total = ends[m - 1];
  std::uint32_t length = end - begin;
  char* oldText = row->Text();
  for (std::size_t i = index; i + 1 < m; ++i) ends[i] = ends[i + 1] - length;
  // The text starts one offset earlier; the two kept pieces close the gap.
  char* newText = oldText - sizeof(std::uint32_t);
  std::memmove(newText, oldText, begin);
  std::memmove(newText + begin, oldText + end, total - end);
  row->cells = static_cast<std::uint16_t>(m - 1);
}

void RowList::Locate(std::int32_t i) const {
  if (InBlock(cursor_, i)) return;
  if (InBlock(cursor_ + 1, i)) {
    ++cursor_;
    return;
  }
  if (cursor_ > 0 && InBlock(cursor_ - 1, i)) {
    --cursor_;
    return;
  }
  auto it = std::upper_bound(starts_.begin(), starts_.end(), i);
  cursor_ = static_cast<std::size_t>(it - starts_.begin()) - 1;
}

void RowList::insert(std::int32_t i, Row* row) {
  if (i < 0 || i >= count_) {
    if (blocks_.empty() || blocks_.back().size() >= kBlock) {
      std::vector<Row*> block;
      block.reserve(kBlock);
      block.push_back(row);
      starts_.reserve(starts_.size() + 1);
      blocks_.push_back(std::move(block));
      starts_.push_back(count_);
    } else {
      blocks_.back().push_back(row);
    }
    ++count_;
    return;
  }
  Locate(i);
  std::size_t b = cursor_;
  std::vector<Row*>& block = blocks_[b];
  if (block.size() + 1 > 2 * kBlock) {
    // Split first, so that nothing has changed if an allocation fails.
    std::size_t half = block.size() / 2;
    std::vector<Row*> tail(block.begin() + static_cast<std::ptrdiff_t>(half), block.end());
    tail.reserve(2 * kBlock);
    block.reserve(2 * kBlock);
    starts_.reserve(starts_.size() + 1);
    blocks_.reserve(blocks_.size() + 1);
    std::int32_t tailStart = starts_[b] + static_cast<std::int32_t>(half);
    blocks_[b].resize(half);
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b + 1), std::move(tail));
    starts_.insert(starts_.begin() + static_cast<std::ptrdiff_t>(b + 1), tailStart);
    if (i >= tailStart) ++b;
  }
  std::vector<Row*>& target = blocks_[b];
  target.insert(target.begin() + (i - starts_[b]), row);
  for (std::size_t k = b + 1; k < starts_.size(); ++k) ++starts_[k];
  ++count_;
  cursor_ = b;
}

void RowList::erase(std::int32_t i) {
  Locate(i);
  std::size_t b = cursor_;
  std::vector<Row*>& block = blocks_[b];
  auto it = block.begin() + (i - starts_[b]);
  FreeRow(*it);
  block.erase(it);
  for (std::size_t k = b + 1; k < starts_.size(); ++k) --starts_[k];
  if (block.empty()) {
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
    starts_.erase(starts_.begin() + static_cast<std::ptrdiff_t>(b));
    if (cursor_ > 0) --cursor_;
  }
  --count_;
}

void RowList::replace(std::int32_t i, Row* row) {
  Locate(i);
  Row*& slot = blocks_[cursor_][static_cast<std::size_t>(i - starts_[cursor_])];
  FreeRow(slot);
  slot = row;
}

void RowList::clear() {
  for (std::vector<Row*>& block : blocks_)
    for (Row* row : block) FreeRow(row);
  blocks_.clear();
  blocks_.shrink_to_fit();
  starts_.clear();
  starts_.shrink_to_fit();
  count_ = 0;
  cursor_ = 0;
}

void RowList::assign(const std::vector<Row*>& rows) {
  std::vector<std::vector<Row*>> blocks;
  std::vector<std::int32_t> starts;
  std::size_t n = (rows.size() + kBlock - 1) / kBlock;
  blocks.reserve(n);
  starts.reserve(n);
  for (std::size_t first = 0; first < rows.size(); first += kBlock) {
    std::size_t last = std::min(rows.size(), first + kBlock);
    blocks.emplace_back(rows.begin() + static_cast<std::ptrdiff_t>(first),
                        rows.begin() + static_cast<std::ptrdiff_t>(last));
    starts.push_back(static_cast<std::int32_t>(first));
  }
  blocks_ = std::move(blocks);
  starts_ = std::move(starts);
  count_ = static_cast<std::int32_t>(rows.size());
  cursor_ = 0;
}

}  // namespace velotag::grid_detail
