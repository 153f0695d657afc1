#include "online/digest.h"

#include <openssl/evp.h>

namespace velotag {

std::array<std::uint8_t, 20> Sha1(std::string_view data) {
  std::array<std::uint8_t, 20> md{};
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), md.data(), &size, EVP_sha1(), nullptr);
  return md;
}

std::string Sha1Hex(std::string_view data) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : Sha1(data)) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

}  // namespace velotag
