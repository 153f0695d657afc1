#include "online/decoder.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "support/paths.h"
#include "support/tempfiles.h"

extern char** environ;

namespace velotag {

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Owns the attributes of one posix_spawn call.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

std::string FindExecutable(const std::string& programFolder, const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return {};
  if (!programFolder.empty()) {
    std::string local = WithTrailingSlash(programFolder) + name;
    if (IsExecutableFile(local)) return local;
  }
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  std::size_t pos = 0;
  while (pos <= dirs.size()) {
    std::size_t colon = dirs.find(':', pos);
    if (colon == std::string::npos) colon = dirs.size();
    std::string dir = dirs.substr(pos, colon - pos);
    pos = colon + 1;
    // Only absolute entries: an empty or relative one would mean "wherever
    // the process happens to stand".
    if (dir.empty() || dir[0] != '/') continue;
    std::string candidate = WithTrailingSlash(dir) + name;
    if (IsExecutableFile(candidate)) return candidate;
  }
  return {};
}

int RunProcessAndWait(const std::vector<std::string>& argv, int timeoutMs, const PumpFn& pump,
                      const std::function<bool()>& keepGoing) {
  if (argv.empty()) return -1;
  SpawnSetup setup;
  for (int fd = 0; fd <= 2; ++fd)
    posix_spawn_file_actions_addopen(&setup.actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  // The child starts with no blocked signals and default dispositions,
  // whatever the user interface has set up for itself.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&setup.attr, &none);
  posix_spawnattr_setsigdefault(&setup.attr, &all);
  posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // Should this process be ended by a signal, the decoder goes with it
  // rather than writing on into a file that is being removed: the signals
  // wait until the handler knows it.
  sigset_t ending, before;
  sigemptyset(&ending);
  for (int sig : {SIGTERM, SIGHUP, SIGQUIT, SIGINT}) sigaddset(&ending, sig);
  ::pthread_sigmask(SIG_BLOCK, &ending, &before);
  pid_t pid = 0;
  const bool started =
      ::posix_spawn(&pid, args[0], &setup.actions, &setup.attr, args.data(), environ) == 0;
  const int slot = started ? RememberChildProcess(pid) : -1;
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (!started) return -1;
  auto reap = [&] {
    // Forgotten while it is still ours: once reaped, its ID may be another's.
    ForgetChildProcess(slot);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
  };

  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    siginfo_t info{};
    const int r = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (r == 0 && info.si_pid == pid) {
      const int status = reap();
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (r != 0 && errno != EINTR) {
      ForgetChildProcess(slot);
      return -1;
    }
    if (Clock::now() >= deadline || (keepGoing && !keepGoing())) {
      ::kill(pid, SIGKILL);
      reap();
      return -1;
    }
    if (pump) pump();
    ::poll(nullptr, 0, 10);
  }
}

}  // namespace velotag
