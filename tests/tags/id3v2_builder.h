// Builds ID3v2 tags byte by byte for the tests, independently of the code
// under test, and opens files the way the callers do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tags/id3v2.h"
#include "testutil.h"

namespace velotag::test {

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Slice(const Bytes& b, std::size_t from, std::size_t n) {
  return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + n));
}

inline Bytes Synchsafe(std::uint32_t v) {
  return {static_cast<std::uint8_t>((v >> 21) & 0x7F), static_cast<std::uint8_t>((v >> 14) & 0x7F),
          static_cast<std::uint8_t>((v >> 7) & 0x7F), static_cast<std::uint8_t>(v & 0x7F)};
}

inline Bytes Plain(std::uint32_t v, int n = 4) {
  Bytes out;
  for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return out;
}

// One frame in the layout of the given major version.
inline Bytes Frame(int version, const std::string& id, const Bytes& body,
                   std::uint16_t flags = 0) {
  Bytes out(id.begin(), id.end());
  if (version == 2) return Cat({out, Plain(static_cast<std::uint32_t>(body.size()), 3), body});
  Bytes size = version == 4 ? Synchsafe(static_cast<std::uint32_t>(body.size()))
                            : Plain(static_cast<std::uint32_t>(body.size()));
  return Cat({out, size, {static_cast<std::uint8_t>(flags & 0xFF),
                          static_cast<std::uint8_t>(flags >> 8)},
              body});
}

// A text frame body in encoding 0 or 3: encoding byte, text, zero.
inline Bytes TextBody(const std::string& text, std::uint8_t encoding = 0) {
  Bytes out;
  out.reserve(text.size() + 2);
  out.push_back(encoding);
  for (char c : text) out.push_back(static_cast<std::uint8_t>(c));
  out.push_back(0);
  return out;
}

inline Bytes Header(int version, std::uint8_t flags, std::uint32_t size, int revision = 0) {
  return Cat({{'I', 'D', '3', static_cast<std::uint8_t>(version),
               static_cast<std::uint8_t>(revision), flags},
              Synchsafe(size)});
}

// Unsynchronisation: a zero byte after every FF that a reader could take
// for the start of a sync pattern (or for an inserted zero).
inline Bytes Unsynchronise(const Bytes& in) {
  Bytes out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    out.push_back(in[i]);
    if (in[i] == 0xFF && (i + 1 == in.size() || in[i + 1] == 0 || in[i + 1] >= 0xE0))
      out.push_back(0);
  }
  return out;
}

// A whole tag: header + frames + zero padding (+ a footer when flagged).
inline Bytes Tag(int version, const Bytes& frames, std::size_t padding = 0,
                 std::uint8_t flags = 0) {
  Bytes body = frames;
  body.resize(body.size() + padding, 0);
  Bytes out = Cat({Header(version, flags, static_cast<std::uint32_t>(body.size())), body});
  if (version == 4 && (flags & 0x10)) {
    Bytes footer = Header(version, flags, static_cast<std::uint32_t>(body.size()));
    footer[0] = '3';
    footer[1] = 'D';
    footer[2] = 'I';
    out = Cat({out, footer});
  }
  return out;
}

// Stands in for audio: MPEG frame headers and a recognisable pattern.
inline Bytes Audio(std::size_t size = 3000) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + 1);
  for (std::size_t i = 0; i + 4 <= size; i += 417) {
    out[i] = 0xFF;
    out[i + 1] = 0xFB;
    out[i + 2] = 0x90;
    out[i + 3] = 0x64;
  }
  return out;
}

// OpenID3v2 + ReadID3v2Frames as the writing callers do them.
inline int OpenAndRead(const std::string& path, ID3v2Tag& tag) {
  int r = OpenID3v2(path, tag, 4);
  if (r != kTagFailed) ReadID3v2Frames(tag);
  return r;
}

}  // namespace velotag::test
