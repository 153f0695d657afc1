// A scripted person for the library's windows: answers questions from a
// queue, records what it is shown, and runs a script on each pump (the
// clicks a person makes while a command runs).
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "library/ui.h"
#include "testutil.h"

namespace velotag::test {

class FakeUI : public UserInterface {
 public:
  std::deque<bool> answers;  // Yes/No in order; No when empty
  std::deque<std::string> folders;
  std::function<void(int pumpNumber)> onPump;
  // "title: text" of questions and messages ("title: text ms" when timed).
  std::vector<std::string> questions, messages, opened;
  std::vector<std::string> texts;  // status lines without their "[hh:mm:ss] " stamps
  int pumps = 0, closed = 0;

  bool AskYesNo(const std::string& text, const std::string& title) override {
    questions.push_back(title + ": " + text);
    return PopFront(answers);
  }
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon) override {
    messages.push_back(title + ": " + text);
  }
  void ShowTimedMessage(const std::string& text, const std::string& title, MessageIcon, int ms) override {
    messages.push_back(title + ": " + text + " " + std::to_string(ms));
  }
  std::string ChooseFolder(const std::string&, const std::string&) override { return PopFront(folders); }
  bool PumpEvents() override {
    ++pumps;
    if (onPump) onPump(pumps);
    return true;
  }
  void StatusLineAdded(const std::string& line) override { texts.push_back(line.size() >= 11 ? line.substr(11) : line); }
  void OpenExternally(const std::string& path) override { opened.push_back(path); }
  void CloseWindow() override { ++closed; }

  bool Logged(const std::string& text) const { return std::find(texts.begin(), texts.end(), text) != texts.end(); }
};

}  // namespace velotag::test
