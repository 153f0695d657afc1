// libFuzzer target: LoadCSV on arbitrary files, in both of its encodings and
// with read sizes that cut the text anywhere.
//
// Promises: the read size never changes what is loaded; a list saved by
// SaveCSV and loaded again, saved and loaded again, is the same list
// (headers, rows, selection) both times.
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "grid/mylistview.h"

using namespace velotag;
using velotag::fuzz::Check;

namespace {

struct Loaded {
  bool ok = false;
  std::vector<std::string> headers;
  std::vector<std::vector<std::string>> rows;
  std::vector<bool> selected;
  bool operator==(const Loaded&) const = default;
};

Loaded Load(const std::string& file, std::int32_t bufferSize, bool unicode) {
  MyListview grid;
  Loaded l;
  l.ok = grid.LoadCSV(file, bufferSize, unicode);
  for (std::int32_t c = 0; c < grid.ColumnCount(); ++c) l.headers.push_back(grid.GetColumnheaderValue(c));
  std::vector<std::string> row;
  for (std::int32_t i = 0; i < grid.ItemCount(); ++i) {
    grid.GetItem(i, row);
    l.rows.push_back(row);
    l.selected.push_back(grid.GetItemSelected(i));
  }
  if (l.ok) {
    const std::string copy = file + ".saved";
    Check(grid.SaveCSV(copy, unicode, false), "a loaded list can be saved");
  }
  return l;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string file = fuzz::WorkFolder() + "list.csv";
  // The first byte picks the encoding and the read size.
  const bool unicode = data[0] & 1;
  const std::int32_t bufferSize = 128 + (data[0] >> 1) * 7;
  fuzz::WriteFile(file, data + 1, size - 1);
  const Loaded whole = Load(file, 1 << 16, unicode);
  Check(Load(file, bufferSize, unicode) == whole, "the read size does not change the list");
  if (!whole.ok) return 0;
  // The format loses some text by design (leading blanks of a bare cell, a
  // cell's CR LF); once through it, a list stays the same.
  const Loaded once = Load(file + ".saved", 1 << 16, unicode);
  const Loaded twice = Load(file + ".saved.saved", 1 << 16, unicode);
  Check(once.ok && twice == once, "a saved list loads back the same");
  return 0;
}
