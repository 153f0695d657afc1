// One instance per executable name: a lock file in the program folder named
// after the executable, held with flock for the life of the process.
#pragma once

#include <string>

namespace velotag {

class InstanceLock {
 public:
  // Tries to take the lock; Held() tells whether it worked.
  explicit InstanceLock(const std::string& lockFile);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  bool Held() const { return fd_ != -1; }
  // Another process holds it. A lock file that cannot be created at all
  // does not count: the program then runs without the guard.
  bool OtherInstance() const { return otherInstance_; }

 private:
  int fd_ = -1;
  bool otherInstance_ = false;
};

}  // namespace velotag
