#include "testutil.h"

#include <gtest/gtest.h>

#include "support/textenc.h"

#include <grp.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velotag::test {

TempDir::TempDir() {
  const char* tmp = std::getenv("TMPDIR");
  path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/velotag-test-XXXXXX";
  if (::mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ += "/";
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
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << f.rdbuf();
  return ToBytes(text.str());
}

std::string ReadFileText(const std::string& path, const std::string& missing) {
  if (!std::filesystem::is_regular_file(path)) return missing;
  const Bytes b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                         const std::map<std::string, std::string>& env) {
  // Pipes, not files: a file size limit set for the child must not cut its messages short.
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e)
    if (const std::string entry = *e; !env.count(entry.substr(0, entry.find('='))))
      envStrings.push_back(entry);
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (std::string& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  for (int fd : {in[0], out[1], err[1]}) ::close(fd);
  // A thread for each stream, so that a child blocked on one never waits for us on another.
  ProcessResult result;
  auto drain = [](int fd, std::string& to) {
    char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
      to.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
  };
  std::thread feed([&] {
    std::string_view rest = rc == 0 ? std::string_view(input) : "";
    for (ssize_t n; !rest.empty() && (n = ::write(in[1], rest.data(), rest.size())) > 0;)
      rest.remove_prefix(static_cast<std::size_t>(n));
    ::close(in[1]);
  });
  std::thread errors(drain, err[0], std::ref(result.err));
  drain(out[0], result.out);
  feed.join();
  errors.join();
  if (rc != 0) {
    result.err = std::string("spawn failed: ") + std::strerror(rc);
    return result;
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status))
    result.exitCode = WEXITSTATUS(status);
  else
    result.exitCode = 128 + WTERMSIG(status);
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
  void SkipSpace() {
    while (i < s.size() && std::strchr(" \t\r\n", s[i])) ++i;
  }
  bool Eat(char c) {
    SkipSpace();
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
    } else if (s.compare(i, 4, "null") == 0) {
      i += 4;
    } else if (s.compare(i, 4, "true") == 0 || s.compare(i, 5, "false") == 0) {
      v.type = Json::Type::Bool;
      v.boolean = s[i] == 't';
      i += v.boolean ? 4 : 5;
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
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (i >= s.size()) Fail("unterminated string");
      switch (const char e = s[i++]) {
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'u': {
          unsigned cp = Hex4();
          if (cp >= 0xD800 && cp < 0xDC00 && s.compare(i, 2, "\\u") == 0) {
            i += 2;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (Hex4() - 0xDC00);
          }
          AppendUtf8(out, cp);
          break;
        }
        default: out.push_back(e);  // \" \\ \/
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
  p.SkipSpace();
  if (p.i != text.size()) p.Fail("trailing text");
  return v;
}

Json Mutagen(const std::string& command, std::vector<std::string> args) {
  args.insert(args.begin(), {PythonPath(), ToolPath("mutagen_id3v2.py"), command});
  const ProcessResult r = RunProcess(args);
  if (r.exitCode != 0) throw std::runtime_error("mutagen_id3v2.py " + command + ": " + r.err);
  return r.out.empty() ? Json{} : ParseJson(r.out);
}

Json MutagenFields(const std::string& path) { return Mutagen("fields", {path})[path]["fields"]; }

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
