// Helpers shared by the test binaries: temporary folders, whole-file bytes,
// running a process with an argument vector, and a small JSON reader for the
// answers of the Python oracle scripts.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velotag::test {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under $TMPDIR, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // With a trailing "/".
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

void WriteFileBytes(const std::string& path, const Bytes& bytes);
void WriteFileText(const std::string& path, const std::string& text);
Bytes ReadFileBytes(const std::string& path);
// The whole file as text; missing when there is no such regular file.
std::string ReadFileText(const std::string& path, const std::string& missing = "");
Bytes ToBytes(const std::string& s);

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = "",
                         const std::map<std::string, std::string>& env = {});

// Runs body as an unprivileged user (nobody) in a child process when the
// tests run as root, so that permission checks hold; returns body's answer.
bool RunUnprivileged(const std::function<bool()>& body);
// Lets an unprivileged child into the folder.
void OpenToEveryone(const std::string& path);

// The Python with mutagen, and the folders of the test tools and data.
std::string PythonPath();
std::string ToolPath(const std::string& name);
std::string DataPath(const std::string& relative);

struct Json {
  enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<Json> array;
  std::map<std::string, Json> object;

  const Json& operator[](const std::string& key) const;
  const Json& operator[](std::size_t i) const { return array.at(i); }
  bool has(const std::string& key) const { return object.count(key) != 0; }
  bool isNull() const { return type == Type::Null; }
};
// Throws std::runtime_error on malformed input (tests only).
Json ParseJson(const std::string& text);

// The next scripted answer of a fake dialog; a default value when none is left.
template <class T>
T PopFront(std::deque<T>& queue) {
  if (queue.empty()) return T();
  T value = std::move(queue.front());
  queue.pop_front();
  return value;
}

// The inode of the file a name leads to; the permission bits of the name itself.
unsigned long InodeOf(const std::string& path);
unsigned ModeOf(const std::string& path);
// The names in a folder (without the folder), sorted; a check that nothing was left behind.
std::vector<std::string> FolderNames(const std::string& folder);
// PythonPath() running tools/<script> with args: its output, a failure when it exits non-zero.
std::string RunTool(const std::string& script, std::vector<std::string> args);

// tools/mutagen_id3v2.py's JSON answer to command (read, fields, write) with args;
// a null Json when it prints nothing. Throws when the script fails.
Json Mutagen(const std::string& command, std::vector<std::string> args);
// The 16 media-list fields of an MP3 as mutagen reads them; a null Json when
// mutagen finds no tag.
Json MutagenFields(const std::string& path);

}  // namespace velotag::test
