#include "console.h"

#include <unistd.h>

#include <ctime>

#include "terminal_text.h"

namespace velotag::cli {

Console::Console(std::FILE* out, std::FILE* err, bool quiet)
    : out_(out), err_(err), outIsTerminal_(::isatty(::fileno(out)) == 1), quiet_(quiet),
      progress_(err) {}

void Console::Print(const std::string& text) {
  progress_.Clear();
  const std::string shown = outIsTerminal_ ? EscapeControls(text, true) : text;
  std::fwrite(shown.data(), 1, shown.size(), out_);
}

void Console::PrintError(const std::string& text) {
  progress_.Clear();
  const std::string shown = EscapeControls(text, true);
  std::fwrite(shown.data(), 1, shown.size(), err_);
}

void Console::AddStatusLine(const std::string& text) {
  if (quiet_) return;
  progress_.Clear();
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "[%H:%M:%S] ", &local);
  std::string line = stamp + EscapeControls(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), err_);
}

void Console::PrintStatusLine(const std::string& line) {
  if (quiet_) return;
  progress_.Clear();
  std::string text = EscapeControls(line) + "\n";
  std::fwrite(text.data(), 1, text.size(), err_);
}

void Console::FileFailed(const std::string& text) {
  failed_ = true;
  AddStatusLine(text);
}

void Console::Progress(std::uint64_t done, std::uint64_t total, std::string_view current) {
  if (!quiet_) progress_.Update(done, total, current);
}

bool Console::OutputFailed() const { return std::fflush(out_) != 0 || std::ferror(out_) != 0; }

}  // namespace velotag::cli
