// Matching one cell against a search text, byte for byte or under Unicode
// case folding (the "text" comparison of TextEquals).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velotag::grid_detail {

// True for the code points whose case folding can put an ASCII character
// into a text or take one out of it: those that fold to ASCII (ß -> ss,
// the Kelvin sign -> k, ligatures ...) and the combining diacritical marks,
// which compose with a preceding ASCII letter.
bool FoldMayTouchAscii(std::uint32_t codePoint);

class CellMatcher {
 public:
  CellMatcher(std::string_view needle, bool wholeText, bool textCompare);
  // rowAscii: the caller knows the cell holds ASCII only.
  bool Matches(std::string_view cell, bool rowAscii) const;

 private:
  bool FoldedMatches(std::string_view cell) const;

  std::string_view needle_;
  std::string folded_;
  bool whole_;
  bool text_;
  bool foldedAscii_ = false;
};

}  // namespace velotag::grid_detail
