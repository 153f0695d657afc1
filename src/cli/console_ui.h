// The terminal as the library's user interface: status lines to standard
// error, questions answered by --yes or at the terminal (No otherwise), and
// Ctrl-C as the Stop button (a second Ctrl-C ends the process at once).
#pragma once

#include <signal.h>

#include <functional>
#include <string>

#include "console.h"
#include "library/ui.h"

namespace velotag::cli {

class ConsoleUI : public UserInterface {
 public:
  ConsoleUI(Console& console, bool yes);
  ~ConsoleUI() override;
  ConsoleUI(const ConsoleUI&) = delete;
  ConsoleUI& operator=(const ConsoleUI&) = delete;

  // What Ctrl-C does: the window's Stop button.
  void SetStop(std::function<void()> stop) { stop_ = std::move(stop); }

  bool AskYesNo(const std::string& text, const std::string& title) override;
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;
  bool PumpEvents() override;
  void StatusLineAdded(const std::string& line) override;
  void WorkingOn(const std::string& path, std::size_t done, std::size_t total) override;
  void OpenExternally(const std::string& pathOrUrl) override;

  // A question was answered No; a message was shown (the commands show
  // only messages about what they could not do).
  bool Refused() const { return refused_; }
  bool Failed() const { return failed_; }

 private:
  Console& console_;
  bool yes_;
  bool refused_ = false;
  bool failed_ = false;
  std::function<void()> stop_;
  struct sigaction previous_ {};
};

}  // namespace velotag::cli
