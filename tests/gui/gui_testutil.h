// What the window tests share: a person who answers the dialogs from a
// script, the demo library, and reading what the window shows.
#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "gui/dialogs.h"
#include "gui/gridwidget.h"
#include "gui/mainwindow.h"
#include "testutil.h"

namespace velotag::gui::test {

using velotag::test::TempDir;

class ScriptedDialogs : public DialogProvider {
 public:
  struct Shown {
    QString text, title;
  };
  std::deque<bool> answers;  // Yes/No in order; No when none is left
  std::deque<QString> folders;
  std::deque<QString> files;
  std::vector<Shown> questions;
  std::vector<Shown> messages;
  std::vector<QUrl> opened;
  QStringList filters;

  bool AskYesNo(QWidget*, const QString& text, const QString& title) override;
  void ShowMessage(QWidget*, const QString& text, const QString& title, MessageIcon) override;
  QString ChooseFolder(QWidget*, const QString&, const QString&) override;
  QString ChooseFile(QWidget*, const QString&, const QString&, const QString& filter) override;
  void OpenExternally(const QUrl& url) override { opened.push_back(url); }
};

// A window over a scratch program folder, started and shown.
struct Window {
  explicit Window(const std::string& home);
  ~Window();
  TempDir ownHome;
  std::string home;
  ScriptedDialogs dialogs;
  std::unique_ptr<MainWindow> window;
  MainWindow* operator->() { return window.get(); }
  GridWidget* grid() { return window->grid(); }

  // A widget of the window by its object name.
  template <class T>
  T* Find(const QString& name) {
    return window->findChild<T*>(name);
  }
  void Click(const QString& name);
  // "Add media folder" answered with folder and Yes/No to the subfolders.
  void AddFolder(const std::string& folder, bool subfolders);
  void ClickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
  void ClickHeader(int col);
  // The log as the list shows it, without the "[hh:mm:ss] " stamps.
  QStringList Log();
  // The texts a column shows, top to bottom.
  QStringList Column(int col);
  std::vector<int> SelectedRows();
  QString Caption(const QString& frame);
};

// The demo library, as scripts/run.sh writes it.
void MakeDemo(const std::string& folder);
// count untagged copies of the demo tone: 000.mp3, 001.mp3, ...
void MakeTones(const std::string& folder, int count);
// The 16 media-list fields of a file as mutagen reads them (JSON text).
std::string MutagenField(const std::string& path, const std::string& field);

}  // namespace velotag::gui::test
