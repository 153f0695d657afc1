// Small text helpers shared by the online modules (not part of their API).
#pragma once

#include <string>
#include <string_view>

namespace velotag::online {

// ASCII lower case; protocol keywords and header names are ASCII.
std::string AsciiLower(std::string_view text);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
// ASCII case-insensitive search for `from`.
std::string ReplaceAllNoCase(std::string_view text, std::string_view from, std::string_view to);
bool ContainsNoCase(std::string_view text, std::string_view what);

}  // namespace velotag::online
