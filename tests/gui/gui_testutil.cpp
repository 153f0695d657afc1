#include "gui_testutil.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTest>
#include <cstdio>

namespace velotag::gui::test {

namespace {
template <class T>
T Next(std::deque<T>& queue) {
  if (queue.empty()) return T();
  T value = queue.front();
  queue.pop_front();
  return value;
}
}  // namespace

bool ScriptedDialogs::AskYesNo(QWidget*, const QString& text, const QString& title) {
  questions.push_back({text, title});
  return Next(answers);
}

void ScriptedDialogs::ShowMessage(QWidget*, const QString& text, const QString& title, MessageIcon) {
  messages.push_back({text, title});
}

QString ScriptedDialogs::ChooseFolder(QWidget*, const QString&, const QString&) {
  return Next(folders);
}

QString ScriptedDialogs::ChooseFile(QWidget*, const QString&, const QString&, const QString& filter) {
  filters << filter;
  return Next(files);
}

Window::Window(const std::string& programFolder)
    : home(programFolder.empty() ? ownHome.path() : programFolder) {
  window = std::make_unique<MainWindow>(AppPaths{home, "velotag"}, nullptr, &dialogs);
  if (window->Start()) {
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) std::fprintf(stderr, "window not exposed\n");
  }
}

Window::~Window() { window.reset(); }

void Window::Click(const QString& name) {
  auto* button = Find<QAbstractButton>(name);
  if (!button) {
    QTest::qFail(qPrintable(QStringLiteral("no button ") + name), __FILE__, __LINE__);
    return;
  }
  // A check box or an option button reacts on its mark and caption only,
  // not on the empty rest of a wide widget.
  bool marked = button->inherits("QCheckBox") || button->inherits("QRadioButton");
  QPoint at = marked ? QPoint(8, button->height() / 2) : button->rect().center();
  QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, at);
}

void Window::AddFolder(const std::string& folder, bool subfolders) {
  dialogs.folders.push_back(QString::fromStdString(folder));
  dialogs.answers.push_back(subfolders);
  Click(QStringLiteral("CmdInput_1"));
}

void Window::ClickRow(int row, Qt::KeyboardModifiers modifiers) {
  QTest::mouseClick(grid()->viewport(), Qt::LeftButton, modifiers, grid()->RowRect(row).center());
}

void Window::ClickHeader(int col) {
  QTest::mouseClick(grid()->viewport(), Qt::LeftButton, Qt::NoModifier,
                    grid()->HeaderRect(col).center());
}

QStringList Window::Log() {
  QStringList lines;
  auto* list = Find<QListWidget>(QStringLiteral("LstStat"));
  for (int i = 0; i < list->count(); ++i) {
    QString line = list->item(i)->text();
    lines << (line.startsWith(QLatin1Char('[')) ? line.mid(11) : line);
  }
  return lines;
}

QStringList Window::Column(int col) {
  QStringList texts;
  for (int i = 0; i < window->form().Grid().ItemCount(); ++i) texts << grid()->CellText(i, col);
  return texts;
}

std::vector<int> Window::SelectedRows() {
  std::vector<int> rows;
  for (int i = 0; i < window->form().Grid().ItemCount(); ++i)
    if (window->form().Grid().GetItemSelected(i)) rows.push_back(i);
  return rows;
}

QString Window::Caption(const QString& frame) {
  return Find<QLabel>(frame + QStringLiteral("Caption"))->text();
}

void MakeDemo(const std::string& folder) {
  auto r = velotag::test::RunProcess({VELOTAG_MAKE_DEMO, VELOTAG_DEMO_SOURCE, folder});
  if (r.exitCode != 0) QTest::qFail(r.err.c_str(), __FILE__, __LINE__);
}

void MakeTones(const std::string& folder, int count) {
  velotag::test::Bytes tone = velotag::test::ReadFileBytes(std::string(VELOTAG_DEMO_SOURCE) + "/tone.mp3");
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "%03d.mp3", i);
    velotag::test::WriteFileBytes(folder + name, tone);
  }
}

std::string MutagenField(const std::string& path, const std::string& field) {
  auto r = velotag::test::RunProcess(
      {velotag::test::PythonPath(), velotag::test::ToolPath("mutagen_id3v2.py"), "fields", path});
  if (r.exitCode != 0) return "<mutagen failed: " + r.err + ">";
  velotag::test::Json json = velotag::test::ParseJson(r.out);
  const velotag::test::Json& entry = json[path];
  if (!entry.has("fields")) return "<no tag>";
  return entry["fields"][field].string;
}

}  // namespace velotag::gui::test
