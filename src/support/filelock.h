// The advisory lock (flock) every writer of an MP3 file takes on the file
// itself, from reading its tag to the end of the write: two programs (two
// windows, scripts beside the window) never write one file at once, and
// none writes from content another has changed meanwhile.
#pragma once

#include <functional>
#include <string>

#include "support/largefile.h"

namespace velotag {

// How long a writer waits for another to finish with a file.
struct LockWait {
  int timeoutMs = 10000;
  // Runs while another holds the lock, every few milliseconds (the first
  // time before any waiting); false gives up at once.
  std::function<bool()> whileBusy;
};

enum class LockResult {
  Locked,
  Busy,    // another writer held it for the whole wait
  Failed,  // the file system refused the lock, or the name no longer opens
};

// Takes the exclusive lock of the file open as `file` under the name `path`.
// Another writer may have replaced the file by a rename while this one
// waited: then the name is opened again (for writing too when `forWrite`)
// and that file locked, so that the file locked is always the one the name
// leads to. `file` holds the file in the end (invalid when the name no
// longer opens), `size` its size once locked.
LockResult LockFileAtName(FileHandle& file, const std::string& path, bool forWrite,
                          Offset64& size, const LockWait& wait);

}  // namespace velotag
