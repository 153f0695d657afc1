#include "tags/id3v1.h"

#include <unistd.h>

#include <array>
#include <cstring>

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
  FileHandle h(LargeFileOpen(fileName, true, false, true, false, kOpenExisting));
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

int WriteID3v1(const std::string& fileName, ID3v1Tag& tag) {
  ID3v1Tag scratch;
  int existing = ReadID3v1(fileName, scratch);
  if (existing != kTagDone && existing != kTagNone) return kTagFailed;
  FileHandle h(LargeFileOpen(fileName, false, true, true, false, kOpenExisting));
  if (!h.valid()) return kTagFailed;

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

  Offset64 at = existing == kTagDone
                    ? LargeFileSeek(h.get(), -static_cast<Offset64>(kBlockSize), false)
                    : LargeFileSeek(h.get(), 0, false);
  if (at < 0) return kTagFailed;
  if (LargeFileWrite(h.get(), b.data(), kBlockSize) == kBlockSize) return kTagDone;
  // Half a block appended to the audio (a full disk) would be played as
  // noise and never read as a tag: the file goes back to its old length.
  if (existing != kTagDone && ::ftruncate(h.get(), static_cast<off_t>(at)) != 0) return kTagFailed;
  return kTagNone;
}

int RemoveID3v1(const std::string& fileName) {
  ID3v1Tag scratch;
  int existing = ReadID3v1(fileName, scratch);
  if (existing != kTagDone) return existing;
  FileHandle h(LargeFileOpen(fileName, false, true, true, false, kOpenExisting));
  if (!h.valid()) return kTagFailed;
  Offset64 before = LargeFileSize(h.get());
  LargeFileSeek(h.get(), -static_cast<Offset64>(kBlockSize), false);
  // Reported as "cannot" when the file did not get shorter, so that
  // RemoveAllID3v1 never loops on a file it cannot cut.
  if (!LargeFileSetEnd(h.get()) || LargeFileSize(h.get()) != before - 128) return kTagFailed;
  return kTagDone;
}

int RemoveAllID3v1(const std::string& fileName) {
  int count = 0;
  while (RemoveID3v1(fileName) == kTagDone) ++count;
  return count;
}

}  // namespace velotag
