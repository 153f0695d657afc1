#include "support/largefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

#include "support/textenc.h"

namespace velotag {

namespace {

constexpr std::size_t kWriteBlock = 8192;
constexpr std::size_t kCopyBlock = 256 * 1024;
constexpr std::int32_t kDefaultChunk = 32768;

// A read-only file (no owner write bit) is made writable for the length of a
// whole-file write and gets its old mode back afterwards, whatever happened.
class WritableForScope {
 public:
  explicit WritableForScope(const std::string& name) : name_(name) {
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      mode_ = st.st_mode & 07777;
      if (!(mode_ & S_IWUSR)) {
        ::chmod(name.c_str(), mode_ | S_IWUSR);
        changed_ = true;
      }
    }
  }
  ~WritableForScope() {
    if (changed_) ::chmod(name_.c_str(), mode_);
  }
  WritableForScope(const WritableForScope&) = delete;
  WritableForScope& operator=(const WritableForScope&) = delete;

 private:
  std::string name_;
  mode_t mode_ = 0;
  bool changed_ = false;
};

std::string StripTrailingSlashes(const std::string& name) {
  std::string s = name;
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

bool WriteAll(int handle, const std::uint8_t* data, std::size_t count) {
  return LargeFileWrite(handle, data, count) == count;
}

// Byte order of an existing UTF-16 file, from its first two bytes.
bool FileIsBigEndian(int handle) {
  std::uint8_t mark[2] = {0, 0};
  LargeFileSeek(handle, 0, true);
  return LargeFileRead(handle, mark, 2) == 2 && mark[0] == 0xFE && mark[1] == 0xFF;
}

}  // namespace

namespace {

// A pipe named like a file must not hang the program: its open returns at
// once (for writing it fails without a reader). Regular files ignore it.
int OpenWithFlags(const std::string& fileName, int flags) {
  if (fileName.empty()) return -1;
  int fd;
  do {
    fd = ::open(fileName.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  } while (fd == -1 && errno == EINTR);
  return fd;
}

FileHandle OpenRegularFile(const std::string& fileName, int access, Offset64* size) {
  if (size) *size = -1;
  FileHandle fd(OpenWithFlags(fileName, access));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return FileHandle{};
  if (size) *size = static_cast<Offset64>(st.st_size);
  return fd;
}

}  // namespace

FileHandle OpenRead(const std::string& fileName, Offset64* size) {
  return OpenRegularFile(fileName, O_RDONLY, size);
}

FileHandle OpenReadWrite(const std::string& fileName, Offset64* size) {
  return OpenRegularFile(fileName, O_RDWR, size);
}

FileHandle OpenWrite(const std::string& fileName) {
  return FileHandle(OpenWithFlags(fileName, O_WRONLY | O_CREAT | O_TRUNC));
}

Offset64 LargeFileSeek(int handle, Offset64 offset, bool fromStart) {
  if (handle == -1) return -1;
  // Before the start of a short file the call fails and the position stays
  // where it was, so a following read starts there and comes back short.
  off_t pos = ::lseek(handle, static_cast<off_t>(offset), fromStart ? SEEK_SET : SEEK_END);
  return static_cast<Offset64>(pos);
}

Offset64 LargeFileSize(int handle) {
  if (handle == -1) return -1;
  struct stat st {};
  if (::fstat(handle, &st) != 0) return -1;
  return static_cast<Offset64>(st.st_size);
}

Offset64 GetLargeFileSize(const std::string& fileName) {
  // What opening without access and asking the handle would give, in one call.
  struct stat st {};
  if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return static_cast<Offset64>(st.st_size);
}

int LargeFileClose(int handle) {
  if (handle == -1) return 0;
  // The descriptor is released even when close reports an error; retrying
  // would close someone else's descriptor.
  return ::close(handle) == 0 ? 1 : 0;
}

std::size_t LargeFileRead(int handle, void* buffer, std::size_t count) {
  if (handle == -1) return 0;
  auto* p = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::read(handle, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::size_t LargeFileWrite(int handle, const void* buffer, std::size_t count) {
  if (handle == -1) return 0;
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::write(handle, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::size_t LargeFileReadAt(int handle, void* buffer, std::size_t count, Offset64 offset) {
  if (handle == -1 || offset < 0) return 0;
  auto* p = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(handle, p + done, count - done,
                        static_cast<off_t>(offset) + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::size_t LargeFileWriteAt(int handle, const void* buffer, std::size_t count, Offset64 offset) {
  if (handle == -1 || offset < 0) return 0;
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::pwrite(handle, p + done, count - done,
                         static_cast<off_t>(offset) + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

Offset64 LargeFileCopy(int from, Offset64 fromPos, int to, Offset64 toPos, Offset64 count) {
  if (from == -1 || to == -1 || fromPos < 0 || toPos < 0) return -1;
  constexpr Offset64 kKernelChunk = Offset64{1} << 30;
  Offset64 done = 0;
  bool kernel = true;
  std::unique_ptr<std::uint8_t[]> buf;
  while (count < 0 || done < count) {
    const Offset64 left = count < 0 ? kKernelChunk : count - done;
    if (kernel) {
      loff_t in = fromPos + done, out = toPos + done;
      ssize_t n = ::copy_file_range(from, &in, to, &out,
                                    static_cast<std::size_t>(std::min(left, kKernelChunk)), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) {
        done += n;
        continue;
      }
      // Another file system, an old kernel, or a file the kernel cannot
      // copy: through memory, which also makes sure a 0 is the real end.
      if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
          errno != EBADF)
        return -1;
      kernel = false;
    }
    if (!buf) buf = std::make_unique_for_overwrite<std::uint8_t[]>(kCopyBlock);
    const std::size_t want = static_cast<std::size_t>(std::min<Offset64>(left, kCopyBlock));
    ssize_t n;
    do {
      n = ::pread(from, buf.get(), want, static_cast<off_t>(fromPos + done));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    if (n == 0) break;
    const auto got = static_cast<std::size_t>(n);
    if (LargeFileWriteAt(to, buf.get(), got, toPos + done) != got) return -1;
    done += n;
  }
  return count >= 0 && done != count ? -1 : done;
}

bool FileDelete(const std::string& fileName) {
  std::string name = StripTrailingSlashes(fileName);
  struct stat st {};
  if (name.empty() || ::lstat(name.c_str(), &st) != 0) return false;
  // A link is removed itself, whatever it points to; its target's mode is
  // never touched.
  if (S_ISDIR(st.st_mode)) return false;
  if (!S_ISLNK(st.st_mode)) FileSetAttributes(name, 0);
  return ::unlink(name.c_str()) == 0;
}

void FileSetAttributes(const std::string& fileName, int attributes, bool /*unicode*/) {
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0) return;
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = (attributes & kAttrReadOnly) ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH))
                                               : (mode | S_IWUSR);
  // A mode that cannot be changed is left as it is; the caller finds out
  // when it opens the file.
  if (wanted != mode) ::chmod(fileName.c_str(), wanted);
}

bool FileMove(const std::string& oldName, const std::string& newName, bool /*unicode*/) {
  if (oldName.empty() || newName.empty()) return false;
  if (::renameat2(AT_FDCWD, oldName.c_str(), AT_FDCWD, newName.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  return detail::MoveWithoutReplacing(oldName, newName);
}

namespace detail {

bool MoveWithoutReplacing(const std::string& oldName, const std::string& newName) {
  // A hard link fails when the target exists, so link + unlink never
  // replaces a file.
  struct stat st {};
  if (::lstat(oldName.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    if (::link(oldName.c_str(), newName.c_str()) == 0) {
      if (::unlink(oldName.c_str()) == 0) return true;
      ::unlink(newName.c_str());
      return false;
    }
    if (errno == EEXIST || (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK))
      return false;
  }
  // A folder, or a file system without hard links (FAT on a music player):
  // check and rename is the best left.
  if (::lstat(newName.c_str(), &st) == 0 || errno != ENOENT) return false;
  return ::rename(oldName.c_str(), newName.c_str()) == 0;
}

}  // namespace detail

bool ReadTextFile(const std::string& fileName, std::string& text, std::int32_t chunkSize,
                  int mode) {
  text.clear();
  if (chunkSize < 128) chunkSize = kDefaultChunk;
  Offset64 size = -1;
  FileHandle h = OpenRead(fileName, &size);
  if (!h.valid()) return false;
  if (size <= 0) return true;
  // The program's text files (settings, the answer cache, exports read
  // back) stay far below this; a file beyond it is refused instead of
  // taking the memory, so that a damaged settings file cannot stop the
  // window from starting.
  if (size > kMaxTextFileBytes) return false;
  std::size_t chunk = static_cast<std::size_t>(chunkSize);
  if (static_cast<Offset64>(chunk) > size) chunk = static_cast<std::size_t>(size);
  Bytes buf;
  try {
    buf.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::size_t got = 0;
  while (got < buf.size()) {
    std::size_t want = std::min(chunk, buf.size() - got);
    std::size_t n = LargeFileRead(h.get(), buf.data() + got, want);
    got += n;
    if (n < want) break;
  }
  h.reset();
  if (got == 0) return false;
  bool whole = got == buf.size();
  buf.resize(got);

  if (mode == kTextAnsi) {
    text = AnsiToString(buf);
    return whole;
  }
  bool bigEndian = false, utf16 = false;
  std::size_t start = 0;
  if (buf.size() >= 2) {
    if (buf[0] == 0xFF && buf[1] == 0xFE) {
      utf16 = true;
      start = 2;
    } else if (buf[0] == 0xFE && buf[1] == 0xFF) {
      utf16 = true;
      bigEndian = true;
      start = 2;
    } else {
      double even = 0, odd = 0;
      for (std::size_t i = 0; i + 1 < buf.size() && i + 1 < 20; i += 2) {
        even += buf[i];
        odd += buf[i + 1];
      }
      even = std::nearbyint(even / 20);
      odd = std::nearbyint(odd / 20);
      bigEndian = even < odd;
      utf16 = buf.size() % 2 == 0 && !(even > 2 && odd >= 3);
    }
  }
  if ((mode == kTextAuto && utf16) || mode == kTextUtf16) {
    text = DecodeUtf16(buf.data() + start, buf.size() - start, bigEndian);
  } else {
    text = AnsiToString(buf);
  }
  return whole;
}

bool WriteBytesToFile(const std::string& fileName, const Bytes& bytes, std::int64_t first,
                      std::int64_t count, int mode) {
  WritableForScope writable(fileName);
  if (first < 0) first = 0;
  std::int64_t total = static_cast<std::int64_t>(bytes.size());
  std::int64_t last = count < 0 ? total - 1 : first + count - 1;
  if (last > total - 1) last = total - 1;  // never read past the array
  bool create = mode == kWriteCreateEmpty || mode == kWriteOverwrite;
  FileHandle h(OpenWithFlags(fileName, O_RDWR | O_CREAT | (create ? O_TRUNC : 0)));
  if (!h.valid()) return false;
  if (!create) LargeFileSeek(h.get(), 0, false);
  std::int64_t pos = first;
  while (last - pos + 1 >= static_cast<std::int64_t>(kWriteBlock)) {
    if (!WriteAll(h.get(), bytes.data() + pos, kWriteBlock)) return false;
    pos += kWriteBlock;
  }
  if (last >= pos &&
      !WriteAll(h.get(), bytes.data() + pos, static_cast<std::size_t>(last - pos + 1)))
    return false;
  return true;
}

std::int16_t WriteTextFile(const std::string& fileName, const std::string& text, int mode,
                           bool unicode) {
  WritableForScope writable(fileName);
  bool create = mode == kWriteCreateEmpty || mode == kWriteOverwrite;
  FileHandle h(OpenWithFlags(fileName, O_RDWR | O_CREAT | (create ? O_TRUNC : 0)));
  if (!h.valid()) return -1;
  if (mode == kWriteCreateEmpty || text.empty()) return 1;

  Bytes out;
  if (!unicode) {
    Offset64 end = LargeFileSeek(h.get(), 0, false);
    if (mode == kWriteAppend && end > 0) out = {'\r', '\n'};
    Bytes body = StringToAnsi(text);
    out.insert(out.end(), body.begin(), body.end());
  } else {
    bool bigEndian = FileIsBigEndian(h.get());
    Offset64 end = LargeFileSeek(h.get(), 0, false);
    std::u16string units;
    if (end == 0) {
      bigEndian = false;
      units.push_back(0xFEFF);
    } else if (mode == kWriteAppend) {
      units.append(u"\r\n");
    }
    units += Utf8ToUtf16(text);
    out.reserve(units.size() * 2);
    for (char16_t u : units) {
      std::uint8_t hi = static_cast<std::uint8_t>(u >> 8), lo = static_cast<std::uint8_t>(u);
      if (bigEndian) {
        out.push_back(hi);
        out.push_back(lo);
      } else {
        out.push_back(lo);
        out.push_back(hi);
      }
    }
  }
  return WriteAll(h.get(), out.data(), out.size()) ? 1 : -1;
}

}  // namespace velotag
