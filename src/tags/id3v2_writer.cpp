#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/paths.h"
#include "support/safewrite.h"
#include "support/textenc.h"
#include "support/strutil.h"
#include "tags/id3v2.h"
#include "tags/id3v2_internal.h"

namespace velotag {

using namespace id3v2;

namespace {

constexpr std::int32_t kPaddingBlock = 2048;
constexpr std::int64_t kMaxV22FrameSize = 0xFFFFFF;  // three size bytes

std::size_t IDLength(const ID3v2Tag& tag) { return tag.Version == 2 ? 3 : 4; }
std::size_t FrameHeaderSize(const ID3v2Tag& tag) { return tag.Version == 2 ? 6 : 10; }

bool IsLive(const ID3v2Frame& f) { return !f.FrameID.empty() && f.Size > 0; }

// A caller's identifier in the form of the tag's version (TDRC becomes TYER
// on a 2.3 tag, TAL on a 2.4 tag becomes TALB); "" when there is none.
std::string NormaliseID(const ID3v2Tag& tag, const std::string& id) {
  const std::size_t l = IDLength(tag);
  if (id.size() < l) return ConvertID3v2FrameID(id, 2, tag.Version);
  if (id.size() > l) {
    std::string r = ConvertID3v2FrameID(id, 4, tag.Version);
    return r.empty() ? ConvertID3v2FrameID(id, 3, tag.Version) : r;
  }
  if (ID3v2FrameDescription(id, tag.Version).empty())
    return ConvertID3v2FrameID(id, tag.Version < 4 ? 4 : 3, tag.Version);
  return id;
}

std::uint8_t HeaderFlags(const ID3v2Tag& tag) {
  std::uint8_t flags = tag.Unsynchronisation ? 0x80 : 0;
  if (tag.Version == 2) {
    if (tag.Compression) flags |= 0x40;
  } else {
    if (tag.ExtendedHeader) flags |= 0x40;
    if (tag.Experimental) flags |= 0x20;
    if (tag.Version == 4 && tag.Footer) flags |= 0x10;
  }
  return flags;
}

// Body bytes before the padding: the extended header and every live frame
// with its header.
std::int64_t ContentSize(const ID3v2Tag& tag) {
  std::int64_t size = tag.ExtHeaderSize > 0 ? tag.ExtHeaderSize : 0;
  for (const ID3v2Frame& f : tag.Frames)
    if (IsLive(f)) size += static_cast<std::int64_t>(FrameHeaderSize(tag)) + f.Size;
  return size;
}

// False when something cannot be expressed in this version's size fields.
bool FitsTheFormat(const ID3v2Tag& tag) {
  if (ContentSize(tag) > kID3v2MaxTagSize) return false;
  if (tag.Version == 2)
    for (const ID3v2Frame& f : tag.Frames)
      if (IsLive(f) && f.Size > kMaxV22FrameSize) return false;
  return true;
}

// The CRC-32 of ISO 3309, which an extended header may carry.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

// A kept extended header must describe the tag it is written in: a 2.3
// header states the padding after the frames, and a CRC covers the frames
// (2.3) or everything after the extended header (2.4). Copied unchanged,
// both went stale with every edit, and a reader checking the CRC dropped
// the tag.
void UpdateExtendedHeader(const ID3v2Tag& tag, std::uint8_t* body, std::size_t bodySize,
                          std::size_t contentEnd) {
  const auto ext = static_cast<std::size_t>(tag.ExtHeaderSize);
  if (tag.Version == 3 && ext >= 10) {
    EncodeBigEndian(static_cast<std::int32_t>(bodySize - contentEnd), body, 6, 9, false);
    if ((body[4] & 0x80) && ext >= 14)
      EncodeBigEndian(static_cast<std::int32_t>(Crc32(body + ext, contentEnd - ext)), body, 10,
                      13, false);
  } else if (tag.Version == 4 && ext >= 6 && body[4] == 1) {
    // Size, one flag byte, then the data of each set flag after its length.
    std::size_t at = 6;
    if ((body[5] & 0x40) && at < ext) at += 1 + std::size_t{body[at]};
    if ((body[5] & 0x20) && at + 6 <= ext && body[at] == 5) {
      const std::uint32_t crc = Crc32(body + ext, bodySize - ext);
      for (int i = 0; i < 5; ++i)
        body[at + 1 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((crc >> (7 * (4 - i))) & 0x7F);
    }
  }
}

// Extended header and frames into a zero-filled body; the end of what was
// written comes back.
std::size_t BuildBody(const ID3v2Tag& tag, std::uint8_t* body, std::size_t bodySize) {
  std::size_t pos = 0;
  const bool ext = tag.ExtendedHeader && tag.ExtHeaderSize > 0 &&
                   static_cast<std::size_t>(tag.ExtHeaderSize) <= bodySize &&
                   tag.ExtHeader.size() >= static_cast<std::size_t>(tag.ExtHeaderSize);
  if (ext) {
    std::memcpy(body, tag.ExtHeader.data(), static_cast<std::size_t>(tag.ExtHeaderSize));
    pos = static_cast<std::size_t>(tag.ExtHeaderSize);
  }
  const std::size_t idLength = IDLength(tag), headerSize = FrameHeaderSize(tag);
  for (const ID3v2Frame& f : tag.Frames) {
    if (!IsLive(f)) continue;
    const auto size = static_cast<std::size_t>(f.Size);
    if (pos + headerSize + size > bodySize || f.Data.size() < size) break;
    std::uint8_t* h = body + pos;
    Bytes id = StringToAnsi(AsciiUpper(f.FrameID));
    std::memcpy(h, id.data(), std::min(id.size(), idLength));
    if (tag.Version == 2) {
      EncodeBigEndian(f.Size, h, 3, 5, false);
    } else {
      EncodeBigEndian(f.Size, h, 4, 7, tag.Version == 4);
      // A frame kept from the file keeps its flags: a compressed, encrypted
      // or length-indicated body means nothing without them.
      h[8] = static_cast<std::uint8_t>(f.Flags & 0xFF);
      h[9] = static_cast<std::uint8_t>(f.Flags >> 8);
    }
    std::memcpy(h + headerSize, f.Data.data(), size);
    pos += headerSize + size;
  }
  if (ext) UpdateExtendedHeader(tag, body, bodySize, pos);
  return pos;
}

void PutHeader(std::uint8_t* out, const ID3v2Tag& tag, std::uint8_t flags, std::int32_t size,
               bool footer) {
  std::memcpy(out, footer ? "3DI" : "ID3", 3);
  out[3] = tag.Version;
  out[4] = tag.Revision;
  out[5] = flags;
  EncodeBigEndian(size, out, 6, 9, true);
}

bool FooterOnDisk(const ID3v2Tag& tag) {
  if (!tag.Footer || !tag.HeaderValid) return false;
  std::uint8_t f[3];
  return LargeFileReadAt(tag.FileHandle.get(), f, 3, tag.TagOffset + 10 + tag.TagSize) == 3 &&
         std::memcmp(f, "3DI", 3) == 0;
}

// The old tag is wholly inside the file: only then may its extent be
// overwritten or cut out.
bool TagInFile(const ID3v2Tag& tag) {
  if (!tag.HeaderValid || tag.TagOffset < 0) return false;
  Offset64 size = tag.FileSize >= 0 ? tag.FileSize : LargeFileSize(tag.FileHandle.get());
  return size >= 0 && tag.TagOffset + 10 + tag.TagSize <= size;
}

// --- the rewrite through a temporary file -------------------------------

// The file's new content in a temporary file that is to replace it: its
// bytes before keepBefore, then `middle`, then its bytes from resumeAt to the
// end. Not valid when it could not be written whole; the file is untouched
// either way. `newSize` receives the new file's size.
SafeWrite PrepareRewrite(const ID3v2Tag& tag, Offset64 keepBefore, const Bytes& middle,
                         Offset64 resumeAt, Offset64& newSize) {
  const int source = tag.FileHandle.get();
  SafeWrite out = SafeWrite::Replace(tag.FileName, TempNaming::Id3tmp, source);
  if (!out.valid()) return out;
  Offset64 pos = 0;
  if (keepBefore > 0 && LargeFileCopy(source, 0, out.fd(), 0, keepBefore) != keepBefore)
    return SafeWrite{};
  pos = keepBefore > 0 ? keepBefore : 0;
  if (LargeFileWriteAt(out.fd(), middle.data(), middle.size(), pos) != middle.size())
    return SafeWrite{};
  pos += static_cast<Offset64>(middle.size());
  const Offset64 rest = LargeFileCopy(source, resumeAt, out.fd(), pos, -1);
  if (rest < 0) return SafeWrite{};
  newSize = pos + rest;
  return out;
}

// A prepared rewrite put in place: at once, the record then reopening the
// new file the way OpenID3v2 opens; or with the batch's next commit, the
// record then closed.
bool FinishRewrite(ID3v2Tag& tag, SafeWrite out, Offset64 newSize, SafeWriteBatch* batch,
                   ID3v2WriteDone& done) {
  if (batch) {
    tag.FileHandle.reset();
    tag.FileSize = newSize;
    batch->Add(std::move(out), [done = std::move(done), newSize](const SafeWriteOutcome& o) {
      if (done) done({o.ok, o.ok ? newSize : -1, o.keptCopy});
    });
    return true;
  }
  const SafeWriteOutcome outcome = out.Commit();
  tag.KeptCopy = outcome.keptCopy;
  if (!outcome.ok) return false;
  tag.FileHandle.reset(LargeFileOpenRead(tag.FileName, tag.FileSize));
  tag.ReadOnly = true;
  return true;
}

}  // namespace

void EncodeBigEndian(std::int32_t value, std::uint8_t* bytes, std::size_t first,
                     std::size_t last, bool synchsafe) {
  if (last > first + 3) last = first + 3;
  auto v = static_cast<std::uint32_t>(value);
  for (std::size_t i = last + 1; i-- > first;) {
    if (synchsafe) {
      bytes[i] = static_cast<std::uint8_t>(v & 0x7F);
      v >>= 7;
    } else {
      bytes[i] = static_cast<std::uint8_t>(v & 0xFF);
      v >>= 8;
    }
  }
}

std::int32_t NextBlockMultiple(std::int32_t value, std::int32_t block) {
  if (block <= 0) return value;
  std::int64_t next = (static_cast<std::int64_t>(value) / block + 1) * block;
  if (value < 0) next = 0;
  return static_cast<std::int32_t>(std::min<std::int64_t>(next, INT32_MAX));
}

bool SetID3v2Text(ID3v2Tag& tag, const std::string& frameID, const std::string& text,
                  std::int32_t encoding, bool append) {
  std::string id = AsciiUpper(TrimSpaces(frameID));
  if (id.empty() || id[0] != 'T') return false;
  id = NormaliseID(tag, id);
  if (id.size() != IDLength(tag) || ID3v2FrameDescription(id, tag.Version).empty() ||
      IsUserTextID(id))
    return false;
  ID3v2Frame& slot = ChooseSlot(tag, id, append);
  const int enc = DecideEncoding(tag, slot, encoding);
  Bytes body{static_cast<std::uint8_t>(enc)};
  Bytes bytes = EncodeString(enc, text);
  body.insert(body.end(), bytes.begin(), bytes.end());
  slot.Size = static_cast<std::int32_t>(body.size());
  slot.Data = std::move(body);
  RecountFrames(tag);
  return true;
}

bool DeleteID3v2Frame(ID3v2Tag& tag, const std::string& frameID, bool deleteAll) {
  if (deleteAll) {
    bool had = tag.FrameCount > 0;
    tag.Frames.clear();
    tag.FrameCount = 0;
    return had;
  }
  std::string id = TrimSpaces(frameID);
  if (id.empty()) return false;
  if (tag.FrameCount <= 0) {
    tag.Frames.clear();
    tag.FrameCount = 0;
    return false;
  }
  std::string normal = NormaliseID(tag, id);
  if (!normal.empty()) id = normal;
  bool removed = false;
  for (ID3v2Frame& f : tag.Frames) {
    if (f.FrameID.empty() || !SameID(f.FrameID, id)) continue;
    f = ID3v2Frame{};
    removed = true;
  }
  // Counted as every setter counts: a slot loaded without data was counted
  // by the reader, so taking one off per deleted frame would not do.
  RecountFrames(tag);
  if (tag.FrameCount < 1) {
    tag.Frames.clear();
    tag.FrameCount = 0;
  }
  return removed;
}

void ComputeID3v2Size(ID3v2Tag& tag) {
  tag.NewTagSize = static_cast<std::int32_t>(std::min<std::int64_t>(ContentSize(tag), INT32_MAX));
}

// The tag's file opened again for writing. A read-only file first gets the
// owner's write bit (the "normal" attributes). The new handle must reach the
// very file that was read: one replaced by another program since would get
// our offsets written into bytes they do not describe. False when the file
// cannot be written (a read-only medium, another owner) or is not the same.
static bool EnsureWritable(ID3v2Tag& tag) {
  if (!tag.ReadOnly) return true;
  struct stat was {}, now {};
  if (::fstat(tag.FileHandle.get(), &was) != 0) return false;
  Offset64 size = -1;
  FileHandle writable(LargeFileOpenReadWrite(tag.FileName, size));
  if (!writable.valid() && (errno == EACCES || errno == EPERM) && !(was.st_mode & S_IWUSR)) {
    FileSetAttributes(tag.FileName, 0);
    writable.reset(LargeFileOpenReadWrite(tag.FileName, size));
  }
  if (!writable.valid() || ::fstat(writable.get(), &now) != 0 || was.st_dev != now.st_dev ||
      was.st_ino != now.st_ino)
    return false;
  tag.FileHandle = std::move(writable);
  tag.ReadOnly = false;
  return true;
}

namespace {

// Both ways of writing: alone (no batch; the result is the answer) or in a
// batch, where `done` hears the outcome exactly once and a false result
// means it has been told already.
bool WriteTag(ID3v2Tag& tag, SafeWriteBatch* batch, ID3v2WriteDone& done) {
  tag.KeptCopy.clear();
  // Frames that do not fit the format are refused rather than left out of
  // a tag reported as written; a refused write leaves the file as it was,
  // its permissions included.
  if (!tag.FileHandle.valid() || !FitsTheFormat(tag) || !EnsureWritable(tag)) return false;
  const bool tagInFile = TagInFile(tag);
  const Offset64 sizeBefore = tag.FileSize;
  tag.FileSize = -1;  // unless the write says otherwise, the size must be asked anew
  tag.Head.clear();
  ComputeID3v2Size(tag);
  // Frames are written plain, so nothing may claim otherwise.
  tag.Unsynchronisation = false;
  const std::uint8_t flags = HeaderFlags(tag);

  if (tagInFile && tag.NewTagSize <= tag.TagSize) {
    // In place whenever the content fits, to the last byte: the tag keeps
    // its extent (the rest is padding), header and body go out in one
    // write, and the header differs from the one on disk at most in flags.
    tag.NewTagSize = tag.TagSize;
    Bytes region(10 + static_cast<std::size_t>(tag.TagSize), 0);
    std::memcpy(region.data(), tag.HeaderOnDisk.data(), 10);
    region[5] = flags;
    BuildBody(tag, region.data() + 10, static_cast<std::size_t>(tag.TagSize));
    const bool flagsChanged = tag.HeaderOnDisk[5] != flags;
    const bool footer = flagsChanged && FooterOnDisk(tag);
    if (LargeFileWriteAt(tag.FileHandle.get(), region.data(), region.size(), tag.TagOffset) !=
        region.size())
      return false;
    tag.HeaderOnDisk[5] = flags;
    if (footer &&
        LargeFileWriteAt(tag.FileHandle.get(), &flags, 1, tag.TagOffset + 10 + tag.TagSize + 5) != 1)
      return false;
    tag.FileSize = sizeBefore;  // the tag kept its extent
    if (batch && done) done({true, sizeBefore, ""});
    return true;
  }

  // A tag that grows or is new gets padding up to the next multiple of
  // 2048, so that later edits fit in place.
  tag.NewTagSize = std::min(NextBlockMultiple(tag.NewTagSize, kPaddingBlock), kID3v2MaxTagSize);
  // Through the temporary file. Where the old tag cannot be vouched for (an
  // unknown version, a cut header, a body that runs past the end of the
  // file) the new tag goes in front of it and its bytes are kept as data.
  const bool replaceOld = tagInFile;
  const Offset64 insertAt = tag.TagOffset >= 0 ? tag.TagOffset : 0;
  const Offset64 resumeAt =
      replaceOld ? tag.TagOffset + 10 + tag.TagSize + (FooterOnDisk(tag) ? 10 : 0) : insertAt;
  const std::size_t bodySize = static_cast<std::size_t>(tag.NewTagSize);
  Bytes middle(10 + bodySize + (tag.Footer ? 10 : 0), 0);
  PutHeader(middle.data(), tag, flags, tag.NewTagSize, false);
  BuildBody(tag, middle.data() + 10, bodySize);
  if (tag.Footer) PutHeader(middle.data() + 10 + bodySize, tag, flags, tag.NewTagSize, true);
  Offset64 newSize = -1;
  SafeWrite out = PrepareRewrite(tag, insertAt, middle, resumeAt, newSize);
  if (!out.valid() || !FinishRewrite(tag, std::move(out), newSize, batch, done)) return false;
  tag.TagOffset = insertAt;
  tag.TagSize = tag.NewTagSize;
  tag.HeaderValid = true;
  std::memcpy(tag.HeaderOnDisk.data(), middle.data(), 10);
  return true;
}

bool RemoveTag(ID3v2Tag& tag, SafeWriteBatch* batch, ID3v2WriteDone& done) {
  tag.KeptCopy.clear();
  // Only a tag we can vouch for is cut out: an unknown block or a size that
  // runs past the end of the file could be audio.
  if (!tag.FileHandle.valid() || tag.TagOffset < 0 || !TagInFile(tag) || !EnsureWritable(tag))
    return false;
  tag.FileSize = -1;
  tag.Head.clear();
  const Offset64 resumeAt = tag.TagOffset + 10 + tag.TagSize + (FooterOnDisk(tag) ? 10 : 0);
  Offset64 newSize = -1;
  SafeWrite out = PrepareRewrite(tag, tag.TagOffset, Bytes{}, resumeAt, newSize);
  if (!out.valid() || !FinishRewrite(tag, std::move(out), newSize, batch, done)) return false;
  tag.TagOffset = -1;
  tag.TagSize = 0;
  tag.ExtHeaderSize = 0;
  tag.ExtHeader.clear();
  tag.Frames.clear();
  tag.FrameCount = 0;
  tag.Unsynchronisation = tag.Compression = tag.Experimental = tag.Footer = false;
  // A later write must not announce an extended header it no longer has.
  tag.ExtendedHeader = false;
  tag.HeaderValid = false;
  tag.HeaderOnDisk.fill(0);
  return true;
}

}  // namespace

bool WriteID3v2(ID3v2Tag& tag) {
  ID3v2WriteDone none;
  return WriteTag(tag, nullptr, none);
}

bool RemoveID3v2(ID3v2Tag& tag) {
  ID3v2WriteDone none;
  return RemoveTag(tag, nullptr, none);
}

void WriteID3v2(ID3v2Tag& tag, SafeWriteBatch& batch, ID3v2WriteDone done) {
  if (!WriteTag(tag, &batch, done) && done) done({false, -1, tag.KeptCopy});
}

void RemoveID3v2(ID3v2Tag& tag, SafeWriteBatch& batch, ID3v2WriteDone done) {
  if (!RemoveTag(tag, &batch, done) && done) done({false, -1, tag.KeptCopy});
}

Offset64 ID3v2FileSize(const ID3v2Tag& tag) {
  return tag.FileSize >= 0 ? tag.FileSize : GetLargeFileSize(tag.FileName);
}

}  // namespace velotag
