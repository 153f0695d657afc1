// The status log: time-stamped lines, newest last, at most MaxLines kept.
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace velotag {

inline constexpr int kStatusMaxLines = 5000;

// The time of day as "hh:mm:ss", 24-hour.
std::string TimeStampText();

class StatusLog {
 public:
  // Adds one line per CR LF separated piece of text, each trimmed and
  // prefixed with "[hh:mm:ss] " when withTime; returns the lines added.
  std::vector<std::string> Add(const std::string& text, int maxLines = kStatusMaxLines,
                               bool withTime = true);
  const std::deque<std::string>& Lines() const { return lines_; }
  void Clear() { lines_.clear(); }

 private:
  std::deque<std::string> lines_;
};

// The address a double-clicked log line opens: from "http://" (any case) to
// the end, trimmed; empty when the line has none.
std::string StatusLineAddress(const std::string& line);

}  // namespace velotag
