// Row storage of the grid: every row is one allocation holding its Flags, the
// end offset of each stored cell and the cells' UTF-8 bytes back to back, and
// the rows sit in blocks of pointers so that an insert or a removal moves at
// most one block's pointers and never a row's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace velotag::grid_detail {

// Row::state bits, private to the grid.
inline constexpr std::uint16_t kStateAscii = 1;    // every stored byte is below 0x80
inline constexpr std::uint16_t kStatePending = 2;  // widths not yet folded into MaxTextWidth

struct Row {
  std::int32_t flags;
  std::uint16_t cells;  // stored cells, at least 1 (column 0 always exists)
  std::uint16_t state;
  // Followed by std::uint32_t ends[cells], then the text bytes.

  const std::uint32_t* Ends() const { return reinterpret_cast<const std::uint32_t*>(this + 1); }
  std::uint32_t* Ends() { return reinterpret_cast<std::uint32_t*>(this + 1); }
  const char* Text() const { return reinterpret_cast<const char*>(Ends() + cells); }
  char* Text() { return reinterpret_cast<char*>(Ends() + cells); }
  std::string_view Cell(std::size_t i) const {
    std::uint32_t begin = i ? Ends()[i - 1] : 0;
    return {Text() + begin, Ends()[i] - begin};
  }
  // "" for a cell the row does not store.
  std::string_view CellOrEmpty(std::size_t i) const {
    return i < cells ? Cell(i) : std::string_view();
  }
};
static_assert(sizeof(Row) == 8);

inline constexpr std::size_t kMaxRowCells = 65535;

// A new row holding the given cells (1 to kMaxRowCells of them); nullptr when
// memory is short or the texts exceed 4 GiB together.
Row* NewRow(std::span<const std::string_view> cells, std::int32_t flags, std::uint16_t state);
void FreeRow(Row* row);
// In place, without allocating: drop the cells from count on (count >= 1) or
// the one cell at index (index >= 1). The block keeps its size.
void TruncateRow(Row* row, std::size_t count);
void RemoveRowCell(Row* row, std::size_t index);
bool IsAscii(std::string_view text);

// The rows in display order. Owns them: erase, replace and clear free them.
class RowList {
 public:
  RowList() = default;
  RowList(const RowList&) = delete;
  RowList& operator=(const RowList&) = delete;
  ~RowList() { clear(); }

  std::int32_t size() const { return count_; }
  // 0 <= i < size(). Sequential indexes cost one comparison each.
  Row* at(std::int32_t i) const {
    Locate(i);
    return blocks_[cursor_][static_cast<std::size_t>(i - starts_[cursor_])];
  }
  // Links row in before index i; i == size() appends. Leaves the list as it
  // was when it throws std::bad_alloc.
  void insert(std::int32_t i, Row* row);
  void erase(std::int32_t i);
  void replace(std::int32_t i, Row* row);
  void clear();
  // Takes the rows over in the given order (after a sort).
  void assign(const std::vector<Row*>& rows);

  // f(row) for every row from first on, in order; stops when f returns true
  // and gives that row's index, else -1.
  template <class F>
  std::int32_t FindFrom(std::int32_t first, F&& f) const {
    if (first < 0 || first >= count_) return -1;
    Locate(first);
    std::int32_t id = first;
    for (std::size_t b = cursor_; b < blocks_.size(); ++b) {
      const std::vector<Row*>& block = blocks_[b];
      for (std::size_t k = static_cast<std::size_t>(id - starts_[b]); k < block.size(); ++k) {
        if (f(static_cast<const Row*>(block[k]))) {
          cursor_ = b;
          return id;
        }
        ++id;
      }
    }
    return -1;
  }
  template <class F>
  void ForEach(F&& f) const {
    for (const std::vector<Row*>& block : blocks_)
      for (Row* row : block) f(row);
  }
  template <class F>
  void ForEachReverse(F&& f) const {
    for (auto b = blocks_.rbegin(); b != blocks_.rend(); ++b)
      for (auto r = b->rbegin(); r != b->rend(); ++r) f(*r);
  }

 private:
  static constexpr std::size_t kBlock = 512;
  void Locate(std::int32_t i) const;
  bool InBlock(std::size_t b, std::int32_t i) const {
    return b < blocks_.size() && i >= starts_[b] &&
           i < starts_[b] + static_cast<std::int32_t>(blocks_[b].size());
  }

  std::vector<std::vector<Row*>> blocks_;
  std::vector<std::int32_t> starts_;  // index of each block's first row
  std::int32_t count_ = 0;
  mutable std::size_t cursor_ = 0;  // the block of the last lookup
};

}  // namespace velotag::grid_detail
