// Handle-based file access with 64-bit positions, and whole-file text I/O.
//
// A handle is a POSIX file descriptor; -1 means no file. Every position and
// size is an Offset64, -1 meaning none or failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velotag {

using Offset64 = std::int64_t;
using Bytes = std::vector<std::uint8_t>;

// Attribute set of FileSetAttributes / FolderEntry. Only read-only has a real
// counterpart here (the owner's write bit); hidden means a name starting with
// "."; kAttrLink marks a symbolic link, which no folder walk descends through.
inline constexpr int kAttrReadOnly = 1;
inline constexpr int kAttrHidden = 2;
inline constexpr int kAttrSystem = 4;
inline constexpr int kAttrDirectory = 16;
inline constexpr int kAttrArchive = 32;
inline constexpr int kAttrLink = 1024;

// Open modes of ReadTextFile.
inline constexpr int kTextAuto = 0;
inline constexpr int kTextUtf16 = 1;
inline constexpr int kTextAnsi = 2;

// Write modes of WriteTextFile / WriteBytesToFile.
inline constexpr int kWriteCreateEmpty = 0;
inline constexpr int kWriteAppend = 1;
inline constexpr int kWriteOverwrite = 3;

Offset64 LargeFileSeek(int handle, Offset64 offset, bool fromStart);
Offset64 LargeFileSize(int handle);
Offset64 GetLargeFileSize(const std::string& fileName);
int LargeFileClose(int handle);

// The ReadFile / WriteFile / SetEndOfFile of this layer: transfer at the
// current position and return the count actually transferred (short only at
// the end of the file or on an error).
std::size_t LargeFileRead(int handle, void* buffer, std::size_t count);
std::size_t LargeFileWrite(int handle, const void* buffer, std::size_t count);
// Positioned transfers that leave the handle's position alone; the count
// actually transferred.
std::size_t LargeFileReadAt(int handle, void* buffer, std::size_t count, Offset64 offset);
std::size_t LargeFileWriteAt(int handle, const void* buffer, std::size_t count, Offset64 offset);
// Copies `count` bytes (-1: up to the end of the source) from one file at
// `fromPos` to another at `toPos`, leaving both handles' positions alone.
// The file system may share the blocks or copy inside the kernel
// (copy_file_range); where it cannot, the bytes go through memory. Returns
// the count copied, -1 on an error or when a known count fell short.
Offset64 LargeFileCopy(int from, Offset64 fromPos, int to, Offset64 toPos, Offset64 count);

bool FileDelete(const std::string& fileName);
void FileSetAttributes(const std::string& fileName, int attributes, bool unicode = true);
// Never replaces an existing file.
bool FileMove(const std::string& oldName, const std::string& newName, bool unicode = true);

// Text files larger than this are not read (false).
inline constexpr Offset64 kMaxTextFileBytes = Offset64{1} << 30;
bool ReadTextFile(const std::string& fileName, std::string& text, std::int32_t chunkSize = 0,
                  int mode = kTextAuto);
bool WriteBytesToFile(const std::string& fileName, const Bytes& bytes, std::int64_t first = 0,
                      std::int64_t count = -1, int mode = kWriteOverwrite);
// Returns 1 on success, -1 on failure.
std::int16_t WriteTextFile(const std::string& fileName, const std::string& text, int mode,
                           bool unicode);

namespace detail {
// FileMove's way on file systems that cannot rename without replacing.
bool MoveWithoutReplacing(const std::string& oldName, const std::string& newName);
}  // namespace detail

// Owns a handle and closes it when it goes out of scope.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept : handle_(other.release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~FileHandle() { reset(); }

  int get() const { return handle_; }
  bool valid() const { return handle_ != -1; }
  int release() {
    int h = handle_;
    handle_ = -1;
    return h;
  }
  void reset(int handle = -1) {
    if (handle_ != -1) LargeFileClose(handle_);
    handle_ = handle;
  }

 private:
  int handle_ = -1;
};

// An existing regular file opened for reading only (OpenRead) or for reading
// and writing (OpenReadWrite); `size`, when asked for, comes from the same
// check that refuses folders, pipes and devices (one fstat). Not valid when
// the file cannot be opened.
FileHandle OpenRead(const std::string& fileName, Offset64* size = nullptr);
FileHandle OpenReadWrite(const std::string& fileName, Offset64* size = nullptr);
// A file opened for writing only: created when missing, emptied when it exists.
FileHandle OpenWrite(const std::string& fileName);

}  // namespace velotag
