#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include "support/paths.h"
#include "support/textenc.h"
#include "terminal_text.h"

namespace velotag::cli {

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

std::size_t TerminalColumns(std::FILE* stream) {
  winsize ws{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

// A name as the terminal may show it: valid UTF-8, no control characters
// (a file name can hold escape sequences).
std::string Printable(std::string_view text) {
  std::string valid =
      Utf8BytesToString(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return EscapeControls(valid);
}

}  // namespace

std::string FormatProgress(std::uint64_t done, std::uint64_t total, double rate,
                           std::string_view unit, std::string_view current, std::size_t width) {
  const std::string u(unit);
  char buf[128];
  double percent = total > 0 ? static_cast<double>(done) * 100.0 / static_cast<double>(total) : 100.0;
  std::snprintf(buf, sizeof buf, "%llu/%llu %s  %.1f %%", static_cast<unsigned long long>(done),
                static_cast<unsigned long long>(total), u.c_str(), percent);
  std::string line = buf;
  if (rate >= 0) {
    std::snprintf(buf, sizeof buf, "  %.1f %s/s", rate, u.c_str());
    line += buf;
  }
  std::string name(current);
  if (!name.empty() && name.back() != '/') name = GetFileNamePart(name);
  name = Printable(name);
  if (line.size() >= width) return line.substr(0, width);
  if (!name.empty() && line.size() + 2 < width) line += "  " + Utf8Left(name, width - line.size() - 2);
  return line;
}

ProgressLine::ProgressLine(std::FILE* stream, std::string unit)
    : stream_(stream), unit_(std::move(unit)), enabled_(stream && ::isatty(::fileno(stream))) {}

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Update(std::uint64_t done, std::uint64_t total, std::string_view current) {
  if (!enabled_) return;
  auto now = std::chrono::steady_clock::now();
  bool newRun = total != lastTotal_ || done < lastDone_;
  if (newRun) start_ = now;
  lastDone_ = done;
  lastTotal_ = total;
  // At most ten redraws a second: a fast batch is not slowed by its terminal.
  if (shown_ && !newRun && now - lastDraw_ < kRedrawEvery) return;
  lastDraw_ = now;
  double seconds = std::chrono::duration<double>(now - start_).count();
  double rate = done > 0 && seconds >= 1.0 ? static_cast<double>(done) / seconds : -1;
  Draw(FormatProgress(done, total, rate, unit_, current, TerminalColumns(stream_) - 1));
}

void ProgressLine::Show(std::string_view text) {
  if (!enabled_) return;
  Draw(Utf8Left(Printable(text), TerminalColumns(stream_) - 1));
}

void ProgressLine::Draw(const std::string& line) {
  // One column short of the width, so that the terminal never wraps.
  std::string text = "\r" + line + "\x1b[K";
  std::fwrite(text.data(), 1, text.size(), stream_);
  std::fflush(stream_);
  shown_ = true;
}

void ProgressLine::Clear() {
  if (!shown_) return;
  std::fputs("\r\x1b[K", stream_);
  std::fflush(stream_);
  shown_ = false;
}

}  // namespace velotag::cli
