// The real window driven as a person drives it: buttons, rows, headers,
// text boxes, the Stop button, closing, the pattern window. What is checked
// is what the person sees (captions, log lines, cell texts) and the files.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <functional>

#include "gui/dialogs.h"
#include "gui_testutil.h"
#include "library/renamer.h"
#include "support/paths.h"

namespace velotag::gui::test {

namespace {

const QStringList kDemoNames = {
    QStringLiteral("01 - Morning Light.mp3"), QStringLiteral("02 - Harbour Lights.mp3"),
    QStringLiteral("03 - Árvíztűrő tükörfúrógép.mp3"), QStringLiteral("04 - Stacked.mp3"),
    QStringLiteral("05 untagged.mp3"), QStringLiteral("06 - Encore.mp3")};

// Runs once, the first time the frame's progress bar moves: in the middle
// of the command, between two files.
void OnFirstProgress(Window& w, const QString& frame, std::function<void()> action) {
  auto* bar = w.Find<QProgressBar>(frame + QStringLiteral("Progress"));
  auto done = std::make_shared<bool>(false);
  QObject::connect(bar, &QProgressBar::valueChanged, bar, [done, action](int) {
    if (*done) return;
    *done = true;
    action();
  });
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TempDir> music_;
  std::string demo_;

  // The demo library in the list, sorted by file name.
  void AddDemo(Window& w) {
    w.AddFolder(demo_, true);
    w.ClickHeader(kColFileName);
  }
  void TypeInto(Window& w, const QString& box, const QString& text) {
    auto* edit = w.Find<QLineEdit>(box);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
  }

 private slots:
  void init() {
    music_ = std::make_unique<TempDir>();
    demo_ = music_->path() + "demo/";
    MakeDemo(demo_);
  }
  void cleanup() { music_.reset(); }

  void opensWithItsCaptionsAndControls() {
    Window w("");
    QCOMPARE(w->windowTitle(), QStringLiteral("Hollowcrag - Velotag - velotag - Ver.:0.1.0"));
    QCOMPARE(w.Caption(QStringLiteral("Frame1")),
             QStringLiteral("MP3 browser (right click=external open selected file)"));
    QCOMPARE(w.Caption(QStringLiteral("Frame2")), QStringLiteral("ID3 multi tag editor"));
    QVERIFY(!w.Find<QProgressBar>(QStringLiteral("Frame1Progress"))->isVisible());
    QCOMPARE(w.Find<QPushButton>(QStringLiteral("CmdInput_5"))->text(), QStringLiteral("Load ID3v1 (Sel MP3)"));
    QCOMPARE(w.Find<QPushButton>(QStringLiteral("CmdInput_5"))->toolTip(),
             QStringLiteral("Load ID3 data to tag editor"));
    QCOMPARE(w.Find<QPushButton>(QStringLiteral("CmdInput_3"))->toolTip(), QStringLiteral("Delete from list"));
    QCOMPARE(w.Find<QPushButton>(QStringLiteral("CmdInput_11"))->text(),
             QStringLiteral("Rename by ID3v1 (Sel MP3)"));
    QCOMPARE(w.Find<QPushButton>(QStringLiteral("CmdID3v1_33"))->text(),
             QStringLiteral("ID3v1 To ID3v2 (Sel MP3)"));
    for (int i = 0; i <= 15; ++i) {
      auto* clear = w.Find<QPushButton>(QStringLiteral("CmdID3v1_%1").arg(i));
      QCOMPARE(clear->text(), QStringLiteral("Clear"));
      QCOMPARE(clear->toolTip(), QStringLiteral("Clear textfield"));
    }
    QCOMPARE(w.Find<QPushButton>(QStringLiteral("CmdID3v1_16"))->text(), QStringLiteral("browse"));
    auto* genres = w.Find<QComboBox>(QStringLiteral("CmbID3v1"));
    QCOMPARE(genres->count(), 256);
    QCOMPARE(genres->itemText(17), QStringLiteral("Rock"));
    QCOMPARE(genres->itemText(200), QStringLiteral("200"));
    QCOMPARE(genres->itemText(255), QString());
    // ID3v1 editing: the ID3v2-only inputs are off.
    QVERIFY(w.Find<QLineEdit>(QStringLiteral("TxtID3_5"))->isEnabled());
    QVERIFY(!w.Find<QLineEdit>(QStringLiteral("TxtID3_6"))->isEnabled());
    QVERIFY(!w.Find<QWidget>(QStringLiteral("ChkID3v1_7"))->isEnabled());
    QVERIFY(!w.Find<QWidget>(QStringLiteral("CmbTXXX"))->isEnabled());
    QVERIFY(!w.Find<QPushButton>(QStringLiteral("CmdSTOP"))->isEnabled());
    QVERIFY(w.Log().contains(QStringLiteral("* Created By: Hollowcrag")));
  }

  void addsTheDemoFolderAsAsked() {
    Window w("");
    w.AddFolder(demo_, false);
    QCOMPARE(w.dialogs.questions.size(), std::size_t{1});
    QCOMPARE(w.dialogs.questions[0].text, QStringLiteral("Search in subfolders?"));
    QCOMPARE(w.dialogs.questions[0].title, QStringLiteral("Add media folder"));
    QCOMPARE(w.grid()->toolTip(), QStringLiteral("5 element(s)"));
    w.Click(QStringLiteral("CmdInput_4"));
    QCOMPARE(w.Log().last(), QStringLiteral("Delete all media file(s) (5)"));
    AddDemo(w);
    QCOMPARE(w.grid()->toolTip(), QStringLiteral("6 element(s)"));
    QCOMPARE(w.Column(kColFileName), kDemoNames);
    QCOMPARE(w.Column(kColTrack), (QStringList{"001", "", "003", "004", "", "006"}));
    QCOMPARE(w.Column(kColID3v1), (QStringList{"1", "0", "1", "1", "0", "1"}));
    QCOMPARE(w.Column(kColID3v2), (QStringList{"0", "3", "4", "0", "0", "3"}));
    QCOMPARE(w.grid()->CellText(5, kColPath), QString::fromStdString(demo_ + "Live/06 - Encore.mp3"));
    // The list shows the ID3v2 fields after "Show ID3v2".
    w.Click(QStringLiteral("OptID3ver_1"));
    QCOMPARE(w.Column(kColTrack), (QStringList{"", "2/6", "3", "", "", "6"}));
    QCOMPARE(w.Column(kColID3v2), (QStringList{"0", "3", "p4", "0", "0", "3"}));
    QCOMPARE(w.grid()->CellText(2, kColAlbum), QStringLiteral("Ősz / 秋"));
    QCOMPARE(w.Find<QPushButton>(QStringLiteral("CmdInput_12"))->text(),
             QStringLiteral("Auto ID3v2 tag (Sel MP3)"));
  }

  void clicksAndShiftSelectRows() {
    Window w("");
    AddDemo(w);
    w.ClickRow(1);
    w.ClickRow(4, Qt::ShiftModifier);
    QCOMPARE(w.SelectedRows(), (std::vector<int>{1, 2, 3, 4}));
    w.Click(QStringLiteral("CmdInput_15"));  // Deselect ALL
    QCOMPARE(w.SelectedRows(), std::vector<int>{});
    w.ClickRow(0);
    w.ClickRow(3, Qt::ShiftModifier | Qt::ControlModifier);  // not a range
    QCOMPARE(w.SelectedRows(), (std::vector<int>{0, 3}));
    w.ClickRow(5, Qt::ShiftModifier);
    QCOMPARE(w.SelectedRows(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    w.Click(QStringLiteral("CmdInput_0"));  // Invert selection
    QCOMPARE(w.SelectedRows(), std::vector<int>{});
  }

  void headerClickedTwiceSwapsEqualRows() {
    Window w("");
    AddDemo(w);
    w.ClickHeader(kColTitle);
    QCOMPARE(w.Column(kColTitle), (QStringList{"", "", "Arvizturo tukorfurogep", "Encore",
                                               "Morning Light", "Stacked"}));
    QStringList first = w.Column(kColFileName);
    QCOMPARE(QSet<QString>(first.begin(), first.begin() + 2),
             (QSet<QString>{kDemoNames[1], kDemoNames[4]}));
    w.ClickHeader(kColTitle);
    QStringList second = w.Column(kColFileName);
    QCOMPARE(second[0], first[1]);
    QCOMPARE(second[1], first[0]);
    QCOMPARE(second.mid(2), first.mid(2));
  }

  void changesFieldsInID3v2Mode() {
    Window w("");
    AddDemo(w);
    w.Click(QStringLiteral("OptID3editVer_1"));
    w.Click(QStringLiteral("OptID3ver_1"));
    QCOMPARE(w.Find<QPushButton>(QStringLiteral("CmdID3v1_31"))->text(),
             QStringLiteral("Change ID3v2 tag (Sel MP3)"));
    QVERIFY(w.Find<QLineEdit>(QStringLiteral("TxtID3_6"))->isEnabled());

    // Load a file into the panel, then change two fields of two files.
    w.ClickRow(2);
    w.Click(QStringLiteral("CmdInput_5"));
    QCOMPARE(w.Find<QLineEdit>(QStringLiteral("TxtID3_1"))->text(), QStringLiteral("Árvíztűrő tükörfúrógép"));
    QCOMPARE(w.Find<QLineEdit>(QStringLiteral("TxtID3_7"))->text(), QStringLiteral("Sigur Rós"));
    QCOMPARE(w.Log().last(), QStringLiteral("The file contain picture(s) ") + kDemoNames[2]);
    QTest::keyClick(w.grid(), Qt::Key_Home);  // the load scrolled the row to the top
    w.ClickRow(2);  // deselect
    TypeInto(w, QStringLiteral("TxtID3_1"), QStringLiteral("Neue Straße"));
    TypeInto(w, QStringLiteral("TxtID3_2"), QStringLiteral("Velo"));
    w.Click(QStringLiteral("ChkID3v1_1"));
    w.Click(QStringLiteral("ChkID3v1_2"));
    w.ClickRow(1);
    w.ClickRow(4);
    w.Click(QStringLiteral("CmdID3v1_31"));
    QCOMPARE(w.Log().last(), QStringLiteral("Changed 2 MP3(s)"));
    QVERIFY(w.Log().contains(QStringLiteral("WORKING: Change ID3v2 tag (Sel MP3)")));
    QCOMPARE(w.Caption(QStringLiteral("Frame2")), QStringLiteral("ID3 multi tag editor"));
    QCOMPARE(w.Column(kColTitle), (QStringList{"", "Neue Straße", "Árvíztűrő tükörfúrógép", "",
                                               "Neue Straße", "Encore"}));
    QCOMPARE(w.Column(kColArtist)[4], QStringLiteral("Velo"));
    QCOMPARE(w.Column(kColID3v2)[4], QStringLiteral("4"));  // a new tag for the untagged file
    QCOMPARE(MutagenField(demo_ + "05 untagged.mp3", "title"), std::string("Neue Straße"));
    QCOMPARE(MutagenField(demo_ + "02 - Harbour Lights.mp3", "artist"), std::string("Velo"));
    QCOMPARE(MutagenField(demo_ + "02 - Harbour Lights.mp3", "album"), std::string("Northern Sketches"));
    QCOMPARE(MutagenField(demo_ + "03 - Árvíztűrő tükörfúrógép.mp3", "title"),
             std::string("Árvíztűrő tükörfúrógép"));
  }

  void stopEndsALongBatch() {
    Window w("");
    std::string tones = music_->path() + "tones/";
    QVERIFY(CreatePath(tones));
    MakeTones(tones, 120);
    w.AddFolder(tones, false);
    TypeInto(w, QStringLiteral("TxtID3_1"), QStringLiteral("Stopped"));
    w.Click(QStringLiteral("ChkID3v1_1"));
    bool stopWasOn = false;
    QString caption;
    OnFirstProgress(w, QStringLiteral("Frame2"), [&] {
      // The timer turns Stop on within a second of the start.
      QTest::qWait(1300);
      stopWasOn = w.Find<QPushButton>(QStringLiteral("CmdSTOP"))->isEnabled();
      caption = w.Caption(QStringLiteral("Frame2"));
      w.Click(QStringLiteral("CmdSTOP"));
    });
    w.Click(QStringLiteral("CmdID3v1_30"));
    QVERIFY(stopWasOn);
    QVERIFY2(caption.startsWith(QStringLiteral("WORKING: ")) && caption.endsWith(QStringLiteral(" %")),
             qPrintable(caption));
    QVERIFY(w.Log().contains(QStringLiteral("Process killed")));
    QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Changed (\\d+) MP3\\(s\\)$")).match(w.Log().last());
    QVERIFY2(m.hasMatch(), qPrintable(w.Log().last()));
    QVERIFY(m.captured(1).toInt() >= 1 && m.captured(1).toInt() < 120);
    QCOMPARE(w.Caption(QStringLiteral("Frame2")), QStringLiteral("ID3 multi tag editor"));
    QVERIFY(!w.Find<QProgressBar>(QStringLiteral("Frame2Progress"))->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!w.Find<QPushButton>(QStringLiteral("CmdSTOP"))->isEnabled(), 3000);
  }

  void closingWhileBusyWaitsForTheCommand() {
    Window w("");
    std::string tones = music_->path() + "tones/";
    QVERIFY(CreatePath(tones));
    MakeTones(tones, 40);
    w.AddFolder(tones, false);
    w.Click(QStringLiteral("ChkID3v1_1"));
    // No to "QUIT?" leaves everything as it was.
    w.dialogs.answers.push_back(false);
    w->close();
    QVERIFY(w->isVisible());
    QVERIFY(!w->TimedMessage());

    bool refused = false;
    QString title, text;
    OnFirstProgress(w, QStringLiteral("Frame2"), [&] {
      w.dialogs.answers.push_back(true);
      w->close();
      refused = w->isVisible() && !w->Closed();
      if (TimedMessageBox* box = w->TimedMessage()) {
        title = box->windowTitle();
        text = box->text();
      }
    });
    w.Click(QStringLiteral("CmdID3v1_30"));
    QVERIFY(refused);
    QCOMPARE(w.dialogs.questions.back().text, QStringLiteral("QUIT?"));
    QCOMPARE(w.dialogs.questions.back().title, QStringLiteral("QUIT"));
    QCOMPARE(title, QStringLiteral("[02.0 s] QUIT"));
    QCOMPARE(text, QStringLiteral("Still working..."));
    QCOMPARE(w.Log().last(), QStringLiteral("Changed 40 MP3(s)"));
    // The command has ended: the timer closes the window without asking.
    std::size_t asked = w.dialogs.questions.size();
    QTRY_VERIFY_WITH_TIMEOUT(w->Closed(), 4000);
    QVERIFY(!w->isVisible());
    QCOMPARE(w.dialogs.questions.size(), asked);
    auto ini = velotag::test::ReadFileBytes(w.home + "velotag.ini");
    QVERIFY(std::string(ini.begin(), ini.end()).find("ChkID3v1(1)=1") != std::string::npos);
  }

  void patternWindowPresetThenRename() {
    Window w("");
    AddDemo(w);
    QString help, example, pattern;
    QTimer::singleShot(0, this, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      QCOMPARE(dialog->windowTitle(), QStringLiteral("File renaming pattern"));
      help = dialog->findChild<QPlainTextEdit*>(QStringLiteral("TxtHelp"))->toPlainText();
      QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("CmdRenamer_2")), Qt::LeftButton);
      pattern = dialog->findChild<QLineEdit*>(QStringLiteral("TxtPattern"))->text();
      example = dialog->findChild<QLineEdit*>(QStringLiteral("TxtExample"))->text();
      QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("CmdRenamer_0")), Qt::LeftButton);
    });
    w.Click(QStringLiteral("CmdInput_10"));
    QVERIFY(help.startsWith(
        QStringLiteral("Usable variable names: %track% %title% %artist% %album% %year% %genre% \n")));
    QCOMPARE(pattern, QString::fromLatin1(kRenamePresets[1]));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\(0\\d\\) - Artist - Title - \\(\\d{4}\\)\\.mp3$"))
                 .match(example).hasMatch(), qPrintable(example));
    QCOMPARE(w->form().Options().RenamePattern, std::string(kRenamePresets[1]));

    w.ClickRow(0);
    w.dialogs.answers.push_back(true);
    w.Click(QStringLiteral("CmdInput_11"));
    QCOMPARE(w.dialogs.questions.back().text,
             QStringLiteral("Are you really want to rename selected MP3-s?\nPattern: ") +
                 QString::fromLatin1(kRenamePresets[1]));
    const QString renamed = QStringLiteral("(001) - Kallio Ensemble - Morning Light - (2003).mp3");
    QCOMPARE(w.Column(kColFileName)[0], renamed);
    QCOMPARE(w.Log().last(), QStringLiteral("Renamed file(s): 1"));
    QCOMPARE(GetPathType(demo_ + renamed.toStdString()), kPathFile);
    QCOMPARE(GetPathType(demo_ + "01 - Morning Light.mp3"), kPathMissing);
  }

  void csvLineOpensItsFolder() {
    Window w("");
    AddDemo(w);
    w.Click(QStringLiteral("CmdInput_13"));
    QString line = w.Log().last();
    QVERIFY2(line.startsWith(QStringLiteral("Saved to CSV: ") + QString::fromStdString(w.home) +
                             QStringLiteral("ID3v1_")), qPrintable(line));
    QCOMPARE(GetPathType(line.mid(14).toStdString()), kPathFile);
    auto* list = w.Find<QListWidget>(QStringLiteral("LstStat"));
    QListWidgetItem* item = list->item(list->count() - 1);
    QPoint at = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(w.dialogs.opened.size(), std::size_t{1});
    QCOMPARE(w.dialogs.opened[0], PathToUrl(w.home));
    QCOMPARE(QGuiApplication::clipboard()->text(), item->text());
  }

  void droppedFoldersAndFilesAreAdded() {
    Window w("");
    QMimeData data;
    data.setUrls({PathToUrl(demo_)});
    QPointF at = w.grid()->viewport()->rect().center();
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.grid()->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.grid()->viewport(), &drop);
    QTRY_COMPARE(w->form().Grid().ItemCount(), 6);  // with the subfolder
    w->AddPaths({demo_ + "04 - Stacked.mp3"});
    QCOMPARE(w.grid()->toolTip(), QStringLiteral("7 element(s)"));
    QCOMPARE(w.grid()->CellText(6, kColFileName), kDemoNames[3]);
  }

  void rightClickOpensTheFirstSelectedFile() {
    Window w("");
    AddDemo(w);
    QTest::mouseClick(w.grid()->viewport(), Qt::RightButton, {}, w.grid()->RowRect(3).center());
    QVERIFY(w.dialogs.opened.empty());  // nothing selected
    w.ClickRow(2);
    QTest::mouseClick(w.grid()->viewport(), Qt::RightButton, {}, w.grid()->RowRect(5).center());
    QCOMPARE(w.dialogs.opened, std::vector<QUrl>{PathToUrl(demo_ + kDemoNames[2].toStdString())});
  }

  void menuShortcutsRunTheCommands() {
    Window w("");
    AddDemo(w);
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    w.grid()->setFocus();
    QTest::keyClick(w.grid(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(w.SelectedRows().size(), std::size_t{6});
    QTest::keyClick(w.grid(), Qt::Key_I, Qt::ControlModifier);
    QCOMPARE(w.SelectedRows().size(), std::size_t{0});
    w.ClickRow(0);
    w.ClickRow(1);
    QTest::keyClick(w.grid(), Qt::Key_Delete);
    QCOMPARE(w.Log().last(), QStringLiteral("2 media file(s) deleted"));
    QCOMPARE(w.grid()->toolTip(), QStringLiteral("4 element(s)"));
  }

  void rememberesItsSizeAndArrangement() {
    TempDir home;
    QSize size;
    {
      Window w(home.path());
      w->resize(760, 560);
      w.Click(QStringLiteral("CmdResize"));
      QCOMPARE(w->Arrangement(), 1);
      QTest::qWait(50);  // the new arrangement may need more room
      size = w->size();
      QVERIFY2(size.width() < 1000, qPrintable(QStringLiteral("%1x%2 min %3").arg(size.width()).arg(size.height()).arg(w->minimumSizeHint().width())));
      w.dialogs.answers.push_back(true);
      w->close();
      QVERIFY(w->Closed());
    }
    Window again(home.path());
    QCOMPARE(again->Arrangement(), 1);
    QCOMPARE(again->size(), size);
  }

  void aSecondWindowOnTheSameFolderIsRefused() {
    TempDir home;
    Window first(home.path());
    Window second(home.path());
    QVERIFY(first->isVisible());
    QVERIFY(!second->isVisible());
    QCOMPARE(second.dialogs.messages.size(), std::size_t{1});
    QCOMPARE(second.dialogs.messages[0].text,
             QStringLiteral("The program is already running! Create another copy with other name and run!"));
    QCOMPARE(second.dialogs.messages[0].title, QStringLiteral("velotag"));
  }
};

QObject* MakeMainWindowTest() { return new MainWindowTest; }

}  // namespace velotag::gui::test

#include "main_window_test.moc"
