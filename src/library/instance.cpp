#include "library/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace velotag {

InstanceLock::InstanceLock(const std::string& lockFile) {
  int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd == -1) return;
  // The kernel drops the lock with the process, so a crash never leaves a
  // stale lock behind.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    otherInstance_ = errno == EWOULDBLOCK;
    ::close(fd);
    return;
  }
  fd_ = fd;
}

InstanceLock::~InstanceLock() {
  if (fd_ != -1) ::close(fd_);
}

}  // namespace velotag
