#include "testutil.h"

#include "support/textenc.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <ftw.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
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

class JsonParser {
 public:
  explicit JsonParser(const std::string& s) : s_(s) {}
  Json Parse() {
    Json v = Value();
    Skip();
    if (i_ != s_.size()) Fail("trailing text");
    return v;
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("JSON: ") + what + " at " + std::to_string(i_));
  }
  void Skip() {
    while (i_ < s_.size() && std::strchr(" \t\r\n", s_[i_])) ++i_;
  }
  bool Eat(char c) {
    Skip();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  Json Value() {
    Skip();
    if (i_ >= s_.size()) Fail("end of input");
    Json v;
    char c = s_[i_];
    if (c == '{') {
      ++i_;
      v.type = Json::Type::Object;
      if (Eat('}')) return v;
      do {
        Skip();
        std::string key = String();
        if (!Eat(':')) Fail("expected :");
        v.object[key] = Value();
      } while (Eat(','));
      if (!Eat('}')) Fail("expected }");
    } else if (c == '[') {
      ++i_;
      v.type = Json::Type::Array;
      if (Eat(']')) return v;
      do v.array.push_back(Value());
      while (Eat(','));
      if (!Eat(']')) Fail("expected ]");
    } else if (c == '"') {
      v.type = Json::Type::String;
      v.string = String();
    } else if (s_.compare(i_, 4, "true") == 0) {
      v.type = Json::Type::Bool;
      v.boolean = true;
      i_ += 4;
    } else if (s_.compare(i_, 5, "false") == 0) {
      v.type = Json::Type::Bool;
      i_ += 5;
    } else if (s_.compare(i_, 4, "null") == 0) {
      i_ += 4;
    } else {
      std::size_t start = i_;
      while (i_ < s_.size() && std::strchr("+-0123456789.eE", s_[i_])) ++i_;
      if (start == i_) Fail("unexpected character");
      v.type = Json::Type::Number;
      v.number = std::strtod(s_.substr(start, i_ - start).c_str(), nullptr);
    }
    return v;
  }
  unsigned Hex4() {
    if (i_ + 4 > s_.size()) Fail("short escape");
    unsigned v = static_cast<unsigned>(std::stoul(s_.substr(i_, 4), nullptr, 16));
    i_ += 4;
    return v;
  }
  std::string String() {
    if (i_ >= s_.size() || s_[i_] != '"') Fail("expected string");
    ++i_;
    std::string out;
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      char e = s_[i_++];
      switch (e) {
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'u': {
          unsigned cp = Hex4();
          if (cp >= 0xD800 && cp < 0xDC00 && s_.compare(i_, 2, "\\u") == 0) {
            i_ += 2;
            unsigned lo = Hex4();
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          AppendUtf8(out, cp);
          break;
        }
        default: out.push_back(e);
      }
    }
    if (i_ >= s_.size()) Fail("unterminated string");
    ++i_;
    return out;
  }
  const std::string& s_;
  std::size_t i_ = 0;
};

}  // namespace

Json ParseJson(const std::string& text) { return JsonParser(text).Parse(); }

Json MutagenFields(const std::string& path) {
  ProcessResult r = RunProcess({PythonPath(), ToolPath("mutagen_id3v2.py"), "fields", path});
  if (r.exitCode != 0) throw std::runtime_error("mutagen: " + r.err);
  Json all = ParseJson(r.out);
  return all[path].has("fields") ? all[path]["fields"] : Json();
}

}  // namespace velotag::test
