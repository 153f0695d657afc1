#include "library/statuslog.h"

#include <cstdio>
#include <ctime>

#include "library/ui.h"
#include "support/strutil.h"

namespace velotag {

std::string TimeStampText() {
  std::time_t now = std::time(nullptr);
  std::tm tm {};
  ::localtime_r(&now, &tm);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::vector<std::string> StatusLog::Add(const std::string& text, int maxLines, bool withTime) {
  std::vector<std::string> added;
  if (text.empty()) return added;
  std::string prefix = withTime ? "[" + TimeStampText() + "] " : "";
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find("\r\n", start);
    std::string piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    added.push_back(prefix + TrimBlanks(piece));
    lines_.push_back(added.back());
    if (end == std::string::npos) break;
    start = end + 2;
  }
  if (maxLines >= 1)
    while (lines_.size() > static_cast<std::size_t>(maxLines)) lines_.pop_front();
  return added;
}

std::string StatusLineAddress(const std::string& line) {
  static const char kHttp[] = "http://";
  for (std::size_t i = 0; i + 7 <= line.size(); ++i) {
    bool match = true;
    for (std::size_t k = 0; k < 7 && match; ++k) {
      char c = line[i + k];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      match = c == kHttp[k];
    }
    if (match) return TrimBlanks(line.substr(i));
  }
  return {};
}

std::string TimedMessageTitle(const std::string& title, int timeoutMs) {
  // Whole tenths, so that no locale can turn the point into a comma.
  int tenths = (timeoutMs + 50) / 100;
  char buf[32];
  std::snprintf(buf, sizeof buf, "[%02d.%d s] ", tenths / 10, tenths % 10);
  return buf + title;
}

}  // namespace velotag
