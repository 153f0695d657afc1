#include "console.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>

namespace velotag::cli {

void Console::Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), out_); }

void Console::PrintError(const std::string& text) { std::fwrite(text.data(), 1, text.size(), err_); }

void Console::AddStatusLine(const std::string& text) {
  if (quiet_) return;
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
  std::string text = line + "\n";
  std::fwrite(text.data(), 1, text.size(), err_);
}

void Console::Progress(const std::string& text) {
  if (quiet_ || !::isatty(::fileno(err_))) return;
  std::string line = "\r" + text;
  if (text.size() < progressWidth_) line.append(progressWidth_ - text.size(), ' ');
  progressWidth_ = std::max(progressWidth_, text.size());
  std::fwrite(line.data(), 1, line.size(), err_);
  std::fflush(err_);
}

void Console::EndProgress() {
  if (progressWidth_ == 0) return;
  progressWidth_ = 0;
  std::fputc('\n', err_);
}

void Console::FileFailed(const std::string& text) {
  failed_ = true;
  AddStatusLine(text);
}

bool Console::OutputFailed() const { return std::fflush(out_) != 0 || std::ferror(out_) != 0; }

}  // namespace velotag::cli
