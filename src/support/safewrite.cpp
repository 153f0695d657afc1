#include "support/safewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "support/paths.h"

namespace velotag {

std::string TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

int CreateUniqueFile(const std::string& folder, const std::string& prefix,
                     const std::string& suffix, std::string& name) {
  name.clear();
  std::string pattern = (folder.empty() ? std::string("./") : WithTrailingSlash(folder)) + prefix +
                        "XXXXXX" + suffix;
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  int fd = ::mkostemps(buf.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
  if (fd != -1) name = buf.data();
  return fd;
}

void SyncFolderOf(const std::string& fileName) {
  const std::string folder = GetFolderPart(fileName);
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd == -1) return;
  ::fsync(fd);
  ::close(fd);
}

FileReplacement::FileReplacement(const std::string& target) : target_(target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
      ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    // The link stays a link: its file is the one replaced.
    if (char* real = ::realpath(target.c_str(), nullptr)) {
      target_ = real;
      std::free(real);
    }
  }
  if (::lstat(target_.c_str(), &st) != 0) {
    if (errno != ENOENT) return;
    int fd;
    do {
      fd = ::open(target_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd == -1 && errno == EINTR);
    file_.reset(fd);
    // Only a file made here is removed on failure, never one that appeared
    // under the name in the meantime.
    if (file_.valid()) kind_ = Kind::Created;
    return;
  }
  if (S_ISREG(st.st_mode)) {
    // Hidden, and short enough beside a name of the longest length.
    std::string folder = GetFolderPart(target_);
    file_.reset(CreateUniqueFile(folder.empty() ? "./" : folder, ".velotag-", ".tmp", temp_));
    if (file_.valid()) {
      (void)::fchown(file_.get(), st.st_uid, st.st_gid);
      (void)::fchmod(file_.get(), st.st_mode & 07777);
      kind_ = Kind::Replacing;
      return;
    }
  }
  // A device, a pipe, a dangling link, or a folder we may not create
  // files in: written where it is, as before.
  file_.reset(LargeFileOpen(target, false, true, true, false, kCreateAlways));
  kind_ = Kind::Direct;
}

FileReplacement::~FileReplacement() {
  if (done_) return;
  file_.reset();
  if (kind_ == Kind::Replacing && !temp_.empty()) ::unlink(temp_.c_str());
  if (kind_ == Kind::Created) ::unlink(target_.c_str());
}

bool FileReplacement::Commit() {
  if (!file_.valid() || done_) return false;
  if (kind_ == Kind::Direct) {
    done_ = true;
    return ::close(file_.release()) == 0;
  }
  if (!LargeFileFlush(file_.get()) || ::close(file_.release()) != 0) return false;
  if (kind_ == Kind::Replacing && ::rename(temp_.c_str(), target_.c_str()) != 0) return false;
  done_ = true;
  SyncFolderOf(target_);
  return true;
}

bool ReplaceFileBytes(const std::string& fileName, const Bytes& bytes) {
  FileReplacement out(fileName);
  return out.fd() != -1 &&
         LargeFileWrite(out.fd(), bytes.data(), bytes.size()) == bytes.size() &&
         out.Commit();
}

}  // namespace velotag
