#include "update/extract.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "support/largefile.h"
#include "support/paths.h"
#include "update/mirror.h"

namespace velotag {

namespace {

struct ReaderFree {
  void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterFree {
  void operator()(archive* a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<archive, ReaderFree>;
using Writer = std::unique_ptr<archive, WriterFree>;

Reader OpenArchive(const std::string& file) {
  Reader r(archive_read_new());
  if (!r) return r;
  archive_read_support_filter_all(r.get());
  archive_read_support_format_all(r.get());
  if (archive_read_open_filename(r.get(), file.c_str(), 1 << 16) != ARCHIVE_OK) r.reset();
  return r;
}

std::string ArchiveError(archive* a, const std::string& fallback) {
  const char* e = a ? archive_error_string(a) : nullptr;
  return e && *e ? std::string(e) : fallback;
}

// The entry's path as it may be unpacked: relative, no "." or ".." parts,
// no empty parts; "" when it is none of that.
std::string SafeRelativePath(const char* raw) {
  if (!raw || !*raw) return {};
  std::string path = raw;
  if (path.front() == '/') return {};
  std::string clean;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    std::string part = path.substr(start, slash == std::string::npos ? std::string::npos
                                                                      : slash - start);
    if (part == "..") return {};
    if (!part.empty() && part != ".") clean += (clean.empty() ? "" : "/") + part;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return clean;
}

// Checks every entry before anything is written; the top-level names.
bool Inspect(const std::string& file, std::vector<std::string>& names, std::string& error,
             std::int64_t maxBytes) {
  Reader r = OpenArchive(file);
  if (!r) {
    error = "not an archive";
    return false;
  }
  archive_entry* e = nullptr;
  std::int64_t total = 0;
  int status;
  while ((status = archive_read_next_header(r.get(), &e)) == ARCHIVE_OK) {
    const char* raw = archive_entry_pathname(e);
    std::string shown = raw ? raw : "";
    std::string path = SafeRelativePath(raw);
    mode_t type = archive_entry_filetype(e);
    if (path.empty()) {
      error = "refused entry: " + shown;
      return false;
    }
    if (archive_entry_hardlink(e) || archive_entry_symlink(e) ||
        (type != AE_IFREG && type != AE_IFDIR)) {
      error = "refused link or special file: " + shown;
      return false;
    }
    total += std::max<std::int64_t>(archive_entry_size(e), 0);
    if (total > maxBytes) {
      error = "too large";
      return false;
    }
    std::string top = path.substr(0, path.find('/'));
    if (std::find(names.begin(), names.end(), top) == names.end()) names.push_back(top);
  }
  if (status != ARCHIVE_EOF) {
    error = ArchiveError(r.get(), "damaged archive");
    return false;
  }
  if (names.empty()) error = "empty archive";
  return !names.empty();
}

bool Unpack(const std::string& file, const std::string& folder, std::string& error,
            std::int64_t maxBytes) {
  Reader r = OpenArchive(file);
  Writer w(archive_write_disk_new());
  if (!r || !w) {
    error = "not an archive";
    return false;
  }
  // Each entry is checked again below and joined to the fresh folder by
  // hand (the writer's own path guards would also judge the folder's path,
  // which is the user's). Nothing is overwritten: a second entry of the same
  // name refuses the archive.
  archive_write_disk_set_options(
      w.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_NO_OVERWRITE);
  archive_entry* e = nullptr;
  std::int64_t total = 0;
  int status;
  while ((status = archive_read_next_header(r.get(), &e)) == ARCHIVE_OK) {
    std::string path = SafeRelativePath(archive_entry_pathname(e));
    mode_t type = archive_entry_filetype(e);
    if (path.empty() || archive_entry_hardlink(e) || archive_entry_symlink(e) ||
        (type != AE_IFREG && type != AE_IFDIR)) {
      error = "refused entry";
      return false;
    }
    archive_entry_set_pathname(e, (folder + path).c_str());
    // No set-id bits from a download; the owner can always replace the files.
    mode_t perm = archive_entry_perm(e) & 0777;
    archive_entry_set_perm(e, perm | (type == AE_IFDIR ? 0700 : 0600));
    if (archive_write_header(w.get(), e) != ARCHIVE_OK) {
      error = ArchiveError(w.get(), "cannot write " + path);
      return false;
    }
    const void* block;
    std::size_t size;
    la_int64_t offset;
    int rs;
    while ((rs = archive_read_data_block(r.get(), &block, &size, &offset)) == ARCHIVE_OK) {
      total += static_cast<std::int64_t>(size);
      // The sizes in the headers may lie.
      if (total > maxBytes) {
        error = "too large";
        return false;
      }
      if (archive_write_data_block(w.get(), block, size, offset) != ARCHIVE_OK) {
        error = ArchiveError(w.get(), "cannot write " + path);
        return false;
      }
    }
    if (rs != ARCHIVE_EOF) {
      error = ArchiveError(r.get(), "damaged archive");
      return false;
    }
    if (archive_write_finish_entry(w.get()) != ARCHIVE_OK) {
      error = ArchiveError(w.get(), "cannot write " + path);
      return false;
    }
  }
  if (status != ARCHIVE_EOF) {
    error = ArchiveError(r.get(), "damaged archive");
    return false;
  }
  if (archive_write_close(w.get()) != ARCHIVE_OK) {
    error = ArchiveError(w.get(), "cannot write");
    return false;
  }
  return true;
}

bool PlaceExecutable(const std::string& file, const std::string& target, std::string& error) {
  Bytes bytes;
  Offset64 size = 0;
  FileHandle in = OpenRead(file, &size);
  if (in.valid()) {
    bytes.resize(static_cast<std::size_t>(size));
    if (LargeFileRead(in.get(), bytes.data(), bytes.size()) != bytes.size()) bytes.clear();
  }
  if (bytes.empty() || !WriteBytesToFile(target, bytes) || ::chmod(target.c_str(), 0755) != 0) {
    error = "cannot write " + target;
    return false;
  }
  return true;
}

}  // namespace

Extraction ExtractUpgradeArchive(const std::string& archive, const std::string& folder,
                                 const std::string& exeName, std::int64_t maxBytes) {
  Extraction x;
  std::string dir = WithTrailingSlash(folder);
  if (GetPathType(dir) != kPathMissing) DeleteTree(dir);
  if (!CreatePath(dir)) {
    x.error = "cannot create " + dir;
    return x;
  }
  if (DetectDownloadKind(archive) == DownloadKind::Executable) {
    if (SafeRelativePath(exeName.c_str()) != exeName || exeName.find('/') != std::string::npos) {
      x.error = "bad program name: " + exeName;
    } else if (GetLargeFileSize(archive) > maxBytes) {
      x.error = "too large";
    } else if (PlaceExecutable(archive, dir + exeName, x.error)) {
      x.names = {exeName};
      x.ok = true;
    }
  } else if (Inspect(archive, x.names, x.error, maxBytes) && Unpack(archive, dir, x.error, maxBytes)) {
    x.ok = true;
  }
  if (!x.ok) {
    x.names.clear();
    DeleteTree(dir);
  }
  return x;
}

}  // namespace velotag
