// The terminal side of velotag-cli: results to standard output, status
// lines ("[hh:mm:ss] text", as the window's status log shows them) to
// standard error, and the exit status they add up to.
#pragma once

#include <cstdio>
#include <string>

namespace velotag::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

class Console {
 public:
  Console(std::FILE* out, std::FILE* err, bool quiet) : out_(out), err_(err), quiet_(quiet) {}

  void Print(const std::string& text);
  // A message for the person, not a status line (usage errors).
  void PrintError(const std::string& text);
  void AddStatusLine(const std::string& text);
  // A line that already carries its time stamp (the library's status log).
  void PrintStatusLine(const std::string& line);
  // A line that keeps being rewritten (a rip's progress), on standard
  // error when it is a terminal; EndProgress moves past it.
  void Progress(const std::string& text);
  void EndProgress();
  // A status line for a file that failed; the run then ends with 1.
  void FileFailed(const std::string& text);
  bool failed() const { return failed_; }
  // Any output that could not be written is a failure too.
  bool OutputFailed() const;

 private:
  std::FILE* out_;
  std::FILE* err_;
  bool quiet_;
  bool failed_ = false;
  std::size_t progressWidth_ = 0;
};

}  // namespace velotag::cli
