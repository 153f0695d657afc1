// The ID3v1 genre list: 148 names, byte 255 for "no genre".
#pragma once

#include <cstdint>
#include <string>

namespace velotag {

inline constexpr std::uint8_t kNoGenre = 255;
inline constexpr int kGenreCount = 148;

// The name for 0..147, the decimal text for 148..254, "" for 255.
std::string GenreName(std::uint8_t genre);
// The caller's variable is trimmed (or loses every blank when ignoreSpaces).
std::uint8_t GenreIndex(std::string& name, bool ignoreSpaces);

}  // namespace velotag
