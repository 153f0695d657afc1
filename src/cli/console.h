// The terminal side of velotag-cli: results to standard output, status
// lines ("[hh:mm:ss] text", as the window's status log shows them) to
// standard error, and the exit status they add up to. Text carried from
// files or the network never reaches a terminal with its control
// characters: standard error always escapes them (it is for people), standard
// output when it is a terminal (a script reading a pipe gets the bytes).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "progress.h"

namespace velotag::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

class Console {
 public:
  Console(std::FILE* out, std::FILE* err, bool quiet);

  void Print(const std::string& text);
  // A message for the person, not a status line (usage errors).
  void PrintError(const std::string& text);
  void AddStatusLine(const std::string& text);
  // A line that already carries its time stamp (the library's status log).
  void PrintStatusLine(const std::string& line);
  // A line of its own that keeps being rewritten (a rip's progress), drawn
  // as the progress below is.
  void Progress(const std::string& text) {
    if (!quiet_) progress_.Show(text);
  }
  // A status line for a file that failed; the run then ends with 1.
  void FileFailed(const std::string& text);
  bool failed() const { return failed_; }
  // Any output that could not be written is a failure too.
  bool OutputFailed() const;
  // Progress of a long command on standard error when it is a terminal (not
  // with -q); every other output takes the line off first.
  void Progress(std::uint64_t done, std::uint64_t total, std::string_view current);
  void EndProgress() { progress_.Clear(); }

 private:
  std::FILE* out_;
  std::FILE* err_;
  bool outIsTerminal_;
  bool quiet_;
  bool failed_ = false;
  ProgressLine progress_;
};

}  // namespace velotag::cli
