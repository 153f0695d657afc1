#include "tags/id3v2_internal.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "support/textenc.h"

namespace velotag::id3v2 {

namespace {
char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

bool SameID(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}

bool IsUserTextID(std::string_view id) {
  if (id.size() < 2 || UpperChar(id[0]) != 'T') return false;
  for (std::size_t i = 1; i < id.size(); ++i)
    if (UpperChar(id[i]) != 'X') return false;
  return true;
}

Bytes RemoveUnsynchronisation(const std::uint8_t* data, std::size_t size) {
  Bytes out;
  out.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(data[i]);
    if (data[i] == 0xFF && i + 1 < size && data[i + 1] == 0x00) ++i;
  }
  return out;
}

Payload FramePayload(const ID3v2Tag& tag, const ID3v2Frame& frame) {
  Payload p;
  if (frame.Data.empty()) return p;
  std::size_t skip = 0;
  const std::uint8_t format = static_cast<std::uint8_t>(frame.Flags >> 8);
  if (tag.Version == 3) {
    if (format & 0xC0) return p;  // compressed or encrypted
    if (format & 0x20) skip += 1;  // group identifier
  } else if (tag.Version == 4) {
    if (format & 0x0C) return p;  // compressed or encrypted
    if (format & 0x40) skip += 1;  // group identifier
    if (format & 0x01) skip += 4;  // data length indicator
  }
  const std::size_t size = frame.Data.size();
  if (skip > size) return p;
  p.data = frame.Data.data() + skip;
  p.size = size - skip;
  p.valid = true;
  return p;
}

std::string DecodeString(int encoding, const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  switch (encoding) {
    case 1:
    case 2: {
      bool bigEndian = encoding == 2;
      if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        bigEndian = false;
        data += 2;
        size -= 2;
      } else if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
        bigEndian = true;
        data += 2;
        size -= 2;
      }
      return DecodeUtf16(data, size, bigEndian);
    }
    case 3: return Utf8BytesToString(data, size);
    default: return AnsiToString(data, size);
  }
}

Bytes EncodeString(int encoding, std::string_view text) {
  std::string s(text);
  if (s.empty() || s.back() != '\0') s.push_back('\0');
  Bytes out;
  switch (encoding) {
    case 1:
    case 2: {
      std::u16string units = Utf8ToUtf16(s);
      out.reserve(units.size() * 2 + 2);
      if (encoding == 1) {
        out.push_back(0xFF);
        out.push_back(0xFE);
      }
      for (char16_t u : units) {
        auto hi = static_cast<std::uint8_t>(u >> 8), lo = static_cast<std::uint8_t>(u & 0xFF);
        if (encoding == 1) {
          out.push_back(lo);
          out.push_back(hi);
        } else {
          out.push_back(hi);
          out.push_back(lo);
        }
      }
      return out;
    }
    case 3: StringToUtf8Bytes(s, out); return out;
    default: return StringToAnsi(s);
  }
}

std::size_t FindTerminator(int encoding, const std::uint8_t* data, std::size_t size,
                           std::size_t from) {
  if (encoding == 1 || encoding == 2) {
    for (std::size_t i = from; i + 1 < size; i += 2)
      if (data[i] == 0 && data[i + 1] == 0) return i;
  } else {
    for (std::size_t i = from; i < size; ++i)
      if (data[i] == 0) return i;
  }
  return std::string::npos;
}

ID3v2Frame& ChooseSlot(ID3v2Tag& tag, const std::string& frameID, bool append) {
  std::vector<ID3v2Frame>& frames = tag.Frames;
  auto same = [&frameID](const ID3v2Frame& f) { return SameID(f.FrameID, frameID); };
  auto target = append ? frames.end() : std::find_if(frames.begin(), frames.end(), same);
  if (target != frames.end()) {
    frames.erase(std::remove_if(target + 1, frames.end(), same), frames.end());
  } else {
    target = frames.emplace(frames.end());
  }
  target->FrameID = frameID;
  target->Flags = 0;
  return *target;
}

int DecideEncoding(const ID3v2Tag& tag, const ID3v2Frame& slot, std::int32_t encoding) {
  int e = 1;
  if (encoding == kID3KeepEncoding && !slot.Data.empty()) {
    e = slot.Data[0];
  } else if (encoding >= 0 && encoding <= 3) {
    e = encoding;
  }
  if (tag.Version < 4 && (e == 2 || e == 3)) e = 1;
  return (e >= 1 && e <= 3) ? e : 0;
}

void ForgetTag(ID3v2Tag& tag) {
  tag.TagOffset = -1;
  tag.TagSize = 0;
  tag.Flags = 0;
  tag.ExtHeader.clear();
  tag.Frames.clear();
  tag.HeaderValid = false;
  tag.HeaderOnDisk.fill(0);
}

}  // namespace velotag::id3v2
