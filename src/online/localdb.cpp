#include "online/localdb.h"

#include <sys/stat.h>

#include <algorithm>

#include "support/strutil.h"
#include "support/ini.h"
#include "support/largefile.h"
#include "support/paths.h"
#include "support/textenc.h"

namespace velotag {

namespace {

bool IsAnswerLine(const std::string& line, const std::vector<std::string>& keys) {
  std::string key = AsciiLower(line.substr(0, 4));
  for (const std::string& k : keys)
    if (key == k) return true;
  return false;
}

std::string LeftTrimSpaces(const std::string& s) {
  std::size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b);
}

}  // namespace

bool AddDBSection(const std::string& dbFile, const std::string& sectionText) {
  return AddDBSection(dbFile, sectionText, {"art=", "ttl=", "uid="});
}

bool AddDBSection(const std::string& dbFile, const std::string& sectionText,
                  const std::vector<std::string>& keys) {
  if (sectionText.empty()) return false;
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos <= sectionText.size()) {
    std::size_t eol = sectionText.find("\r\n", pos);
    if (eol == std::string::npos) eol = sectionText.size();
    std::string line = TrimSpaces(sectionText.substr(pos, eol - pos));
    pos = eol + 2;
    if (!line.empty()) lines.push_back(line);
  }
  if (lines.empty() || lines[0][0] != '[' || lines[0].find(']', 2) == std::string::npos)
    return false;
  std::string text = lines[0] + "\r\n";
  int used = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (!IsAnswerLine(lines[i], keys)) continue;
    text += EscapeIniValue(lines[i]) + "\r\n";
    ++used;
  }
  if (used < 2 || !LocalDbProblem(dbFile).empty()) return false;
  FileSetAttributes(dbFile, 0);
  // Append mode puts CR LF before the text when the file already holds data.
  return WriteTextFile(dbFile, text, kWriteAppend, false) == 1;
}

std::int32_t GetDBSection(const std::string& dbFile, const std::string& sectionName,
                          std::vector<std::string>& lines) {
  lines.clear();
  std::string name = sectionName;
  if (std::size_t open = name.find('['); open != std::string::npos) {
    name = name.substr(open + 1);
    name = name.substr(0, name.find(']'));
  }
  name = TrimSpaces(name);
  if (name.empty() || dbFile.empty()) return -1;
  // Reading leaves the file's permissions alone.
  Offset64 size = -1;
  FileHandle file = OpenRead(dbFile, &size);
  if (!file.valid() || size > kMaxLocalDbBytes) return 0;

  bool inSection = false, finished = false;
  // One line: false once the wanted section has ended.
  auto takeLine = [&](const std::string& raw) {
    std::string line = LeftTrimSpaces(AnsiToString(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()));
    if (line.empty()) return true;
    std::size_t close = line.find(']', 1);
    if (line[0] == '[' && close != std::string::npos) {
      if (inSection) return false;
      inSection = TextEquals(line.substr(1, close - 1), name);
      return true;
    }
    if (inSection && line[0] != ';' && line.find('=', 1) != std::string::npos)
      lines.push_back(UnescapeIniValue(line));
    return true;
  };

  // A line ends only at CR immediately followed by LF; other CR and LF bytes
  // are dropped from the line. Only the bytes the file held when it was
  // opened are read.
  std::string current;
  bool pendingCr = false, overlong = false;
  char block[65536];
  Offset64 left = size;
  while (!finished && left > 0) {
    std::size_t want = static_cast<std::size_t>(std::min<Offset64>(left, sizeof block));
    std::size_t n = LargeFileRead(file.get(), block, want);
    if (n == 0) break;
    left -= static_cast<Offset64>(n);
    for (std::size_t i = 0; i < n && !finished; ++i) {
      char c = block[i];
      if (pendingCr && c == '\n') {
        pendingCr = false;
        if (!overlong) finished = !takeLine(current);
        overlong = false;
        current.clear();
        continue;
      }
      pendingCr = c == '\r';
      if (c == '\r' || c == '\n' || overlong) continue;
      if (current.size() == kMaxLocalDbLine) {
        overlong = true;
        current.clear();
        continue;
      }
      current.push_back(c);
    }
    if (n < want) break;
  }
  if (!finished && !overlong && !current.empty()) takeLine(current);
  return static_cast<std::int32_t>(lines.size());
}

std::string LocalDbProblem(const std::string& dbFile) {
  const std::string name = GetFileNamePart(dbFile);
  struct stat st {};
  if (dbFile.empty() || ::stat(dbFile.c_str(), &st) != 0) return {};
  if (!S_ISREG(st.st_mode)) return name + " is not a regular file: it is not used";
  if (st.st_size > kMaxLocalDbBytes) return name + " is larger than 1 GB: it is not used";
  return {};
}

}  // namespace velotag
