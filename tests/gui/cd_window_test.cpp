// The CD window driven as a person drives it, on a disc image and against a
// scripted CDDB server: opened from the main window, the image chosen, the
// disc looked up and read, every track ripped, and a rip stopped by closing
// the window.
#include <QCheckBox>
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
  std::deque<bool> answers;
  std::deque<QString> files;
  std::vector<QUrl> opened;
  bool AskYesNo(QWidget*, const QString&, const QString&) override { return vt::PopFront(answers); }
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
    main.form().Options().Servers.Cddb = "127.0.0.1:" + std::to_string(server.port());

    QTest::mouseClick(main.findChild<QPushButton*>(u"CmdCDDB"_s), Qt::LeftButton);
    auto* cd = main.findChild<CdWindow*>();
    QVERIFY(cd && cd->isVisible());
    QCOMPARE(cd->windowTitle(), u"CD-Rip & CDDB"_s);
    auto click = [cd](const QString& name) {
      QTest::mouseClick(cd->findChild<QPushButton*>(name), Qt::LeftButton);
    };
    auto items = [cd](const QString& name) {
      QStringList texts;
      auto* list = cd->findChild<QListWidget*>(name);
      for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
      return texts;
    };

    dialogs.files.push_back(QString::fromStdString(image.cue));
    click(u"CmdImage"_s);
    QCOMPARE(items(u"LstTracks"_s),
             (QStringList{u"AudioTrack01 [ 00:00:13 ]"_s, u"AudioTrack02 [ 00:00:11 ]"_s,
                          u"AudioTrack03 [ 00:00:04 ]"_s, u" DataTrack04 [ 00:00:05 ]"_s}));
    QTest::keyClicks(cd->findChild<QLineEdit*>(u"TxtEmail"_s), u"ripper@example.org"_s);
    QCOMPARE(main.form().Options().Servers.CddbEmail, std::string("ripper@example.org"));

    click(u"CmdCDDB_1"_s);
    QCOMPARE(items(u"LstCDDB_0"_s).size(), 3);
    QCOMPARE(cd->findChild<QListWidget*>(u"LstCDDB_0"_s)->currentRow(), 0);
    QCOMPARE(cd->findChild<QComboBox*>(u"CmbCategories"_s)->currentText(), u"rock"_s);
    const QString id = cd->findChild<QLineEdit*>(u"TxtCDDBdiscid"_s)->text();
    QCOMPARE(id.size(), 8);
    QVERIFY(QString::fromStdString(server.Requests()[0]["path"].string).contains(u"hello=ripper%20example.org"_s));
    // The second match chosen by a click reaches the read.
    auto* matches = cd->findChild<QListWidget*>(u"LstCDDB_0"_s);
    QTest::mouseClick(matches->viewport(), Qt::LeftButton, {}, matches->visualItemRect(matches->item(1)).center());
    QCOMPARE(cd->findChild<QComboBox*>(u"CmbCategories"_s)->currentText(), u"data"_s);
    matches->setCurrentRow(0);
    click(u"CmdCDDB_2"_s);
    QVERIFY(cd->findChild<QLineEdit*>(u"TxtCDDB_1"_s)->text().startsWith(u"210 rock "_s + id));
    auto* record = cd->findChild<QListWidget*>(u"LstCDDB_1"_s);
    QTest::mouseClick(record->viewport(), Qt::LeftButton, {}, record->visualItemRect(record->item(3)).center());
    QCOMPARE(cd->findChild<QLineEdit*>(u"TxtCDDBread_1"_s)->text(), u"AC/DC: Back In Black"_s);

    // Tracks chosen in the list are the tracks ripped.
    auto* tracks = cd->findChild<QListWidget*>(u"LstTracks"_s);
    QTest::mouseClick(tracks->viewport(), Qt::LeftButton, {}, tracks->visualItemRect(tracks->item(1)).center());
    click(u"CmdCDDB_6"_s);
    QCOMPARE(cd->findChild<QLineEdit*>(u"TxtCDrip"_s)->text(), u"1 AudioTrack(s) ripped"_s);
    const std::string folder = home.path() + "CDRIP/T\xc3\xabst \xc3\x81rtist - \xd0\x90\xd0\xbb\xd1\x8c\xd0\xb1\xd0\xbe\xd0\xbc/";
    QCOMPARE(dialogs.opened.size(), std::size_t{1});
    QCOMPARE(dialogs.opened[0], PathToUrl(folder));
    QCOMPARE(GetPathType(folder + "02 AC-DC; Back In Black.wav"), kPathFile);

    // Closing the window in the middle of a rip stops it.
    click(u"CmdCDDB_4"_s);
    QCOMPARE(tracks->selectedItems().size(), 4);
    QTimer::singleShot(0, cd, [cd] { cd->close(); });
    click(u"CmdCDDB_6"_s);
    QCOMPARE(cd->findChild<QLineEdit*>(u"TxtCDrip"_s)->text(), u"0 AudioTrack(s) ripped"_s);
    QVERIFY(!cd->isVisible());
    QCOMPARE(cd->form().RipCounter(), 0);
    QCOMPARE(dialogs.opened.size(), std::size_t{1});
    // The button opens the same window again.
    QTest::mouseClick(main.findChild<QPushButton*>(u"CmdCDDB"_s), Qt::LeftButton);
    QCOMPARE(main.findChildren<CdWindow*>().size(), 1);
    QVERIFY(cd->isVisible());
  }
};

}  // namespace velotag::gui::test

QTEST_MAIN(velotag::gui::test::CdWindowTest)
#include "cd_window_test.moc"
