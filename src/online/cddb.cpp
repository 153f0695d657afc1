#include "online/cddb.h"

#include <cstdio>
#include <unordered_map>

#include "online/http.h"
#include "support/largefile.h"
#include "support/numtext.h"
#include "support/strutil.h"
#include "support/tempfiles.h"
#include "support/textenc.h"

namespace velotag {

namespace {

// A whole disc's record is a few kilobytes; a server that sends without end
// must not fill the disk.
constexpr std::int64_t kMaxAnswerBytes = 4 << 20;

constexpr const char* kCategories[kCddbCategoryCount] = {
    "data", "folk", "jazz", "misc", "rock", "country",
    "blues", "newage", "reggae", "classical", "soundtrack"};

constexpr const char* kXmcdKeys[] = {"DISCID", "DTITLE", "DYEAR",  "DGENRE",   "TTITLE",
                                     "TARTIST", "EXTD",   "EXTT",   "PLAYORDER"};

int Seconds(const TocEntry& e) { return e.minutes * 60 + e.seconds; }

int DigitSum(int n) {
  int sum = 0;
  for (; n > 0; n /= 10) sum += n % 10;
  return sum;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// The status code: the digits the first line starts with.
std::int32_t StatusCode(const std::string& line) {
  std::size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  std::int32_t code = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9' && code < 100000; ++i)
    code = code * 10 + (line[i] - '0');
  return code;
}

bool ReadAnswer(const std::string& path, std::string& text) {
  Offset64 size = 0;
  FileHandle h = OpenRead(path, &size);
  if (!h.valid() || size < 0 || size > kMaxAnswerBytes) return false;
  text.resize(static_cast<std::size_t>(size));
  return LargeFileRead(h.get(), text.data(), text.size()) == text.size();
}

}  // namespace

std::string CddbDiscId(const std::vector<TocEntry>& toc) {
  if (toc.size() < 2) return {};
  const std::size_t tracks = toc.size() - 1;
  int sum = 0;
  for (std::size_t i = 0; i < tracks; ++i) sum += DigitSum(Seconds(toc[i]));
  const std::uint32_t total = static_cast<std::uint32_t>(Seconds(toc.back()) - Seconds(toc.front()));
  const std::uint32_t id = (static_cast<std::uint32_t>(sum % 255) << 24) | (total << 8) |
                           static_cast<std::uint32_t>(tracks);
  char text[9];
  std::snprintf(text, sizeof text, "%08x", id);
  return text;
}

std::string CddbQueryText(const std::vector<TocEntry>& toc) {
  std::string id = CddbDiscId(toc);
  if (id.empty()) return {};
  std::string text = "cddb query " + id + " " + std::to_string(toc.size() - 1);
  for (std::size_t i = 0; i + 1 < toc.size(); ++i) text += " " + std::to_string(TocFrames(toc[i]));
  text += " " + std::to_string(RoundHalfEven(TocFrames(toc.back()) / double(kFramesPerSecond)));
  return text;
}

std::string CddbReadCommand(const std::string& discId, const std::string& category) {
  if (discId.empty()) return {};
  std::string c = TrimSpaces(category);
  return "cddb read " + (c.empty() ? std::string("misc") : c) + " " + discId;
}

std::string CddbCategoryName(int index) {
  return kCategories[(index >= 0 && index < kCddbCategoryCount) ? index : 3];
}

bool IsXmcdKey(const std::string& key) {
  for (const char* k : kXmcdKeys)
    if (StartsWithNoCase(key, k)) return true;
  return false;
}

std::string CddbHello(const std::string& email, int proto, const std::string& version) {
  std::string user = kCddbHelloUser, host = kCddbHelloHost;
  const std::string address = TrimSpaces(email);
  const std::size_t at = address.rfind('@');
  // The four fields are separated by blanks: an address holding one
  // cannot stand in for them.
  if (at != std::string::npos && at > 0 && at + 1 < address.size() &&
      address.find_first_of(" \t") == std::string::npos) {
    user = address.substr(0, at);
    host = address.substr(at + 1);
  }
  const std::string client =
      proto < 2 ? ReplaceAll(kCddbClientName, " ", "") : "\"" + std::string(kCddbClientName) + "\"";
  return user + " " + host + " " + client + " " + version;
}

std::string CddbServerUrl(const std::string& server) {
  std::string s = TrimSpaces(server);
  if (s.empty()) s = kCddbDefaultServer;
  const std::size_t scheme = s.find("://");
  if (scheme == std::string::npos) return "http://" + s + kCddbPath;
  // A base URL without a path gets the CGI's.
  if (s.find('/', scheme + 3) == std::string::npos) s += kCddbPath;
  return s;
}

CddbResponse ParseCddbResponse(const std::string& text) {
  CddbResponse r;
  // Level 6 answers are UTF-8; a server at a lower level may send Latin-1,
  // which the lenient decoder keeps as Latin-1.
  const std::string body = Utf8BytesToString(reinterpret_cast<const std::uint8_t*>(text.data()),
                                             text.size());
  std::vector<std::string> lines;
  const std::string trimmed = Trim(body);
  for (std::size_t pos = 0; pos <= trimmed.size();) {
    std::size_t nl = trimmed.find('\n', pos);
    if (nl == std::string::npos) nl = trimmed.size();
    std::string line = trimmed.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    pos = nl + 1;
  }
  r.message = lines.front();
  r.code = StatusCode(r.message);
  const int codeClass = r.code / 100;
  if (codeClass == 0) r.message = kCddbInternalError;
  if (codeClass != 2) return r;
  std::unordered_map<std::string, std::size_t> lineOfKey;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string line = Trim(lines[i]);
    if (line.empty()) continue;
    if (line == ".") break;
    if (line[0] == '#') continue;
    const std::size_t eq = line.find('=');
    const std::string key = eq == std::string::npos ? std::string() : Trim(line.substr(0, eq));
    if (eq == std::string::npos || !IsXmcdKey(key)) {
      r.lines.emplace_back(std::string(), line);
      continue;
    }
    // A long value goes on over several lines of the same key. Keys are
    // looked up folded once: comparing with every line before made an
    // answer of 20000 titles take minutes.
    auto [it, isNew] = lineOfKey.emplace(CaseFold(key), r.lines.size());
    if (isNew) {
      r.lines.emplace_back(key, line);
    } else {
      r.lines[it->second].second += line.substr(eq + 1);
    }
  }
  r.lineCount = static_cast<std::int32_t>(r.lines.size());
  return r;
}

CddbResponse CddbRequest(const std::string& command, int proto, int server,
                         const CddbClient& client) {
  CddbResponse r;
  if (command.empty() || server < 0 || server > 1) return r;
  const std::vector<NameValue> pairs = {
      {"cmd", command},
      {"hello", CddbHello(client.email, proto, client.clientVersion)},
      {"proto", std::to_string(proto)}};
  const std::string query = BuildQueryString(pairs, true);
  std::string url = CddbServerUrl(client.servers[static_cast<std::size_t>(server)]) + "?" + query;
  // Removed however the request ends.
  TempFile answer = TempFile::Create(TempFolder(), "QRN", "");
  std::string local = answer.path();
  std::string cookies, text;
  bool keepGoing = true;
  if (local.empty() ||
      !HttpDownload(url, local, client.timeoutMs, 5, keepGoing, true, kMaxAnswerBytes, query,
                    cookies, "", client.pump) ||
      !ReadAnswer(local, text)) {
    r.message = kCddbConnectionError;
    return r;
  }
  return ParseCddbResponse(text);
}

}  // namespace velotag
