#include <algorithm>
#include <memory>
#include <cstring>

#include "support/textenc.h"
#include "support/strutil.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/id3v2_catalogue.h"
#include "tags/id3v2_frames.h"
#include "tags/id3v2_internal.h"

namespace velotag {

using namespace id3v2;

namespace {

constexpr std::size_t kScanBlock = 4096;

// Eleven sync bits, a defined MPEG version and layer, a usable bitrate and
// sample rate: the audio starts here, and no tag comes after it.
bool PlausibleFrameHeader(const std::uint8_t* p) {
  return p[0] == 0xFF && p[1] >= 0xE0 && (p[1] & 0x18) != 0x08 && (p[1] & 0x06) != 0 &&
         (p[2] & 0xF0) != 0xF0 && (p[2] & 0x0C) != 0x0C;
}

// The offset of the first "ID3" before any MPEG audio frame header, or -1.
// When the 10 header bytes lie inside the block that found it, they are
// handed back, and the first block is kept in `head`: opening a file and
// reading a small tag cost one read.
Offset64 ScanForHeader(int handle, std::uint8_t* header, bool& headerCaptured, Bytes& head) {
  headerCaptured = false;
  constexpr std::size_t block = kScanBlock;
  // Read into, never cleared: only the bytes that arrived are looked at.
  auto storage = std::make_unique_for_overwrite<std::uint8_t[]>(block);
  std::uint8_t* const data = storage.get();
  Offset64 start = 0;
  for (;;) {
    std::size_t n = LargeFileReadAt(handle, data, block, start);
    if (n == 0) return -1;
    if (start == 0) head.assign(data, data + n);
    std::size_t i = 0;
    while (i + 2 < n) {
      if (data[i] == 'I' && data[i + 1] == 'D') {
        if (data[i + 2] == '3') {
          if (i + 10 <= n) {
            std::memcpy(header, data + i, 10);
            headerCaptured = true;
          }
          return start + static_cast<Offset64>(i);
        }
        i += 2;
        continue;
      }
      if (data[i] == 0xFF && PlausibleFrameHeader(data + i)) return -1;
      ++i;
    }
    if (n < block) return -1;
    start += static_cast<Offset64>(n - 2);
  }
}

// iTunes wrote 2.4 tags with plain 32-bit frame sizes. Both readings are
// walked; the plain one wins when it finds more known frames, or as many
// while the synchsafe walk overruns the body and the plain one does not
// (the rule mutagen applies, so that both read such files alike), but
// never when it overruns the body and the synchsafe one does not. Sizes
// below 128 read the same either way and never decide anything.
bool PlainFrameSizes(const Bytes& body, std::size_t start) {
  struct Walk {
    int known = 0;
    std::int64_t past = 0;  // how far the walk ran past the body's end
  };
  auto walk = [&](bool synchsafe) {
    Walk w;
    std::size_t o = start;
    const std::size_t n = body.size();
    while (n >= 10 && o < n - 10) {
      const std::uint8_t* h = body.data() + o;
      if (std::all_of(h, h + 10, [](std::uint8_t b) { return b == 0; })) {
        w.past = -static_cast<std::int64_t>((n - o) % 10);
        return w;
      }
      const auto size = static_cast<std::uint32_t>(DecodeBigEndian(h, 4, 7, synchsafe));
      o += 10 + std::size_t{size};
      if (!ID3v2FrameDescription(std::string_view(reinterpret_cast<const char*>(h), 4), 4).empty())
        ++w.known;
    }
    w.past = static_cast<std::int64_t>(o) - static_cast<std::int64_t>(n);
    return w;
  };
  const Walk safe = walk(true), plain = walk(false);
  // A reading that runs past the body never wins over one that ends within
  // it: picture bytes that look like frames under the plain reading once
  // turned a tag we wrote into another one.
  if (safe.past <= 0 && plain.past >= 1) return false;
  return plain.known > safe.known ||
         (plain.known == safe.known && safe.past >= 1 && plain.past <= 1);
}

// The extended header's length, or 0 when the flag is not backed by one:
// some taggers set the flag and start with a frame, and a length that does
// not fit the body cannot be trusted with anything that follows.
std::size_t ExtendedHeaderLength(const ID3v2Tag& tag, const Bytes& body) {
  if (body.size() < 4) return 0;
  std::string firstID(body.begin(), body.begin() + 4);
  if (!ID3v2FrameDescription(firstID, tag.Version).empty()) return 0;
  // 2.4 counts the size field in, 2.3 leaves it out.
  const bool v4 = tag.Version == 4;
  const auto size = static_cast<std::uint32_t>(DecodeBigEndian(body.data(), 0, 3, v4));
  const std::int64_t length = std::int64_t{size} + (v4 ? 0 : 4);
  if (length < 6 || length > static_cast<std::int64_t>(body.size())) return 0;
  return static_cast<std::size_t>(length);
}

// Where the walk goes on after a frame that runs past the tag: the next
// position from `from` on that holds a frame header (an identifier of
// capitals and digits whose body fits in the tag), or the end. The dropped
// frame's own bytes are no frames: read as such, they would be written back
// as garbage frames.
std::size_t NextFrameHeader(const Bytes& body, std::size_t from, std::uint8_t version,
                            bool synchsafe) {
  const std::size_t headerSize = version == 2 ? 6 : 10;
  const std::size_t idLength = version == 2 ? 3 : 4;
  const std::size_t end = body.size();
  for (std::size_t p = from; p + headerSize <= end; ++p) {
    const std::uint8_t* h = body.data() + p;
    if (!std::all_of(h, h + idLength,
                     [](std::uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9'); }))
      continue;
    std::int32_t size = version == 2 ? DecodeBigEndian(h, 3, 5, false)
                                     : DecodeBigEndian(h, 4, 7, synchsafe);
    if (size > 0 && static_cast<std::size_t>(size) <= end - p - headerSize) return p;
  }
  return end;
}

}  // namespace

std::int32_t DecodeBigEndian(const std::uint8_t* bytes, std::size_t first, std::size_t last,
                             bool synchsafe) {
  if (last > first + 3) last = first + 3;
  std::uint32_t value = 0;
  int shift = 0;
  for (std::size_t i = last + 1; i-- > first;) {
    std::uint32_t b = synchsafe ? (bytes[i] & 0x7Fu) : bytes[i];
    value |= b << shift;
    shift += synchsafe ? 7 : 8;
  }
  return static_cast<std::int32_t>(value);
}

int OpenID3v2(const std::string& fileName, ID3v2Tag& tag, std::int32_t newVersion,
              bool forWriting, const LockWait& wait) {
  tag = ID3v2Tag{};
  tag.FileName = fileName;
  tag.Version = static_cast<std::uint8_t>((newVersion >= 2 && newVersion <= 4) ? newVersion : 3);
  if (!IsMp3FileName(fileName)) return kTagFailed;
  if (forWriting) tag.FileHandle = OpenReadWrite(fileName, &tag.FileSize);
  tag.ReadOnly = !tag.FileHandle.valid();
  if (tag.ReadOnly) tag.FileHandle = OpenRead(fileName, &tag.FileSize);
  if (forWriting && tag.FileHandle.valid()) {
    const LockResult lock =
        LockFileAtName(tag.FileHandle, fileName, !tag.ReadOnly, tag.FileSize, wait);
    tag.Locked = lock == LockResult::Locked;
    tag.Busy = !tag.Locked;
  }
  if (!tag.FileHandle.valid()) return kTagFailed;

  std::uint8_t header[10];
  bool captured = false;
  tag.TagOffset = ScanForHeader(tag.FileHandle.get(), header, captured, tag.Head);
  if (tag.TagOffset < 0) return kTagNone;
  if (!captured && LargeFileReadAt(tag.FileHandle.get(), header, 10, tag.TagOffset) < 10)
    return kTagBadHeader;
  tag.TagSize = DecodeBigEndian(header, 6, 9, true);
  if (header[3] < 2 || header[3] > 4) return kTagBadHeader;
  tag.Version = header[3];
  tag.Revision = header[4];
  // Only the flags this version defines are kept, and so written back.
  static constexpr std::uint8_t kDefined[] = {
      kID3v2Unsynchronisation | kID3v2Compression,
      kID3v2Unsynchronisation | kID3v2ExtendedHeader | kID3v2Experimental,
      kID3v2Unsynchronisation | kID3v2ExtendedHeader | kID3v2Experimental | kID3v2Footer};
  tag.Flags = header[5] & kDefined[tag.Version - 2];
  std::memcpy(tag.HeaderOnDisk.data(), header, 10);
  tag.HeaderValid = true;
  return kTagDone;
}

void CloseID3v2(ID3v2Tag& tag) {
  tag.FileHandle.reset();
  tag.LockHandle.reset();
  tag.Locked = false;
}

bool ReadID3v2Frames(ID3v2Tag& tag) {
  tag.Frames.clear();
  tag.ExtHeader.clear();
  // Only a header we accepted describes a body; an unknown version's bytes
  // are not read as frames.
  if (!tag.FileHandle.valid() || !tag.HeaderValid || tag.TagOffset < 0 || tag.TagSize <= 0)
    return false;
  // The declared size is checked against the file before anything is
  // allocated: a cut or lying header never costs more than the file holds.
  const Offset64 fileSize = tag.FileSize >= 0 ? tag.FileSize : LargeFileSize(tag.FileHandle.get());
  const std::size_t tagSize = static_cast<std::size_t>(tag.TagSize);
  if (fileSize < 0 || tag.TagOffset + 10 + tag.TagSize > fileSize) return false;
  const auto bodyStart = static_cast<std::size_t>(tag.TagOffset + 10);
  Bytes body;
  if (bodyStart + tagSize <= tag.Head.size()) {
    body.assign(tag.Head.begin() + static_cast<std::ptrdiff_t>(bodyStart),
                tag.Head.begin() + static_cast<std::ptrdiff_t>(bodyStart + tagSize));
  } else {
    body.resize(tagSize);
    if (LargeFileReadAt(tag.FileHandle.get(), body.data(), tagSize, tag.TagOffset + 10) < tagSize)
      return false;
  }

  // 2.2 and 2.3 unsynchronise the whole body, 2.4 each frame on its own.
  if (tag.Unsynchronisation() && tag.Version < 4)
    body = RemoveUnsynchronisation(body.data(), body.size());

  std::size_t pos = 0;
  if (tag.ExtendedHeader()) {
    std::size_t length = ExtendedHeaderLength(tag, body);
    if (length > 0) {
      tag.ExtHeader.assign(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(length));
      pos = length;
    } else {
      // The flag is not backed by a header: a write must not repeat it.
      tag.Flags &= static_cast<std::uint8_t>(~kID3v2ExtendedHeader);
    }
  }

  const std::size_t end = body.size();
  const bool synchsafeSizes = tag.Version == 4 && !PlainFrameSizes(body, pos);
  const std::size_t headerSize = tag.Version == 2 ? 6 : 10;
  const std::size_t idLength = tag.Version == 2 ? 3 : 4;
  while (pos + headerSize <= end) {
    const std::uint8_t* h = body.data() + pos;
    if (std::all_of(h, h + idLength, [](std::uint8_t b) { return b == 0; })) break;
    ID3v2Frame frame;
    frame.FrameID = AnsiToString(h, idLength);
    std::int32_t declared;
    if (tag.Version == 2) {
      declared = DecodeBigEndian(h, 3, 5, false);
    } else {
      declared = DecodeBigEndian(h, 4, 7, synchsafeSizes);
      frame.Flags = static_cast<std::uint16_t>(h[8] | (h[9] << 8));
    }
    pos += headerSize;
    if (declared > 0) {
      const auto size = static_cast<std::size_t>(declared);
      // A frame that runs past the tag is dropped; the frames after it are
      // kept.
      if (size > end - pos) {
        pos = NextFrameHeader(body, pos, tag.Version, synchsafeSizes);
        continue;
      }
      frame.Data.assign(body.begin() + static_cast<std::ptrdiff_t>(pos),
                        body.begin() + static_cast<std::ptrdiff_t>(pos + size));
      pos += size;
      if (tag.Version == 4 && (tag.Unsynchronisation() || (frame.Flags & 0x0200))) {
        frame.Data = RemoveUnsynchronisation(frame.Data.data(), frame.Data.size());
        frame.Flags &= static_cast<std::uint16_t>(~0x0200);
      }
    }
    tag.Frames.push_back(std::move(frame));
  }
  return true;
}

std::string GetID3v2Text(const std::string& frameID, const ID3v2Tag& tag, bool firstOnly) {
  std::string result;
  if (frameID.empty() || (frameID[0] != 'T' && frameID[0] != 't') || IsUserTextID(frameID))
    return result;
  for (const ID3v2Frame& f : tag.Frames) {
    if (f.Data.size() <= 1 || !SameID(f.FrameID, frameID)) continue;
    Payload p = FramePayload(tag, f);
    if (!p.valid || p.size <= 1) continue;
    result += DecodeString(p.data[0], p.data + 1, p.size - 1);
    std::size_t nul = result.find('\0');
    if (nul != std::string::npos) result.erase(nul);
    if (firstOnly) return result;
    result += ' ';
  }
  while (!result.empty() && result.back() == ' ') result.pop_back();
  return result;
}

namespace {

std::string CrLfToBlank(std::string s) {
  std::size_t pos = 0;
  while ((pos = s.find("\r\n", pos)) != std::string::npos) s.replace(pos, 2, " ");
  return s;
}

}  // namespace

std::string GetID3v2Field(const ID3v2Tag& tag, int fieldIndex) {
  if (tag.Version < 2 || tag.Version > 4 || fieldIndex < 0 || fieldIndex >= kID3v2FieldCount)
    return {};
  static constexpr const char* kIDs[kID3v2FieldCount][2] = {
      {"TALB", "TAL"}, {"TPE1", "TP1"}, {"TPE2", "TP2"}, {"TBPM", "TBP"},
      {"", ""},        {"TCOM", "TCM"}, {"TCON", "TCO"}, {"TCOP", "TCR"},
      {"TPOS", "TPA"}, {"TENC", "TEN"}, {"TOPE", "TOA"}, {"TPUB", "TPB"},
      {"TIT2", "TT2"}, {"TRCK", "TRK"}, {"", ""},        {"TYER", "TYE"}};
  std::string text;
  if (fieldIndex == kFieldComment) {
    std::vector<ID3v2Comment> items;
    GetID3v2Comments(tag, items, false);
    for (const ID3v2Comment& c : items) text += c.Text + " ";
    text = TrimSpaces(text);
  } else if (fieldIndex == kFieldUrl) {
    std::vector<ID3v2UserField> items;
    GetID3v2UserURLs(tag, items, false);
    for (const ID3v2UserField& u : items) text += u.Value + " ";
    text = TrimSpaces(text);
  } else {
    std::string id = kIDs[fieldIndex][tag.Version == 2 ? 1 : 0];
    if (fieldIndex == kFieldYear && tag.Version == 4) id = "TDRC";
    text = GetID3v2Text(id, tag, false);
  }
  return CrLfToBlank(std::move(text));
}

}  // namespace velotag
