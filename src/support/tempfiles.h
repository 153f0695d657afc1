// Files this process makes for a moment (decoded audio, downloaded answers,
// temporary copies) and the helper programs it starts: none may outlive it.
// Their owners remove them when done; should the process be ended by a
// signal, the handler removes them too. A handler may only do
// async-signal-safe work, so the names sit in a fixed table of their own,
// which the handler walks with unlink and kill.
#pragma once

#include <sys/types.h>

#include <string>

namespace velotag {

// $TMPDIR, else "/tmp".
std::string TempFolder();

// A file created by this process, removed when the object goes: whatever
// way the owner leaves, and by the signal handler should the process end by
// a signal meanwhile.
class TempFile {
 public:
  TempFile() = default;
  explicit TempFile(std::string path) { reset(std::move(path)); }
  // A new empty file folder/prefix + six characters + suffix, of a name no
  // one else holds, known to the handler from before it exists; none (an
  // empty path) when it cannot be made.
  static TempFile Create(const std::string& folder, const std::string& prefix,
                         const std::string& suffix);
  // The same in the folder, else in the temporary folder.
  static TempFile CreateOrInTempFolder(const std::string& folder, const std::string& prefix,
                                       const std::string& suffix);
  ~TempFile() { reset(); }
  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&& other) noexcept;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Removes the file held so far and takes `path` ("" for none).
  void reset(std::string path = {});
  // Keeps the file: neither the owner nor the handler removes it.
  std::string release();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int slot_ = -1;
};

// A slot in the table for a file the handler is to remove, -1 when the
// table is full or the name too long (the owner still removes it). Forget
// before the name may stand for anything else (renamed, removed).
int RememberTempFile(const std::string& path);
void ForgetTempFile(int slot);

// A new file `path` (never one that exists), opened for reading and
// writing and entered in the table before it is made, so that no moment is
// left where it exists unknown to the handler; -1 with errno set when it
// cannot be made. `slot` receives its slot (-1 when not entered).
int CreateRememberedFile(const std::string& path, mode_t mode, int& slot);
// The same under a new name folder/prefix + six characters + suffix, mode
// 0600; `name` receives it.
int CreateRememberedUniqueFile(const std::string& folder, const std::string& prefix,
                               const std::string& suffix, std::string& name, int& slot);
// Six characters for a name of one's own.
std::string RandomNamePart();

// The same for a helper program the handler is to kill. Forget it before it
// is reaped: afterwards its process ID may be another program's.
int RememberChildProcess(pid_t pid);
void ForgetChildProcess(int slot);

// From now on SIGTERM, SIGHUP, SIGQUIT and SIGINT end the process as they
// always did, after the handler has killed the helper programs and removed
// the files of the table. A program that handles SIGINT itself (the CLI's
// STOP) installs its handler afterwards and puts this one back when done.
void RemoveTempFilesOnSignals();
// What that handler does, for a handler of the program's own: kills the
// helpers, removes the files, then ends the process by `sig` as its default
// action would. Async-signal-safe.
[[noreturn]] void EndBySignal(int sig);

}  // namespace velotag
