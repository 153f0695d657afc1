// Small string helpers every module uses: ASCII case for protocol words and
// file extensions, replacing, trimming. Unicode-aware comparison lives in
// textenc.h (CaseFold, TextEquals).
#pragma once

#include <string>
#include <string_view>

namespace velotag {

std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
// ASCII case-insensitive search for `from`.
std::string ReplaceAllNoCase(std::string_view text, std::string_view from, std::string_view to);
bool ContainsNoCase(std::string_view text, std::string_view what);
// Without the space characters at both ends (tabs stay).
std::string TrimSpaces(std::string_view text);
// Without spaces and tabs at both ends.
std::string TrimBlanks(std::string_view text);

}  // namespace velotag
