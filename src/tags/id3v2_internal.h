// Helpers shared by the ID3v2 reader, writer and multi-field frames. Not
// part of the tag module's interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/largefile.h"
#include "tags/id3v2.h"

namespace velotag::id3v2 {

// Identifiers are ASCII; the comparison folds ASCII letters only.
bool SameID(std::string_view a, std::string_view b);
// TXX, TXXX and the like: text frames that hold a description and a value.
bool IsUserTextID(std::string_view id);

// Undoes ID3v2 unsynchronisation: every FF 00 becomes FF.
Bytes RemoveUnsynchronisation(const std::uint8_t* data, std::size_t size);

// The part of a frame body that holds the frame's own fields: after a group
// byte or a data length indicator. Compressed or encrypted bodies have no
// readable part (valid = false).
struct Payload {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  bool valid = false;
};
Payload FramePayload(const ID3v2Tag& tag, const ID3v2Frame& frame);

// A string of a frame body by its encoding byte: 1 UTF-16 (little-endian
// unless a mark says otherwise), 2 UTF-16 (big-endian unless a mark says
// otherwise), 3 UTF-8, anything else the single-byte code page.
std::string DecodeString(int encoding, const std::uint8_t* data, std::size_t size);
// The bytes of a string for a frame body, with a terminator unless the text
// already ends in a zero character. Encoding 1 carries its FF FE mark;
// anything outside 1..3 is the single-byte code page.
Bytes EncodeString(int encoding, std::string_view text);
// Where a terminated string starting at `from` ends: the offset of its
// terminator, or npos. Encodings 1 and 2 look for an aligned pair of zeros.
std::size_t FindTerminator(int encoding, const std::uint8_t* data, std::size_t size,
                           std::size_t from);
inline std::size_t TerminatorLength(int encoding) {
  return (encoding == 1 || encoding == 2) ? 2 : 1;
}

// The frame a setter writes into, its FrameID set: without `append` the
// first of that identifier, which keeps its place and (until the setter
// replaces it) its body, every later one being removed; else, or when there
// is none, a new frame at the end.
ID3v2Frame& ChooseSlot(ID3v2Tag& tag, const std::string& frameID, bool append);
// The encoding a setter writes with, for the chosen frame.
int DecideEncoding(const ID3v2Tag& tag, const ID3v2Frame& slot, std::int32_t encoding);
// After a removal: the record knows no tag in the file any more (no offset,
// header, flags, extended header or frames); the file stays as it is bound.
void ForgetTag(ID3v2Tag& tag);

}  // namespace velotag::id3v2
