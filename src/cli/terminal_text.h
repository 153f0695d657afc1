// Text from files and the network on its way to a terminal. A tag value, a
// file name or a server's answer can hold escape sequences that would move
// the cursor, clear the screen or forge a status line; every control
// character becomes a visible escape instead.
#pragma once

#include <string>
#include <string_view>

namespace velotag::cli {

// C0 controls and DEL as \t, \n, \r or \xNN, C1 controls (U+0080..U+009F)
// as \u0080..\u009F. With keepLayout, TAB, LF and CR LF stay as they are
// (the layout of a listing). Bytes that are no UTF-8 pass unchanged: they are a
// file name's own bytes.
std::string EscapeControls(std::string_view text, bool keepLayout = false);

// A tsv cell or a FIELD=VALUE line: a backslash doubled, then as above.
std::string EscapeCell(std::string_view text);

}  // namespace velotag::cli
