// Draws the main window on the demo library into a PNG, without a display
// (the offscreen platform): the picture the README shows.
//
//   screenshot OUTPUT.png PATH...
//
// The window opens as a person would find it after adding PATH: the list
// shows the ID3v2 fields, two rows are selected and the first is loaded into
// the tag editor. Settings go to $VELOTAG_HOME (set it to a scratch folder).
#include <QApplication>
#include <QCheckBox>
#include <QPixmap>
#include <cstdio>
#include <string>
#include <vector>

#include "gui/gridwidget.h"
#include "gui/mainwindow.h"
#include "library/fingerprint.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: screenshot OUTPUT.png PATH...\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  using namespace velotag;
  AppPaths where = AppPaths::ForThisProcess();
  gui::MainWindow window(where, MakeLibofaLookup(where.ProgramFolder, ""));
  if (!window.Start()) return 1;
  window.resize(1360, 900);
  window.show();
  QApplication::processEvents();
  std::vector<std::string> paths(argv + 2, argv + argc);
  window.form().OptID3editVer_Click(1);
  window.form().OptID3ver_Click(1);
  window.AddPaths(paths);
  window.form().ColumnClick(kColFileName);
  MyListview& grid = window.form().Grid();
  for (int row : {2, 5}) grid.PressRow(row, false);
  window.form().CmdInput_Click(kCmdLoadID3);
  grid.TrackVisible(0, true);
  for (int k : {1, 2, 3})
    if (auto* box = window.findChild<QCheckBox*>(QStringLiteral("ChkID3v1_%1").arg(k))) box->click();
  QApplication::processEvents();
  if (!window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "screenshot: cannot write %s\n", argv[1]);
    return 1;
  }
  window.form().Form_QueryUnload(false);
  window.form().Form_Unload();
  return 0;
}
