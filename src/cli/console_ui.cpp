#include "console_ui.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "support/tempfiles.h"

namespace velotag::cli {

namespace {

volatile std::sig_atomic_t gInterrupted = 0;
volatile std::sig_atomic_t gPresses = 0;

// The first Ctrl-C is the Stop button; a second one, for a command that does
// not end soon enough, ends the process at once, without leaving temporary
// files behind.
extern "C" void OnInterrupt(int sig) {
  if (gPresses != 0) EndBySignal(sig);
  gPresses = 1;
  gInterrupted = 1;
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

}  // namespace

ConsoleUI::ConsoleUI(Console& console, bool yes) : console_(console), yes_(yes) {
  gInterrupted = 0;
  gPresses = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &previous_);
}

ConsoleUI::~ConsoleUI() { ::sigaction(SIGINT, &previous_, nullptr); }

bool ConsoleUI::AskYesNo(const std::string& text, const std::string& title) {
  bool answer = yes_;
  console_.EndProgress();
  if (!yes_ && ::isatty(STDIN_FILENO)) {
    std::string prompt = title + ": " + OneLine(text) + " [y/N] ";
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    std::string reply;
    std::getline(std::cin, reply);
    answer = !reply.empty() && (reply[0] == 'y' || reply[0] == 'Y');
  }
  if (!answer) {
    refused_ = true;
    if (!::isatty(STDIN_FILENO))
      console_.PrintError(title + ": " + OneLine(text) + " No (-y answers Yes)\n");
  }
  return answer;
}

void ConsoleUI::ShowMessage(const std::string& text, const std::string& title, MessageIcon) {
  console_.PrintStatusLine(title + ": " + text);
  failed_ = true;  // the only messages the commands show report what they could not do
}

bool ConsoleUI::PumpEvents() {
  if (!gInterrupted) return false;
  gInterrupted = 0;
  if (stop_) stop_();
  return true;
}

void ConsoleUI::StatusLineAdded(const std::string& line) {
  console_.PrintStatusLine(line);
}

void ConsoleUI::WorkingOn(const std::string& path, std::size_t done, std::size_t total) {
  console_.Progress(done, total, path);
}

void ConsoleUI::OpenExternally(const std::string& pathOrUrl) { console_.Print(pathOrUrl + "\n"); }

}  // namespace velotag::cli
