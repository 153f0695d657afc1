#include "grid/textmatch.h"

#include <cstring>

#include "grid/rowstore.h"
#include "support/textenc.h"
#include "support/utf8.h"

namespace velotag::grid_detail {

namespace {

struct AsciiLower {
  unsigned char map[256];
  AsciiLower() {
    for (int i = 0; i < 256; ++i)
      map[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i + 32 : i);
  }
};
const AsciiLower kLower;

bool AsciiEqualsFolded(std::string_view cell, std::string_view folded) {
  if (cell.size() != folded.size()) return false;
  for (std::size_t i = 0; i < cell.size(); ++i)
    if (kLower.map[static_cast<unsigned char>(cell[i])] != static_cast<unsigned char>(folded[i]))
      return false;
  return true;
}

// folded is ASCII lower case; bytes of the cell above 0x7F never match it.
bool AsciiContainsFolded(std::string_view cell, std::string_view folded) {
  std::size_t m = folded.size();
  if (m > cell.size()) return false;
  const auto* c = reinterpret_cast<const unsigned char*>(cell.data());
  const auto* f = reinterpret_cast<const unsigned char*>(folded.data());
  unsigned char first = f[0];
  std::size_t last = cell.size() - m;
  for (std::size_t i = 0; i <= last; ++i) {
    if (kLower.map[c[i]] != first) continue;
    std::size_t k = 1;
    while (k < m && kLower.map[c[i + k]] == f[k]) ++k;
    if (k == m) return true;
  }
  return false;
}

// Well-formed UTF-8 none of whose characters FoldMayTouchAscii: folding it
// lowers its ASCII letters and turns every other character into non-ASCII
// text, so the ASCII runs of the folded cell are the cell's own, lowered.
bool AsciiRunsSurviveFolding(std::string_view s) {
  return EveryNonAsciiUtf8(s, [](std::uint32_t cp) { return !FoldMayTouchAscii(cp); });
}

}  // namespace

bool FoldMayTouchAscii(std::uint32_t cp) {
  if (cp >= 0x0300 && cp <= 0x036F) return true;
  if (cp >= 0xFB00 && cp <= 0xFB06) return true;
  switch (cp) {
    case 0x00DF: case 0x0130: case 0x0149: case 0x017F: case 0x037E:
    case 0x1E9A: case 0x1E9E: case 0x1FEF: case 0x212A:
      return true;
    default:
      return false;
  }
}

CellMatcher::CellMatcher(std::string_view needle, bool wholeText, bool textCompare)
    : needle_(needle), whole_(wholeText), text_(textCompare) {
  if (text_) {
    folded_ = CaseFold(needle);
    foldedAscii_ = IsAscii(folded_);
  }
}

bool CellMatcher::Matches(std::string_view cell, bool rowAscii) const {
  if (!text_) {
    if (whole_) return cell == needle_;
    return cell.size() >= needle_.size() &&
           ::memmem(cell.data(), cell.size(), needle_.data(), needle_.size()) != nullptr;
  }
  if (rowAscii || IsAscii(cell)) {
    if (!foldedAscii_) return false;  // ASCII folds to ASCII only
    return whole_ ? AsciiEqualsFolded(cell, folded_) : AsciiContainsFolded(cell, folded_);
  }
  if (foldedAscii_ && AsciiRunsSurviveFolding(cell)) {
    // The folded cell keeps non-ASCII text, so it cannot equal an ASCII text.
    return whole_ ? false : AsciiContainsFolded(cell, folded_);
  }
  return FoldedMatches(cell);
}

bool CellMatcher::FoldedMatches(std::string_view cell) const {
  std::string foldedCell = CaseFold(cell);
  if (whole_) return foldedCell == folded_;
  return foldedCell.find(folded_) != std::string::npos;
}

}  // namespace velotag::grid_detail
