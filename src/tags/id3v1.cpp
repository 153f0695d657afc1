#include "tags/id3v1.h"

#include <unistd.h>

#include <array>
#include <cstring>

#include "support/filelock.h"
#include "support/largefile.h"
#include "support/numtext.h"
#include "support/strutil.h"
#include "support/textenc.h"

namespace velotag {

namespace {

constexpr std::size_t kBlockSize = 128;
using Block = std::array<std::uint8_t, kBlockSize>;

std::string FieldText(const Block& b, std::size_t offset, std::size_t width) {
  std::size_t n = 0;
  while (n < width && b[offset + n] != 0) ++n;
  return AnsiToString(b.data() + offset, n);
}

void PutField(Block& b, std::size_t offset, std::size_t width, const std::string& text) {
  Bytes bytes = StringToAnsi(text);
  if (!bytes.empty()) std::memcpy(b.data() + offset, bytes.data(), std::min(width, bytes.size()));
}

}  // namespace

bool IsMp3FileName(const std::string& fileName) { return EndsWithNoCase(fileName, ".mp3"); }

int ReadID3v1(const std::string& fileName, ID3v1Tag& tag) {
  if (!IsMp3FileName(fileName)) return kTagFailed;
  FileHandle h = OpenRead(fileName);
  if (!h.valid()) return kTagFailed;
  return ReadID3v1FromHandle(fileName, h.get(), tag);
}

int ReadID3v1FromHandle(const std::string& fileName, int handle, ID3v1Tag& tag,
                        std::int64_t fileSize) {
  if (!IsMp3FileName(fileName)) return kTagFailed;
  if (handle == -1) return kTagFailed;
  Block b{};
  Offset64 size = fileSize >= 0 ? fileSize : LargeFileSize(handle);
  if (size < static_cast<Offset64>(kBlockSize) ||
      LargeFileReadAt(handle, b.data(), kBlockSize, size - static_cast<Offset64>(kBlockSize)) <
          kBlockSize)
    return kTagNone;
  if (b[0] != 'T' || b[1] != 'A' || b[2] != 'G') return kTagNone;
  tag.Album = FieldText(b, 63, 30);
  tag.Artist = FieldText(b, 33, 30);
  tag.Comment = FieldText(b, 97, 30);
  tag.Track = b[125] == 0 ? b[126] : 0;
  tag.Genre = b[127];
  tag.Title = FieldText(b, 3, 30);
  tag.Year = LeadingInteger(FieldText(b, 93, 4));
  return kTagDone;
}

namespace {

// The file opened for writing and locked (support/filelock.h): the check
// for a block and the write that follows it see the same file, so two
// writers never both append one. None when it cannot be had.
FileHandle OpenLocked(const std::string& fileName, const LockWait& wait, Offset64& size) {
  if (!IsMp3FileName(fileName)) return {};
  FileHandle h = OpenReadWrite(fileName, &size);
  if (!h.valid() || LockFileAtName(h, fileName, true, size, wait) != LockResult::Locked) return {};
  return h;
}

}  // namespace

int WriteID3v1(const std::string& fileName, ID3v1Tag& tag, const LockWait& wait) {
  return EditID3v1(fileName, [&tag](ID3v1Tag& t) { t = tag; }, tag, wait);
}

int EditID3v1(const std::string& fileName, const std::function<void(ID3v1Tag&)>& edit,
              ID3v1Tag& tag, const LockWait& wait) {
  Offset64 size = -1;
  FileHandle h = OpenLocked(fileName, wait, size);
  if (!h.valid()) return kTagFailed;
  ID3v1Tag old;
  const int existing = ReadID3v1FromHandle(fileName, h.get(), old, size);
  if (existing != kTagDone) old = ID3v1Tag{};
  edit(old);
  tag = std::move(old);

  Block b{};
  b[0] = 'T';
  b[1] = 'A';
  b[2] = 'G';
  PutField(b, 63, 30, tag.Album);
  PutField(b, 33, 30, tag.Artist);
  std::string comment = ReplaceAll(tag.Comment, "\r\n", "\n");
  comment = ReplaceAll(comment, "\r", "\n");
  comment = ReplaceAll(comment, "\n", " ");
  tag.Comment = comment;
  PutField(b, 97, 30, comment);
  if (tag.Track != 0) {
    b[125] = 0;
    b[126] = tag.Track;
  }
  b[127] = tag.Genre;
  PutField(b, 3, 30, tag.Title);
  if (tag.Year != 0) {
    std::string year = "0000" + std::to_string(tag.Year);
    PutField(b, 93, 4, year.substr(year.size() - 4));
  }

  const Offset64 at = existing == kTagDone ? size - static_cast<Offset64>(kBlockSize) : size;
  if (LargeFileWriteAt(h.get(), b.data(), kBlockSize, at) == kBlockSize) return kTagDone;
  // Half a block appended to the audio (a full disk) would be played as
  // noise and never read as a tag: the file goes back to its old length.
  if (existing != kTagDone && ::ftruncate(h.get(), static_cast<off_t>(at)) != 0) return kTagFailed;
  return kTagNone;
}

int RemoveID3v1(const std::string& fileName, const LockWait& wait) {
  Offset64 size = -1;
  FileHandle h = OpenLocked(fileName, wait, size);
  if (!h.valid()) return kTagFailed;
  ID3v1Tag scratch;
  const int existing = ReadID3v1FromHandle(fileName, h.get(), scratch, size);
  if (existing != kTagDone) return existing;
  // Reported as "cannot" when the file did not get shorter, so that
  // RemoveAllID3v1 never loops on a file it cannot cut.
  const Offset64 cut = size - static_cast<Offset64>(kBlockSize);
  if (::ftruncate(h.get(), static_cast<off_t>(cut)) != 0 || LargeFileSize(h.get()) != cut)
    return kTagFailed;
  return kTagDone;
}

int RemoveAllID3v1(const std::string& fileName, const LockWait& wait) {
  int count = 0;
  while (RemoveID3v1(fileName, wait) == kTagDone) ++count;
  return count;
}

}  // namespace velotag
