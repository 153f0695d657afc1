#include "support/tempfiles.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "support/paths.h"

namespace velotag {

namespace {

// A slot is free (0), being filled or emptied (1), or holds a name or
// process the handler acts on (2). Plain atomics: the handler may interrupt
// any thread at any point, and never waits for anything.
constexpr int kFree = 0, kBusy = 1, kHeld = 2;
static_assert(std::atomic<int>::is_always_lock_free);

// Enough for a batch's group of rewrites (128 files) on a file system that
// cannot make nameless files, beside the lookups' few.
constexpr int kFileSlots = 192;
constexpr int kChildSlots = 16;

struct FileSlot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};
struct ChildSlot {
  std::atomic<int> state{kFree};
  pid_t pid = 0;
};

FileSlot gFiles[kFileSlots];
ChildSlot gChildren[kChildSlots];

template <class Slot, std::size_t N, class Fill>
int Take(Slot (&slots)[N], const Fill& fill) {
  for (std::size_t i = 0; i < N; ++i) {
    int expected = kFree;
    if (slots[i].state.compare_exchange_strong(expected, kBusy)) {
      fill(slots[i]);
      slots[i].state.store(kHeld, std::memory_order_release);
      return static_cast<int>(i);
    }
  }
  return -1;
}

template <class Slot, std::size_t N>
void Give(Slot (&slots)[N], int slot) {
  if (slot < 0 || slot >= static_cast<int>(N)) return;
  slots[slot].state.store(kBusy);  // the handler leaves it alone from here on
  slots[slot].state.store(kFree);
}

extern "C" void OnEndingSignal(int sig) { EndBySignal(sig); }

}  // namespace

std::string TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

int RememberTempFile(const std::string& path) {
  if (path.empty() || path.size() >= PATH_MAX) return -1;
  return Take(gFiles, [&](FileSlot& s) { std::memcpy(s.path, path.c_str(), path.size() + 1); });
}

void ForgetTempFile(int slot) { Give(gFiles, slot); }

int CreateRememberedFile(const std::string& path, mode_t mode, int& slot) {
  slot = RememberTempFile(path);
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  } while (fd == -1 && errno == EINTR);
  if (fd == -1) {
    const int error = errno;
    ForgetTempFile(slot);
    slot = -1;
    errno = error;
  }
  return fd;
}

int CreateRememberedUniqueFile(const std::string& folder, const std::string& prefix,
                               const std::string& suffix, std::string& name, int& slot) {
  const std::string base = WithTrailingSlash(folder.empty() ? "." : folder) + prefix;
  for (int tries = 0; tries < 100; ++tries) {
    name = base + RandomNamePart() + suffix;
    const int fd = CreateRememberedFile(name, 0600, slot);
    if (fd != -1 || errno != EEXIST) {
      if (fd == -1) name.clear();
      return fd;
    }
  }
  name.clear();
  return -1;
}

std::string RandomNamePart() {
  static std::atomic<std::uint64_t> counter{0};
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::uint64_t v = (static_cast<std::uint64_t>(now.tv_nsec) << 20) ^
                    static_cast<std::uint64_t>(now.tv_sec) ^
                    (static_cast<std::uint64_t>(::getpid()) << 40) ^
                    (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  static constexpr char kChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string part(6, 'X');
  for (char& c : part) {
    v = v * 6364136223846793005ull + 1442695040888963407ull;
    c = kChars[(v >> 33) % 62];
  }
  return part;
}

int RememberChildProcess(pid_t pid) {
  return pid > 0 ? Take(gChildren, [&](ChildSlot& s) { s.pid = pid; }) : -1;
}

void ForgetChildProcess(int slot) { Give(gChildren, slot); }

void RemoveTempFilesOnSignals() {
  struct sigaction action {};
  action.sa_handler = OnEndingSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGTERM, SIGHUP, SIGQUIT, SIGINT}) {
    struct sigaction old {};
    // A signal the process was started to ignore (nohup) stays ignored.
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(sig, &action, nullptr);
  }
}

void EndBySignal(int sig) {
  // The helpers first: a decoder still starting would otherwise create its
  // output file again after it was removed.
  for (ChildSlot& c : gChildren)
    if (c.state.load(std::memory_order_acquire) == kHeld) ::kill(c.pid, SIGKILL);
  for (FileSlot& f : gFiles)
    if (f.state.load(std::memory_order_acquire) == kHeld) ::unlink(f.path);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(sig, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(sig);
  ::_exit(128 + sig);
}

TempFile TempFile::Create(const std::string& folder, const std::string& prefix,
                          const std::string& suffix) {
  TempFile made;
  const int fd = CreateRememberedUniqueFile(folder, prefix, suffix, made.path_, made.slot_);
  if (fd != -1) ::close(fd);
  return made;
}

TempFile TempFile::CreateOrInTempFolder(const std::string& folder, const std::string& prefix,
                                        const std::string& suffix) {
  TempFile made = Create(folder, prefix, suffix);
  if (made.path().empty()) made = Create(TempFolder(), prefix, suffix);
  return made;
}

TempFile::TempFile(TempFile&& other) noexcept
    : path_(std::move(other.path_)), slot_(std::exchange(other.slot_, -1)) {
  other.path_.clear();
}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
  if (this != &other) {
    reset();
    path_ = std::move(other.path_);
    other.path_.clear();
    slot_ = std::exchange(other.slot_, -1);
  }
  return *this;
}

void TempFile::reset(std::string path) {
  if (!path_.empty()) {
    // Removed while the handler still knows it, so that no moment is left
    // where the file exists and nobody would remove it.
    ::unlink(path_.c_str());
    ForgetTempFile(slot_);
  }
  path_ = std::move(path);
  slot_ = path_.empty() ? -1 : RememberTempFile(path_);
}

std::string TempFile::release() {
  ForgetTempFile(slot_);
  slot_ = -1;
  return std::exchange(path_, std::string());
}

}  // namespace velotag
