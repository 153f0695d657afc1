#include <fcntl.h>
#include <sys/file.h>
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

bool IsLive(const ID3v2Frame& f) { return !f.Data.empty(); }

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

// Body bytes before the padding: the extended header and every live frame
// with its header.
std::int64_t ContentSize(const ID3v2Tag& tag) {
  auto size = static_cast<std::int64_t>(tag.ExtHeader.size());
  for (const ID3v2Frame& f : tag.Frames)
    if (IsLive(f)) size += static_cast<std::int64_t>(FrameHeaderSize(tag) + f.Data.size());
  return size;
}

// False when something cannot be expressed in this version's size fields.
bool FitsTheFormat(const ID3v2Tag& tag) {
  if (ContentSize(tag) > kID3v2MaxTagSize) return false;
  if (tag.Version == 2)
    for (const ID3v2Frame& f : tag.Frames)
      if (static_cast<std::int64_t>(f.Data.size()) > kMaxV22FrameSize) return false;
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
  const std::size_t ext = tag.ExtHeader.size();
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
  const bool ext =
      tag.ExtendedHeader() && !tag.ExtHeader.empty() && tag.ExtHeader.size() <= bodySize;
  if (ext) {
    std::memcpy(body, tag.ExtHeader.data(), tag.ExtHeader.size());
    pos = tag.ExtHeader.size();
  }
  const std::size_t idLength = IDLength(tag), headerSize = FrameHeaderSize(tag);
  for (const ID3v2Frame& f : tag.Frames) {
    if (!IsLive(f)) continue;
    const std::size_t size = f.Data.size();
    if (pos + headerSize + size > bodySize) break;
    std::uint8_t* h = body + pos;
    Bytes id = StringToAnsi(AsciiUpper(f.FrameID));
    std::memcpy(h, id.data(), std::min(id.size(), idLength));
    if (tag.Version == 2) {
      EncodeBigEndian(static_cast<std::int32_t>(size), h, 3, 5, false);
    } else {
      EncodeBigEndian(static_cast<std::int32_t>(size), h, 4, 7, tag.Version == 4);
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
  if (!tag.Footer() || !tag.HeaderValid) return false;
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

// The handle whose open file holds the record's write lock.
int LockHolder(const ID3v2Tag& tag) {
  return tag.LockHandle.valid() ? tag.LockHandle.get() : tag.FileHandle.get();
}

// The file's new content in a temporary file that is to replace it: its
// bytes before keepBefore, then `middle`, then its bytes from resumeAt to the
// end. Not valid when it could not be written whole; the file is untouched
// either way. `newSize` receives the new file's size.
SafeWrite PrepareRewrite(const ID3v2Tag& tag, Offset64 keepBefore, const Bytes& middle,
                         Offset64 resumeAt, Offset64& newSize) {
  const int source = tag.FileHandle.get();
  // Bound to the handle that holds the lock, which so lasts until the new
  // file is in place.
  SafeWrite out = SafeWrite::Replace(tag.FileName, TempNaming::Id3tmp, LockHolder(tag));
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

void ReleaseWriteLock(ID3v2Tag& tag) {
  if (tag.Locked) ::flock(LockHolder(tag), LOCK_UN);
  tag.LockHandle.reset();
  tag.Locked = false;
}

// A prepared rewrite put in place: at once, the record then reopening the
// new file the way OpenID3v2 opens; or with the batch's next commit, the
// record then closed.
bool FinishRewrite(ID3v2Tag& tag, SafeWrite out, Offset64 newSize, SafeWriteBatch* batch,
                   ID3v2WriteDone& done) {
  if (batch) {
    CloseID3v2(tag);
    tag.FileSize = newSize;
    batch->Add(std::move(out), [done = std::move(done), newSize](const SafeWriteOutcome& o) {
      if (done) done({o.ok, o.ok ? newSize : -1, o.keptCopy});
    });
    return true;
  }
  const SafeWriteOutcome outcome = out.Commit();
  tag.KeptCopy = outcome.keptCopy;
  if (!outcome.ok) return false;
  // The write has ended; a further one takes the new file's lock.
  ReleaseWriteLock(tag);
  tag.FileHandle = OpenRead(tag.FileName, &tag.FileSize);
  tag.ReadOnly = true;
  return true;
}

// --- the write in place --------------------------------------------------

// A write in place must land whole or not at all, also when the program is
// killed half-way: the kernel copies a write into the file a page at a time
// and a kill takes effect between two pages, so a single write is all or
// nothing only while it stays inside one page. So only the bytes that differ
// from the file are written, in one write, when they lie in one page; when
// they do not (a new picture, frames that moved) the tag goes through the
// temporary file instead, keeping its extent. A journal of the old bytes
// would keep such writes in place, but then every reader would have to look
// for one and roll it back first.
enum class InPlace { Written, TooWide, Failed };

InPlace WriteInPlace(int fd, Offset64 at, const Bytes& region, const Bytes& head) {
  static const Offset64 page = std::max<Offset64>(::sysconf(_SC_PAGESIZE), 4096);
  const bool inHead = at >= 0 && static_cast<std::size_t>(at) + region.size() <= head.size();
  constexpr std::size_t kChunk = 64 * 1024;
  Bytes old(inHead ? 0 : std::min(kChunk, region.size()));
  std::size_t first = region.size(), last = 0;
  for (std::size_t pos = 0; pos < region.size();) {
    const std::size_t n = std::min(kChunk, region.size() - pos);
    const std::uint8_t* disk = head.data() + (inHead ? static_cast<std::size_t>(at) + pos : 0);
    if (!inHead) {
      if (LargeFileReadAt(fd, old.data(), n, at + static_cast<Offset64>(pos)) != n)
        return InPlace::Failed;
      disk = old.data();
    }
    const std::uint8_t* want = region.data() + pos;
    if (std::memcmp(disk, want, n) != 0) {
      for (std::size_t i = 0; i < n; ++i) {
        if (disk[i] == want[i]) continue;
        const std::size_t k = pos + i;
        if (first == region.size()) first = k;
        else if ((at + static_cast<Offset64>(k)) / page != (at + static_cast<Offset64>(first)) / page)
          return InPlace::TooWide;
        last = k;
      }
    }
    pos += n;
  }
  if (first == region.size()) return InPlace::Written;  // nothing differs
  const std::size_t count = last - first + 1;
  return LargeFileWriteAt(fd, region.data() + first, count, at + static_cast<Offset64>(first)) ==
                 count
             ? InPlace::Written
             : InPlace::Failed;
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
  slot.Data = std::move(body);
  return true;
}

bool DeleteID3v2Frame(ID3v2Tag& tag, const std::string& frameID, bool deleteAll) {
  const bool had = !tag.Frames.empty();
  if (deleteAll) {
    tag.Frames.clear();
    return had;
  }
  std::string id = TrimSpaces(frameID);
  if (id.empty()) return false;
  std::string normal = NormaliseID(tag, id);
  if (!normal.empty()) id = normal;
  auto same = [&id](const ID3v2Frame& f) { return SameID(f.FrameID, id); };
  return std::erase_if(tag.Frames, same) > 0;
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
  FileHandle writable = OpenReadWrite(tag.FileName);
  if (!writable.valid() && (errno == EACCES || errno == EPERM) && !(was.st_mode & S_IWUSR)) {
    FileSetAttributes(tag.FileName, 0);
    writable = OpenReadWrite(tag.FileName);
  }
  if (!writable.valid() || ::fstat(writable.get(), &now) != 0 || was.st_dev != now.st_dev ||
      was.st_ino != now.st_ino)
    return false;
  if (tag.Locked) tag.LockHandle = std::move(tag.FileHandle);  // the lock goes with it
  tag.FileHandle = std::move(writable);
  tag.ReadOnly = false;
  return true;
}

// The write lock, for a record that does not hold it yet: taken now, and
// only while the file is still as the record read it (its size and its tag
// header). A file another writer holds, or one changed since it was read,
// is not written.
static bool HoldWriteLock(ID3v2Tag& tag) {
  if (tag.Locked) return true;
  if (tag.Busy) return false;
  // Taken through a handle of the record's open file: the lock is the
  // record's, and the record's handle stays should the name lead elsewhere.
  FileHandle lock(::fcntl(tag.FileHandle.get(), F_DUPFD_CLOEXEC, 0));
  struct stat was {}, now {};
  if (!lock.valid() || ::fstat(lock.get(), &was) != 0) return false;
  Offset64 size = -1;
  tag.Busy = LockFileAtName(lock, tag.FileName, false, size, LockWait{}) != LockResult::Locked;
  if (tag.Busy) return false;
  std::array<std::uint8_t, 10> header{};
  if (::fstat(lock.get(), &now) != 0 || now.st_dev != was.st_dev || now.st_ino != was.st_ino ||
      (tag.FileSize >= 0 && size != tag.FileSize) ||
      (tag.HeaderValid && (LargeFileReadAt(lock.get(), header.data(), 10, tag.TagOffset) != 10 ||
                           header != tag.HeaderOnDisk))) {
    ::flock(lock.get(), LOCK_UN);
    return false;
  }
  tag.Head.clear();  // read before the lock: nothing to compare with
  tag.Locked = true;
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
  if (!tag.FileHandle.valid() || !FitsTheFormat(tag) || !HoldWriteLock(tag) ||
      !EnsureWritable(tag))
    return false;
  const bool tagInFile = TagInFile(tag);
  const Offset64 sizeBefore = tag.FileSize;
  tag.FileSize = -1;  // unless the write says otherwise, the size must be asked anew
  const Bytes head = std::move(tag.Head);
  tag.Head.clear();
  ComputeID3v2Size(tag);
  // Frames are written plain, so nothing may claim otherwise.
  tag.Flags &= static_cast<std::uint8_t>(~kID3v2Unsynchronisation);
  const std::uint8_t flags = tag.Flags;

  // The new tag goes between the file's bytes before insertAt and those
  // from resumeAt on.
  Bytes middle;
  Offset64 insertAt = tag.TagOffset >= 0 ? tag.TagOffset : 0, resumeAt = insertAt;
  if (tagInFile && tag.NewTagSize <= tag.TagSize) {
    // Whenever the content fits, to the last byte, the tag keeps its extent
    // (the rest is padding), and the header and any footer differ from the
    // ones on disk at most in their flags.
    tag.NewTagSize = tag.TagSize;
    const auto bodySize = static_cast<std::size_t>(tag.TagSize);
    const bool footer = FooterOnDisk(tag);
    middle.assign(10 + bodySize + (footer ? 10 : 0), 0);
    std::memcpy(middle.data(), tag.HeaderOnDisk.data(), 10);
    middle[5] = flags;
    BuildBody(tag, middle.data() + 10, bodySize);
    if (footer) {
      if (LargeFileReadAt(tag.FileHandle.get(), middle.data() + 10 + bodySize, 10,
                          tag.TagOffset + 10 + tag.TagSize) != 10)
        return false;
      middle[10 + bodySize + 5] = flags;
    }
    resumeAt = tag.TagOffset + static_cast<Offset64>(middle.size());
    const InPlace result = WriteInPlace(tag.FileHandle.get(), tag.TagOffset, middle, head);
    if (result == InPlace::Failed) return false;
    if (result == InPlace::Written) {
      ReleaseWriteLock(tag);
      tag.HeaderOnDisk[5] = flags;
      tag.FileSize = sizeBefore;  // the tag kept its extent
      if (batch && done) done({true, sizeBefore, ""});
      return true;
    }
  } else {
    // A tag that grows or is new gets padding up to the next multiple of
    // 2048, so that later edits fit in place. Where the old tag cannot be
    // vouched for (an unknown version, a cut header, a body that runs past
    // the end of the file) the new tag goes in front of it and its bytes
    // are kept as data.
    tag.NewTagSize = std::min(NextBlockMultiple(tag.NewTagSize, kPaddingBlock), kID3v2MaxTagSize);
    if (tagInFile) resumeAt = tag.TagOffset + 10 + tag.TagSize + (FooterOnDisk(tag) ? 10 : 0);
    const std::size_t bodySize = static_cast<std::size_t>(tag.NewTagSize);
    middle.assign(10 + bodySize + (tag.Footer() ? 10 : 0), 0);
    PutHeader(middle.data(), tag, flags, tag.NewTagSize, false);
    BuildBody(tag, middle.data() + 10, bodySize);
    if (tag.Footer()) PutHeader(middle.data() + 10 + bodySize, tag, flags, tag.NewTagSize, true);
  }
  // Through the temporary file.
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
  if (!tag.FileHandle.valid() || tag.TagOffset < 0 || !TagInFile(tag) || !HoldWriteLock(tag) ||
      !EnsureWritable(tag))
    return false;
  tag.FileSize = -1;
  tag.Head.clear();
  const Offset64 resumeAt = tag.TagOffset + 10 + tag.TagSize + (FooterOnDisk(tag) ? 10 : 0);
  Offset64 newSize = -1;
  SafeWrite out = PrepareRewrite(tag, tag.TagOffset, Bytes{}, resumeAt, newSize);
  if (!out.valid() || !FinishRewrite(tag, std::move(out), newSize, batch, done)) return false;
  // A later write must not announce an extended header it no longer has.
  ForgetTag(tag);
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
