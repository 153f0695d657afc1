// The ID3v2 tag of an MP3 file: finding and parsing it, reading its text
// frames, editing frames in memory and putting the tag back into the file,
// in place or through a temporary copy that replaces the file.
//
// Versions 2.2, 2.3 and 2.4 are read and each tag is written in its own
// version. Callers name frames in their 2.4 form (TALB, TDRC); the setters
// translate to the tag's version.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/filelock.h"
#include "support/largefile.h"
#include "tags/id3v2_catalogue.h"
#include "tags/status.h"

namespace velotag {

// Text encodings of ID3v2 frame bodies.
inline constexpr int kID3Ansi = 0;      // the single-byte code page (ISO-8859-1)
inline constexpr int kID3Utf16 = 1;     // UTF-16 with a byte-order mark
inline constexpr int kID3Utf16BE = 2;   // UTF-16 big-endian, no mark (2.4 only)
inline constexpr int kID3Utf8 = 3;      // UTF-8 (2.4 only)
inline constexpr int kID3KeepEncoding = -1;

// The largest tag body a synchsafe size can describe.
inline constexpr std::int32_t kID3v2MaxTagSize = 268435455;

struct ID3v2Frame {
  std::string FrameID;
  // The two flag bytes of a 2.3/2.4 frame header, the first in the low half.
  // A frame that was unsynchronised in the file has that flag cleared here:
  // Data always holds the plain bytes.
  std::uint16_t Flags = 0;
  // The body. A frame whose size field gave none (0, or below 0 as a plain
  // 2.3 number) is listed as read, but never written.
  Bytes Data;
};

// The bits of the tag header's flag byte. 0x40 is compression in a 2.2 tag
// and announces an extended header in 2.3 and 2.4.
inline constexpr std::uint8_t kID3v2Unsynchronisation = 0x80;
inline constexpr std::uint8_t kID3v2Compression = 0x40;
inline constexpr std::uint8_t kID3v2ExtendedHeader = 0x40;
inline constexpr std::uint8_t kID3v2Experimental = 0x20;
inline constexpr std::uint8_t kID3v2Footer = 0x10;

// One tag bound to its open file. The record owns the file handle: it is
// closed when the record is destroyed, reopened by OpenID3v2, or closed
// explicitly with CloseID3v2.
struct ID3v2Tag {
  std::string FileName;
  velotag::FileHandle FileHandle;
  Offset64 TagOffset = -1;          // position of "ID3"; -1 = no tag
  std::uint8_t Version = 4;
  std::uint8_t Revision = 0;
  std::uint8_t Flags = 0;           // the header's flag byte: the bits the version defines
  std::int32_t TagSize = 0;         // header size field: body bytes, footer excluded
  std::int32_t NewTagSize = 0;      // the body size the writer last built
  Bytes ExtHeader;                  // the extended header as read, its size field included
  // In file order. A setter replaces the first frame of its kind where it
  // stands (and drops the others of that kind) or appends a new one.
  std::vector<ID3v2Frame> Frames;

  // What the file itself says, so that the writer never trusts a header
  // it could not use.
  bool ReadOnly = false;            // the handle is open for reading only
  Offset64 FileSize = -1;           // the file's size when opened; -1 after a write
  bool HeaderValid = false;         // OpenID3v2 returned kTagDone
  std::array<std::uint8_t, 10> HeaderOnDisk{};  // the header as found
  // The file's first bytes as OpenID3v2 read them; a small tag's body is
  // taken from here instead of being read again. Emptied by every write.
  Bytes Head;
  // After a failed write or removal of a file with several names that
  // damaged it part-way: the temporary file holding its complete new
  // content. "" otherwise.
  std::string KeptCopy;
  // The record holds the write lock of the file (support/filelock.h),
  // through FileHandle, or through LockHandle once FileHandle was opened
  // again for writing.
  bool Locked = false;
  velotag::FileHandle LockHandle;
  // Another writer held the lock (or the file system refused it) when the
  // record was to be written: it is not written.
  bool Busy = false;

  bool Unsynchronisation() const { return Flags & kID3v2Unsynchronisation; }
  bool Compression() const { return Version == 2 && (Flags & kID3v2Compression); }
  bool ExtendedHeader() const { return Version > 2 && (Flags & kID3v2ExtendedHeader); }
  bool Experimental() const { return Version > 2 && (Flags & kID3v2Experimental); }
  bool Footer() const { return Version == 4 && (Flags & kID3v2Footer); }
};

// Opens the file for ID3v2 work and parses the tag header. Results:
// kTagDone (-1) a 2.2/2.3/2.4 header was read; kTagBadHeader (2) "ID3" was
// found but the header is cut off or of another version; kTagNone (1) no
// tag; kTagFailed (0) not an ".mp3" name or the file cannot be opened. With
// -1, 1 and 2 the file stays open. Unless the caller means to write, the
// file is opened for reading only: closing a file that was open for writing
// tells every watcher (music daemons, indexers, sync tools) that it changed,
// so merely listing a folder must not. Reading never changes the file's
// permissions; a write or removal through a read-only handle reopens the
// same file for writing, first giving it the owner's write bit when it has
// none, and returns false when it cannot be written.
//
// Opened for writing, the file is locked before anything is read (waiting
// as `wait` says while another writer holds it), and stays locked until the
// record is closed or its write has ended (a rewrite in a batch: until the
// new file is in place). A record whose lock could not be had (Busy) is
// read but never written. A record read without the lock (or written once
// already) takes it when it is written, and is written only when the file
// still has the size and the tag header the record knows.
int OpenID3v2(const std::string& fileName, ID3v2Tag& tag, std::int32_t newVersion = 4,
              bool forWriting = false, const LockWait& wait = {});
// Loads the frames; true when the whole tag body was read.
bool ReadID3v2Frames(ID3v2Tag& tag);
void CloseID3v2(ID3v2Tag& tag);

std::int32_t DecodeBigEndian(const std::uint8_t* bytes, std::size_t first, std::size_t last,
                             bool synchsafe);
void EncodeBigEndian(std::int32_t value, std::uint8_t* bytes, std::size_t first,
                     std::size_t last, bool synchsafe);
// The smallest multiple of block strictly greater than value.
std::int32_t NextBlockMultiple(std::int32_t value, std::int32_t block);

// The texts of the frames with that identifier (the tag's own version's
// form), joined by blanks; only the first of several zero-separated values
// of a frame counts.
std::string GetID3v2Text(const std::string& frameID, const ID3v2Tag& tag, bool firstOnly);
// The 16 fields the media list shows, by index:
inline constexpr int kFieldAlbum = 0, kFieldArtist = 1, kFieldBand = 2, kFieldBpm = 3,
                     kFieldComment = 4, kFieldComposer = 5, kFieldGenre = 6,
                     kFieldCopyright = 7, kFieldPartOfSet = 8, kFieldEncodedBy = 9,
                     kFieldOrigArtist = 10, kFieldPublisher = 11, kFieldTitle = 12,
                     kFieldTrack = 13, kFieldUrl = 14, kFieldYear = 15;
inline constexpr int kID3v2FieldCount = 16;
std::string GetID3v2Field(const ID3v2Tag& tag, int fieldIndex);

bool SetID3v2Text(ID3v2Tag& tag, const std::string& frameID, const std::string& text,
                  std::int32_t encoding = kID3Utf8, bool append = false);
bool DeleteID3v2Frame(ID3v2Tag& tag, const std::string& frameID, bool deleteAll = false);
void ComputeID3v2Size(ID3v2Tag& tag);
bool WriteID3v2(ID3v2Tag& tag);
bool RemoveID3v2(ID3v2Tag& tag);
// How a write handed to a batch ended.
struct ID3v2Written {
  bool Written = false;
  Offset64 FileSize = -1;  // the file's size afterwards, when written
  std::string KeptCopy;    // as ID3v2Tag::KeptCopy
};
using ID3v2WriteDone = std::function<void(const ID3v2Written&)>;
class SafeWriteBatch;
// WriteID3v2 and RemoveID3v2 for one file of many. A write in place is done
// at once; a rewrite of the whole file joins the batch, which flushes the new
// files together and puts them in place when it commits. `done` hears the
// outcome exactly once, at once or at that commit. A record whose rewrite
// joined the batch describes the new tag and is closed.
void WriteID3v2(ID3v2Tag& tag, SafeWriteBatch& batch, ID3v2WriteDone done);
void RemoveID3v2(ID3v2Tag& tag, SafeWriteBatch& batch, ID3v2WriteDone done);
// The file's size as the last open or write left it, asked anew only when
// unknown: a batch shows it without another system call per file.
Offset64 ID3v2FileSize(const ID3v2Tag& tag);

}  // namespace velotag
