#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
constexpr std::size_t kCopyBlock = 256 * 1024;
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

void BuildBody(const ID3v2Tag& tag, std::uint8_t* body, std::size_t bodySize) {
  std::size_t pos = 0;
  if (tag.ExtendedHeader && tag.ExtHeaderSize > 0 &&
      static_cast<std::size_t>(tag.ExtHeaderSize) <= bodySize &&
      tag.ExtHeader.size() >= static_cast<std::size_t>(tag.ExtHeaderSize)) {
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

class TempFile {
 public:
  // name + ".id3tmp" next to the file, else "$TMPDIR/QRNxxxxxx". The file is
  // locked while it is written: a leftover of an earlier failure is reused,
  // but one another writer holds (another program saving this very file) is
  // not touched, as its rename by name would then install our half-written
  // file; a hidden name of its own beside the file is taken instead, as
  // when the name is too long.
  explicit TempFile(const std::string& fileName) {
    std::string next = fileName + ".id3tmp";
    fd_ = ::open(next.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ == -1 && errno == EEXIST) {
      int old = ::open(next.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      struct stat st {};
      if (old != -1 && ::fstat(old, &st) == 0 && S_ISREG(st.st_mode) &&
          ::flock(old, LOCK_EX | LOCK_NB) == 0 && ::ftruncate(old, 0) == 0) {
        fd_ = old;
      } else if (old != -1) {
        ::close(old);
      }
    }
    if (fd_ != -1) {
      name_ = next;
    } else {
      std::string folder = GetFolderPart(fileName);
      fd_ = CreateUniqueFile(folder.empty() ? "./" : folder, ".velotag-", ".id3tmp", name_);
      if (fd_ == -1) {
        fd_ = CreateUniqueFile(TempFolder(), "QRN", "", name_);
      }
    }
    if (fd_ != -1) ::flock(fd_, LOCK_EX | LOCK_NB);
  }
  ~TempFile() { Close(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool valid() const { return fd_ != -1; }
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }
  bool Close() {
    if (fd_ == -1) return true;
    bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
  }

 private:
  int fd_ = -1;
  std::string name_;
};

// Copies [from, to) of the source (to = -1: up to the end) to the end of the
// temporary file. A range with a known end must arrive whole.
bool CopyRange(int source, Offset64 from, Offset64 to, int dest, Offset64& destPos) {
  Bytes buf(kCopyBlock);
  Offset64 pos = from;
  for (;;) {
    std::size_t want = kCopyBlock;
    if (to >= 0) {
      if (pos >= to) return true;
      want = static_cast<std::size_t>(std::min<Offset64>(to - pos, kCopyBlock));
    }
    ssize_t n;
    do {
      n = ::pread(source, buf.data(), want, static_cast<off_t>(pos));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    if (n == 0) return to < 0;
    auto got = static_cast<std::size_t>(n);
    if (LargeFileWriteAt(dest, buf.data(), got, destPos) != got) return false;
    pos += n;
    destPos += n;
  }
}


// The file becomes: its bytes before keepBefore, then `middle`, then its
// bytes from resumeAt to the end. The new content is complete and on the
// medium before it replaces the file in one rename, so there is never a
// moment without the file; on any failure the file is untouched and the
// temporary file is left where it is.
bool RewriteFile(ID3v2Tag& tag, Offset64 keepBefore, const Bytes& middle, Offset64 resumeAt) {
  const int source = tag.FileHandle.get();
  struct stat original {};
  if (::fstat(source, &original) != 0) return false;
  TempFile temp(tag.FileName);
  if (!temp.valid()) return false;
  Offset64 destPos = 0;
  if (keepBefore > 0 && !CopyRange(source, 0, keepBefore, temp.fd(), destPos)) return false;
  if (LargeFileWriteAt(temp.fd(), middle.data(), middle.size(), destPos) != middle.size()) return false;
  destPos += static_cast<Offset64>(middle.size());
  if (!CopyRange(source, resumeAt, -1, temp.fd(), destPos)) return false;
  if (!LargeFileFlush(temp.fd())) return false;
  // The replacement keeps the file's owner and permissions.
  (void)::fchown(temp.fd(), original.st_uid, original.st_gid);
  (void)::fchmod(temp.fd(), original.st_mode & 07777);
  // The copy replaces the file it was made from, never one that another
  // program has put under its name since.
  struct stat named {};
  if (::stat(tag.FileName.c_str(), &named) != 0 || named.st_dev != original.st_dev ||
      named.st_ino != original.st_ino)
    return false;
  // Renamed while still open and locked, so that no other writer can take
  // the name over in between; the data is on the medium already.
  if (::rename(temp.name().c_str(), tag.FileName.c_str()) != 0) return false;
  temp.Close();
  SyncFolderOf(tag.FileName);
  // Reopened the way OpenID3v2 opens, the size coming with it.
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
    // A slot that was loaded without data was never counted.
    if (f.Size > 0) --tag.FrameCount;
    f = ID3v2Frame{};
    removed = true;
  }
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

bool WriteID3v2(ID3v2Tag& tag) {
  // Frames that do not fit the format are refused rather than left out of
  // a tag reported as written; a refused write leaves the file as it was,
  // its permissions included.
  if (!tag.FileHandle.valid() || !FitsTheFormat(tag) || !EnsureWritable(tag)) return false;
  const bool tagInFile = TagInFile(tag);
  const Offset64 sizeBefore = tag.FileSize;
  tag.FileSize = -1;  // unless the write says otherwise, the size must be asked anew
  tag.Head.clear();
  ComputeID3v2Size(tag);
  tag.NewTagSize = std::min(NextBlockMultiple(tag.NewTagSize, kPaddingBlock), kID3v2MaxTagSize);
  // Frames are written plain, so nothing may claim otherwise.
  tag.Unsynchronisation = false;
  const std::uint8_t flags = HeaderFlags(tag);

  if (tagInFile && tag.TagSize >= tag.NewTagSize) {
    // In place: the tag keeps its extent, header and body go out in one
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
    return true;
  }

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
  if (!RewriteFile(tag, insertAt, middle, resumeAt)) return false;
  tag.TagOffset = insertAt;
  tag.TagSize = tag.NewTagSize;
  tag.HeaderValid = true;
  std::memcpy(tag.HeaderOnDisk.data(), middle.data(), 10);
  return true;
}

Offset64 ID3v2FileSize(const ID3v2Tag& tag) {
  return tag.FileSize >= 0 ? tag.FileSize : GetLargeFileSize(tag.FileName);
}

bool RemoveID3v2(ID3v2Tag& tag) {
  // Only a tag we can vouch for is cut out: an unknown block or a size that
  // runs past the end of the file could be audio.
  if (!tag.FileHandle.valid() || tag.TagOffset < 0 || !TagInFile(tag) || !EnsureWritable(tag))
    return false;
  tag.FileSize = -1;
  tag.Head.clear();
  const Offset64 resumeAt = tag.TagOffset + 10 + tag.TagSize + (FooterOnDisk(tag) ? 10 : 0);
  if (!RewriteFile(tag, tag.TagOffset, Bytes{}, resumeAt)) return false;
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

}  // namespace velotag
