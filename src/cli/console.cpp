#include "console.h"

#include <ctime>

namespace velotag::cli {

void Console::Print(const std::string& text) {
  progress_.Clear();
  std::fwrite(text.data(), 1, text.size(), out_);
}

void Console::PrintError(const std::string& text) {
  progress_.Clear();
  std::fwrite(text.data(), 1, text.size(), err_);
}

void Console::AddStatusLine(const std::string& text) {
  if (quiet_) return;
  progress_.Clear();
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "[%H:%M:%S] ", &local);
  std::string line = stamp + text + "\n";
  std::fwrite(line.data(), 1, line.size(), err_);
}

void Console::PrintStatusLine(const std::string& line) {
  if (quiet_) return;
  progress_.Clear();
  std::string text = line + "\n";
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
