// A progress line for long commands on a terminal: how many of how many are
// done, the rate, and what is being worked on, redrawn in place on one line
// the way the window's "WORKING: n %" caption runs. Nothing is drawn when the
// stream is not a terminal, so pipes and log files get only the status lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace velotag::cli {

class ProgressLine {
 public:
  // unit names what is counted ("files", "tracks").
  explicit ProgressLine(std::FILE* stream, std::string unit = "files");
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // False when the stream is not a terminal: Update then draws nothing.
  bool Enabled() const { return enabled_; }
  // done of total are finished and current (a path or a name) is next. The
  // rate counts from the first update of a run; a smaller done or another
  // total starts a new run.
  void Update(std::uint64_t done, std::uint64_t total, std::string_view current);
  // A line of the caller's own (a rip's "[ drive ] [ Track01 ] [ 42.0 % ]").
  void Show(std::string_view text);
  // Takes the line off the screen; call it before writing anything else to
  // the terminal. The next Update draws it again.
  void Clear();

 private:
  void Draw(const std::string& line);
  std::FILE* stream_;
  std::string unit_;
  bool enabled_;
  bool shown_ = false;
  std::uint64_t lastDone_ = 0, lastTotal_ = 0;
  std::chrono::steady_clock::time_point start_, lastDraw_;
};

// The line's text, at most width characters: "12/250 files  4.8 %  3.1 files/s
// name.mp3". rate < 0 leaves the rate out (too early to tell); current is
// shown by its file name, cut from the left when the line is too long.
std::string FormatProgress(std::uint64_t done, std::uint64_t total, double rate,
                           std::string_view unit, std::string_view current, std::size_t width);

}  // namespace velotag::cli
