// velotag: the desktop window. PATHs given on the command line (files or
// folders, with their subfolders) are added to the media list at start.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gui/appicon.h"
#include "gui/mainwindow.h"
#include "library/about.h"
#include "library/fingerprint.h"
#include "support/tempfiles.h"

namespace {

constexpr const char* kUsage =
    "Usage: velotag [PATH...]\n"
    "The Velotag MP3 tag editor window. Each PATH, a file or a folder (with its\n"
    "subfolders), is added to the media list as it opens.\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Settings live in the program folder: $VELOTAG_HOME when set, else the\n"
    "executable's folder when it is writable, else $XDG_DATA_HOME/velotag/.\n";

}  // namespace

int main(int argc, char** argv) {
  // Before Qt: these must work without a display.
  std::vector<std::string> paths;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    if (options && std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (options && std::strcmp(argv[i], "--version") == 0) {
      std::printf("velotag %s\n", velotag::kVersionText);
      return 0;
    }
  }

  velotag::RemoveTempFilesOnSignals();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("velotag"));
  QApplication::setOrganizationName(QString::fromLatin1(velotag::kCompany));
  QApplication::setApplicationVersion(QString::fromLatin1(velotag::kVersionText));
  QGuiApplication::setDesktopFileName(QStringLiteral("velotag"));
  QApplication::setWindowIcon(velotag::gui::AppIcon());

  // Qt has taken its own options (-platform, ...) out of argv by now.
  for (int i = 1; i < argc; ++i) {
    if (options && std::strcmp(argv[i], "--") == 0) {
      options = false;
      continue;
    }
    if (options && argv[i][0] == '-' && argv[i][1] == '-') {
      std::fprintf(stderr, "velotag: unknown option %s\nTry 'velotag --help'.\n", argv[i]);
      return 2;
    }
    paths.emplace_back(argv[i]);
  }

  velotag::AppPaths where = velotag::AppPaths::ForThisProcess();
  velotag::gui::MainWindow window(where, velotag::MakeFingerprintLookup(where.ProgramFolder, ""));
  if (!window.Start(paths)) return 0;
  window.show();
  if (!paths.empty()) QTimer::singleShot(0, &window, [&window, paths] { window.AddPaths(paths); });
  return QApplication::exec();
}
