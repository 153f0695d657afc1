// SHA-1, for the names the online lookups give what they compute.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velotag {

std::array<std::uint8_t, 20> Sha1(std::string_view data);
// Lower-case hexadecimal.
std::string Sha1Hex(std::string_view data);

}  // namespace velotag
