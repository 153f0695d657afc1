// The CD window driven as a person drives it, on a disc image and against a
// scripted CDDB server: opened from the main window, the image chosen, the
// disc looked up and read, every track ripped, and a rip stopped by closing
// the window.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <deque>

#include "cdimage.h"
#include "gui/cdwindow.h"
#include "gui/dialogs.h"
#include "gui/mainwindow.h"
#include "script_server.h"
#include "support/paths.h"
#include "testutil.h"

using namespace Qt::StringLiterals;

namespace velotag::gui::test {

namespace {

namespace vt = velotag::test;

class ScriptedDialogs : public DialogProvider {
 public:
  std::deque<QString> files;
  std::vector<QUrl> opened;
  bool AskYesNo(QWidget*, const QString&, const QString&) override { return false; }
  void ShowMessage(QWidget*, const QString&, const QString&, MessageIcon) override {}
  QString ChooseFile(QWidget*, const QString&, const QString&, const QString& filter) override {
    return filter.contains(u"*.cue"_s) ? vt::PopFront(files) : QString();
  }
  void OpenExternally(const QUrl& url) override { opened.push_back(url); }
};

}  // namespace

class CdWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void looksUpRipsAndStopsWhenClosed() {
    vt::TempDir home, disc;
    vt::ScriptServer server(disc.file("requests.jsonl"));
    QVERIFY(server.ok());
    vt::CdImage image = vt::MakeCdImage(disc.path(), "disc", {{1000}, {800}, {300}, {400, true}});
    ScriptedDialogs dialogs;
    MainWindow main(AppPaths{home.path(), "velotag"}, nullptr, &dialogs);
    QVERIFY(main.Start());
    main.show();
    main.form().Options().Servers.Cddb = server.hostPort();
    QTest::mouseClick(main.findChild<QPushButton*>(u"CmdCDDB"_s), Qt::LeftButton);
    auto* cd = main.findChild<CdWindow*>();
    QVERIFY(cd && cd->isVisible());
    auto click = [cd](const QString& name) { QTest::mouseClick(cd->findChild<QPushButton*>(name), Qt::LeftButton); };
    auto text = [cd](const QString& name) { return cd->findChild<QLineEdit*>(name)->text(); };
    // A click on a list's row, as a person makes it.
    auto clickRow = [cd](const QString& name, int row) {
      auto* list = cd->findChild<QListWidget*>(name);
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
    };

    dialogs.files.push_back(QString::fromStdString(image.cue));
    click(u"CmdImage"_s);
    QCOMPARE(cd->findChild<QListWidget*>(u"LstTracks"_s)->count(), 4);
    QTest::keyClicks(cd->findChild<QLineEdit*>(u"TxtEmail"_s), u"ripper@example.org"_s);
    click(u"CmdCDDB_1"_s);
    QCOMPARE(cd->findChild<QListWidget*>(u"LstCDDB_0"_s)->count(), 3);
    QVERIFY(QString::fromStdString(server.Requests()[0]["path"].string).contains(u"hello=ripper%20example.org"_s));
    clickRow(u"LstCDDB_0"_s, 1);
    QCOMPARE(cd->findChild<QComboBox*>(u"CmbCategories"_s)->currentText(), u"data"_s);
    clickRow(u"LstCDDB_0"_s, 0);
    click(u"CmdCDDB_2"_s);
    clickRow(u"LstCDDB_1"_s, 3);
    QCOMPARE(text(u"TxtCDDBread_1"_s), u"AC/DC: Back In Black"_s);

    // The track chosen in the list is the track ripped.
    clickRow(u"LstTracks"_s, 1);
    click(u"CmdCDDB_6"_s);
    QCOMPARE(text(u"TxtCDrip"_s), u"1 AudioTrack(s) ripped"_s);
    const std::string folder = home.path() + "CDRIP/T\xc3\xabst \xc3\x81rtist - \xd0\x90\xd0\xbb\xd1\x8c\xd0\xb1\xd0\xbe\xd0\xbc/";
    QCOMPARE(dialogs.opened, std::vector<QUrl>{PathToUrl(folder)});
    QCOMPARE(GetPathType(folder + "02 AC-DC; Back In Black.wav"), kPathFile);

    // Closing the window in the middle of a rip stops it; the button shows it again.
    click(u"CmdCDDB_4"_s);
    QTimer::singleShot(0, cd, [cd] { cd->close(); });
    click(u"CmdCDDB_6"_s);
    QCOMPARE(text(u"TxtCDrip"_s), u"0 AudioTrack(s) ripped"_s);
    QCOMPARE(cd->form().RipCounter(), 0);
    QTest::mouseClick(main.findChild<QPushButton*>(u"CmdCDDB"_s), Qt::LeftButton);
    QCOMPARE(main.findChildren<CdWindow*>().size(), 1);
    QVERIFY(cd->isVisible());
  }
};

}  // namespace velotag::gui::test

QTEST_MAIN(velotag::gui::test::CdWindowTest)
#include "cd_window_test.moc"
