#include "support/filelock.h"

#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>

namespace velotag {

LockResult LockFileAtName(FileHandle& file, const std::string& path, bool forWrite,
                          Offset64& size, const LockWait& wait) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(wait.timeoutMs);
  while (file.valid()) {
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) return LockResult::Failed;
      if (Clock::now() >= deadline || (wait.whileBusy && !wait.whileBusy()))
        return LockResult::Busy;
      ::poll(nullptr, 0, 5);
      continue;
    }
    struct stat held {}, named {};
    if (::fstat(file.get(), &held) != 0) return LockResult::Failed;
    if (::stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino) {
      size = static_cast<Offset64>(held.st_size);
      return LockResult::Locked;
    }
    // The writer we waited for put a new file in its place: that one is
    // the file now, and its lock the one to have. (Let go explicitly: the
    // handle may share its open file with another that stays.)
    ::flock(file.get(), LOCK_UN);
    file = forWrite ? OpenReadWrite(path, &size) : OpenRead(path, &size);
  }
  return LockResult::Failed;
}

}  // namespace velotag
