#include "terminal_text.h"

#include <cstdio>

namespace velotag::cli {

namespace {

std::string Escaped(std::string_view text, bool keepLayout, bool backslashes) {
  std::string out;
  out.reserve(text.size());
  char buf[8];
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == 0xC2 && i + 1 < text.size()) {
      auto next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9F) {
        std::snprintf(buf, sizeof buf, "\\u%04X", next);
        out += buf;
        ++i;
        continue;
      }
    }
    if (c == '\\' && backslashes) {
      out += "\\\\";
    } else if (keepLayout && (c == '\t' || c == '\n' ||
                              (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))) {
      out.push_back(static_cast<char>(c));
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

}  // namespace

std::string EscapeControls(std::string_view text, bool keepLayout) {
  return Escaped(text, keepLayout, false);
}

std::string EscapeCell(std::string_view text) { return Escaped(text, false, true); }

}  // namespace velotag::cli
