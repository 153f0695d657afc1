// A scripted person for the library's tests: answers questions and dialogs
// from queues, records every message, and runs a script on each pump (the
// clicks a person makes while a command runs).
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "library/fingerprint.h"
#include "library/ui.h"

namespace velotag::test {

class FakeUI : public UserInterface {
 public:
  struct Question {
    std::string text, title;
  };
  struct Message {
    std::string text, title;
    MessageIcon icon;
    int timeoutMs;
  };

  std::deque<bool> answers;        // Yes/No, in order; No when empty
  std::deque<std::string> folders; // ChooseFolder results
  std::deque<std::string> files;   // ChooseFile results
  std::function<void(int pumpNumber)> onPump;

  std::vector<Question> questions;
  std::vector<Message> messages;
  std::vector<std::string> lines;  // status lines as added
  std::vector<std::string> opened;
  std::vector<std::string> clipboard;
  std::vector<std::string> fileFilters;
  int pumps = 0;
  int closeRequests = 0;
  int renamerShown = 0;
  int searchFocus = 0;

  bool AskYesNo(const std::string& text, const std::string& title) override {
    questions.push_back({text, title});
    if (answers.empty()) return false;
    bool a = answers.front();
    answers.pop_front();
    return a;
  }
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override {
    messages.push_back({text, title, icon, 0});
  }
  void ShowTimedMessage(const std::string& text, const std::string& title, MessageIcon icon,
                        int timeoutMs) override {
    messages.push_back({text, title, icon, timeoutMs});
  }
  std::string ChooseFolder(const std::string&, const std::string&) override {
    return Next(folders);
  }
  std::string ChooseFile(const std::string&, const std::string&,
                         const std::string& filter) override {
    fileFilters.push_back(filter);
    return Next(files);
  }
  bool PumpEvents() override {
    ++pumps;
    if (onPump) onPump(pumps);
    return true;
  }
  void StatusLineAdded(const std::string& line) override { lines.push_back(line); }
  void OpenExternally(const std::string& target) override { opened.push_back(target); }
  void CopyToClipboard(const std::string& text) override { clipboard.push_back(text); }
  void ShowRenamer() override { ++renamerShown; }
  void FocusSearchBox() override { ++searchFocus; }
  void CloseWindow() override { ++closeRequests; }

  // The status lines without their "[hh:mm:ss] " stamps.
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const std::string& l : lines) out.push_back(l.size() >= 11 ? l.substr(11) : l);
    return out;
  }
  bool Logged(const std::string& text) const {
    for (const std::string& t : Texts())
      if (t == text) return true;
    return false;
  }

 private:
  static std::string Next(std::deque<std::string>& q) {
    if (q.empty()) return {};
    std::string s = q.front();
    q.pop_front();
    return s;
  }
};

// A fingerprint lookup that answers from a table.
class FakeFingerprint : public FingerprintLookup {
 public:
  bool installed = true;
  std::string lastError = "No result";
  std::function<std::vector<std::string>(const std::string&)> answer;
  std::vector<std::string> asked;

  bool DriverInstalled() const override { return installed; }
  std::string DriverName() const override { return "libofa.so.0"; }
  std::string DriverVersion() const override { return "0.9.3"; }
  std::string SupportLibraryName() const override { return "libfftw3.so.3"; }
  std::string LastError() const override { return lastError; }
  std::vector<std::string> GetID3infoByFinger(const std::string& mp3File,
                                              const std::string&) override {
    asked.push_back(mp3File);
    if (!installed || !answer) return {};
    return answer(mp3File);
  }
};

}  // namespace velotag::test
