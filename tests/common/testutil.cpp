#include "testutil.h"

#include <gtest/gtest.h>

#include "support/textenc.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <algorithm>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace velotag::test {

TempDir::TempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velotag-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(buf.data()) + "/";
}

TempDir::~TempDir() {
  // Tests may leave read-only files and folders behind; make them removable.
  ::nftw(
      path_.c_str(),
      [](const char* p, const struct stat*, int type, struct FTW*) {
        if (type == FTW_D || type == FTW_DP) ::chmod(p, 0700);
        return 0;
      },
      16, FTW_PHYS);
  ::nftw(
      path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); },
      16, FTW_DEPTH | FTW_PHYS);
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

void WriteFileText(const std::string& path, const std::string& text) {
  WriteFileBytes(path, ToBytes(text));
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  if (!f) throw std::runtime_error("cannot read " + path);
  Bytes bytes(static_cast<std::size_t>(f.tellg()));
  f.seekg(0);
  f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                         const std::map<std::string, std::string>& env) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (::pipe2(inPipe, O_CLOEXEC) || ::pipe2(outPipe, O_CLOEXEC) || ::pipe2(errPipe, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    if (!env.count(key)) envStrings.push_back(entry);
  }
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (std::string& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  ProcessResult result;
  if (rc != 0) {
    ::close(inPipe[1]);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    result.err = std::string("spawn failed: ") + std::strerror(rc);
    return result;
  }
  std::size_t written = 0;
  if (input.empty()) {
    ::close(inPipe[1]);
    inPipe[1] = -1;
  }
  ::fcntl(inPipe[1], F_SETFL, O_NONBLOCK);
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {inPipe[1], POLLOUT, 0}};
    if (!outOpen) fds[0].fd = -1;
    if (!errOpen) fds[1].fd = -1;
    ::poll(fds, 3, -1);
    char buf[65536];
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
        ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
        if (n <= 0) {
          (i == 0 ? outOpen : errOpen) = false;
        } else {
          (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
        }
      }
    }
    if (inPipe[1] >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t n = ::write(inPipe[1], input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n < 0 || written == input.size()) {
        ::close(inPipe[1]);
        inPipe[1] = -1;
      }
    }
  }
  if (inPipe[1] >= 0) ::close(inPipe[1]);
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

bool RunUnprivileged(const std::function<bool()>& body) {
  if (::geteuid() != 0) return body();
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const gid_t nobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
      ::_exit(3);
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void OpenToEveryone(const std::string& path) { ::chmod(path.c_str(), 0777); }

std::string PythonPath() { return VELOTAG_TEST_PYTHON; }
std::string ToolPath(const std::string& name) { return std::string(VELOTAG_TEST_TOOLS) + "/" + name; }
std::string DataPath(const std::string& relative) {
  return std::string(VELOTAG_TEST_DATA) + "/" + relative;
}

const Json& Json::operator[](const std::string& key) const {
  static const Json kNull;
  auto it = object.find(key);
  return it == object.end() ? kNull : it->second;
}

namespace {

// Enough JSON for the answers of our own tools: no validation beyond what
// finding the end of each value needs.
struct JsonParser {
  const std::string& s;
  std::size_t i = 0;

  [[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("JSON: ") + what + " at " + std::to_string(i));
  }
  bool Eat(char c) {
    while (i < s.size() && std::strchr(" \t\r\n", s[i])) ++i;
    if (i >= s.size() || s[i] != c) return false;
    ++i;
    return true;
  }
  Json Value() {
    Json v;
    if (Eat('{')) {
      v.type = Json::Type::Object;
      if (!Eat('}')) {
        do {
          if (!Eat('"')) Fail("expected a key");
          const std::string key = String();
          if (!Eat(':')) Fail("expected :");
          v.object[key] = Value();
        } while (Eat(','));
        if (!Eat('}')) Fail("expected }");
      }
    } else if (Eat('[')) {
      v.type = Json::Type::Array;
      if (!Eat(']')) {
        do v.array.push_back(Value());
        while (Eat(','));
        if (!Eat(']')) Fail("expected ]");
      }
    } else if (Eat('"')) {
      v.type = Json::Type::String;
      v.string = String();
    } else if (s.compare(i, 4, "null") == 0 || s.compare(i, 4, "true") == 0) {
      v.type = s[i] == 'n' ? Json::Type::Null : Json::Type::Bool;
      v.boolean = s[i] == 't';
      i += 4;
    } else if (s.compare(i, 5, "false") == 0) {
      v.type = Json::Type::Bool;
      i += 5;
    } else {
      const std::size_t start = i;
      while (i < s.size() && std::strchr("+-0123456789.eE", s[i])) ++i;
      if (start == i) Fail("unexpected character");
      v.type = Json::Type::Number;
      v.number = std::strtod(s.substr(start, i - start).c_str(), nullptr);
    }
    return v;
  }
  unsigned Hex4() {
    if (i + 4 > s.size()) Fail("short escape");
    i += 4;
    return static_cast<unsigned>(std::stoul(s.substr(i - 4, 4), nullptr, 16));
  }
  // After the opening quote.
  std::string String() {
    std::string out;
    while (i < s.size() && s[i] != '"') {
      const char c = s[i++];
      const char e = c == '\\' && i < s.size() ? s[i++] : 0;
      if (c != '\\') {
        out.push_back(c);
      } else if (e == 'u') {
        unsigned cp = Hex4();
        if (cp >= 0xD800 && cp < 0xDC00 && s.compare(i, 2, "\\u") == 0) {
          i += 2;
          cp = 0x10000 + ((cp - 0xD800) << 10) + (Hex4() - 0xDC00);
        }
        AppendUtf8(out, cp);
      } else {
        const char* from = "nrtbf";
        const char* at = std::strchr(from, e);
        out.push_back(at && e ? "\n\r\t\b\f"[at - from] : e);
      }
    }
    if (i++ >= s.size()) Fail("unterminated string");
    return out;
  }
};

}  // namespace

Json ParseJson(const std::string& text) {
  JsonParser p{text};
  Json v = p.Value();
  p.Eat(' ');  // past trailing white space
  if (p.i != text.size()) p.Fail("trailing text");
  return v;
}

Json MutagenFields(const std::string& path) {
  ProcessResult r = RunProcess({PythonPath(), ToolPath("mutagen_id3v2.py"), "fields", path});
  if (r.exitCode != 0) throw std::runtime_error("mutagen: " + r.err);
  Json all = ParseJson(r.out);
  return all[path].has("fields") ? all[path]["fields"] : Json();
}

}  // namespace velotag::test

namespace velotag::test {

unsigned long InodeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string RunTool(const std::string& script, std::vector<std::string> args) {
  args.insert(args.begin(), {PythonPath(), ToolPath(script)});
  ProcessResult r = RunProcess(args);
  if (r.exitCode != 0) ADD_FAILURE() << script << ": " << r.err;
  return r.out;
}

}  // namespace velotag::test
