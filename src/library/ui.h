// The one way the library talks to a person. The window implements it with
// real dialogs, the command line with flags and the terminal, the tests with
// a script. Every method has a harmless default so that a front end only
// implements what it can show.
#pragma once

#include <cstddef>
#include <string>

namespace velotag {

enum class MessageIcon { None, Information, Question, Exclamation, Critical };

// Captions that long commands change while they run.
enum class Caption {
  Frame1,        // the frame around the media grid
  Frame2,        // the frame around the field panel
  GridToolTip,   // "N element(s)"
  GenreToolTip,  // the genre box's index
  Buttons,       // button captions of the edit and view modes
  StopButton,    // enabled or not
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A Yes/No question with the question icon; true for Yes.
  virtual bool AskYesNo(const std::string& /*text*/, const std::string& /*title*/) {
    return false;
  }
  virtual void ShowMessage(const std::string& /*text*/, const std::string& /*title*/,
                           MessageIcon /*icon*/) {}
  // A message box that closes itself after timeoutMs as if its first button
  // were pressed; the title as TimedMessageTitle gives it.
  virtual void ShowTimedMessage(const std::string& text, const std::string& title,
                                MessageIcon icon, int /*timeoutMs*/) {
    ShowMessage(text, title, icon);
  }
  // "" when cancelled. The filter is "Name|*.a;*.b".
  virtual std::string ChooseFolder(const std::string& /*title*/, const std::string& /*start*/) {
    return {};
  }
  virtual std::string ChooseFile(const std::string& /*title*/, const std::string& /*start*/,
                                 const std::string& /*filter*/) {
    return {};
  }
  // Runs pending input (clicks on Stop among them); true when there was any.
  virtual bool PumpEvents() { return false; }
  // A line of the status log, with its time stamp, as it was added.
  virtual void StatusLineAdded(const std::string& /*line*/) {}
  virtual void CaptionChanged(Caption /*which*/) {}
  // A long command is at a file: done of total are behind it. For a front
  // end without the window's captions (the terminal's progress line).
  virtual void WorkingOn(const std::string& /*path*/, std::size_t /*done*/,
                         std::size_t /*total*/) {}
  // The field panel's state changed under the window (load, clear, cut).
  virtual void FieldPanelChanged() {}
  // Open a file, folder or web address with the desktop.
  virtual void OpenExternally(const std::string& /*pathOrUrl*/) {}
  virtual void CopyToClipboard(const std::string& /*text*/) {}
  virtual void FocusSearchBox() {}
  // The pattern editor, modal; the library's FormRenamer holds its logic.
  virtual void ShowRenamer() {}
  // Another instance holds the program folder: hand this start's files to
  // it, which brings its window to the front; true when it took them.
  virtual bool HandToRunningInstance() { return false; }
  // The CD window, created on first use; FormCDDB holds its logic.
  virtual void ShowCdWindow() {}
  // The window closes for real (the closing request was completed).
  virtual void CloseWindow() {}
};

// "[02.0 s] QUIT": the title of a self-closing message box.
std::string TimedMessageTitle(const std::string& title, int timeoutMs);

}  // namespace velotag
