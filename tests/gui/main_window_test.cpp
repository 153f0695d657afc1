// The real window driven as a person drives it: buttons, rows, headers,
// text boxes, the Stop button, closing, the pattern window. What is checked
// is what the person sees (captions, log lines, cell texts) and the files.
#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <deque>
#include <tuple>
#include <utility>

#include "gui/dialogs.h"
#include "gui/gridwidget.h"
#include "gui/mainwindow.h"
#include "support/paths.h"
#include "testutil.h"

using namespace Qt::StringLiterals;

namespace velotag::gui::test {

namespace {

namespace vt = velotag::test;
using vt::TempDir;

// A person who answers the dialogs from a script: Yes/No, folders and typed
// texts in order (No, none and a cancel when none is left).
class ScriptedDialogs : public DialogProvider {
 public:
  std::deque<bool> answers;
  std::deque<QString> folders, texts;
  QStringList questions, messages;  // "title: text"
  std::vector<QUrl> opened;

  bool AskYesNo(QWidget*, const QString& text, const QString& title) override {
    questions << title + u": "_s + text;
    return vt::PopFront(answers);
  }
  void ShowMessage(QWidget*, const QString& text, const QString& title, MessageIcon) override {
    messages << title + u": "_s + text;
  }
  QString ChooseFolder(QWidget*, const QString&, const QString&) override { return vt::PopFront(folders); }
  QString ChooseFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  void OpenExternally(const QUrl& url) override { opened.push_back(url); }
  bool AskText(QWidget*, const QString&, const QString&, QString& text) override {
    if (texts.empty()) return false;
    text = vt::PopFront(texts);
    return true;
  }
};

// A window over a scratch program folder, started and shown.
struct Window {
  explicit Window(const std::string& programFolder, const std::vector<std::string>& paths = {})
      : home(programFolder.empty() ? ownHome.path() : programFolder) {
    window = std::make_unique<MainWindow>(AppPaths{home, "velotag"}, nullptr, &dialogs);
    if (window->Start(paths)) {
      window->show();
      if (!QTest::qWaitForWindowExposed(window.get())) std::fprintf(stderr, "window not exposed\n");
    }
  }
  TempDir ownHome;
  std::string home;
  ScriptedDialogs dialogs;
  std::unique_ptr<MainWindow> window;
  MainWindow* operator->() { return window.get(); }
  GridWidget* grid() { return window->grid(); }

  // A widget of the window by its object name.
  template <class T> T* Find(const QString& name) { return window->findChild<T*>(name); }
  void Click(const QString& name) {
    auto* button = Find<QAbstractButton>(name);
    if (!button) return QTest::qFail(qPrintable(u"no button "_s + name), __FILE__, __LINE__);
    // A check box or an option button reacts on its mark and caption only,
    // not on the empty rest of a wide widget.
    bool marked = button->inherits("QCheckBox") || button->inherits("QRadioButton");
    QPoint at = marked ? QPoint(8, button->height() / 2) : button->rect().center();
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, at);
  }
  // "Add media folder" answered with folder and Yes/No to the subfolders.
  void AddFolder(const std::string& folder, bool subfolders) {
    dialogs.folders.push_back(QString::fromStdString(folder));
    dialogs.answers.push_back(subfolders);
    Click(u"CmdInput_1"_s);
  }
  void ClickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(grid()->viewport(), button, modifiers, grid()->RowRect(row).center());
  }
  void ClickHeader(int col) {
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, Qt::NoModifier, grid()->HeaderRect(col).center());
  }
  void TypeInto(const QString& box, const QString& text) {
    auto* edit = Find<QLineEdit>(box);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
  }
  // The log as the list shows it, without the "[hh:mm:ss] " stamps.
  QStringList Log() {
    QStringList lines;
    auto* list = Find<QListWidget>(u"LstStat"_s);
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text().mid(11);
    return lines;
  }
  // The texts a column shows, top to bottom.
  QStringList Column(int col) {
    QStringList texts;
    for (int i = 0; i < window->form().Grid().ItemCount(); ++i) texts << grid()->CellText(i, col);
    return texts;
  }
  // The selected rows' numbers, "0 3".
  QString Selected() {
    QStringList rows;
    for (int i = 0; i < window->form().Grid().ItemCount(); ++i)
      if (window->form().Grid().GetItemSelected(i)) rows << QString::number(i);
    return rows.join(u' ');
  }
  bool IniHas(const std::string& line) {
    auto ini = vt::ReadFileBytes(home + "velotag.ini");
    return std::string(ini.begin(), ini.end()).find(line) != std::string::npos;
  }
  QString Caption(const QString& frame) { return Find<QLabel>(frame + u"Caption"_s)->text(); }
  QString Text(const QString& box) { return Find<QLineEdit>(box)->text(); }
};

// A new folder of count untagged copies of the demo tone: 000.mp3, 001.mp3, ...
std::string MakeTones(const std::string& folder, int count) {
  CreatePath(folder);
  vt::Bytes tone = vt::ReadFileBytes(std::string(VELOTAG_DEMO_SOURCE) + "/tone.mp3");
  for (int i = 0; i < count; ++i)
    vt::WriteFileBytes(folder + QString::asprintf("%03d.mp3", i).toStdString(), tone);
  return folder;
}

const QStringList kDemoNames = {
    u"01 - Morning Light.mp3"_s, u"02 - Harbour Lights.mp3"_s, u"03 - Árvíztűrő tükörfúrógép.mp3"_s,
    u"04 - Stacked.mp3"_s,       u"05 untagged.mp3"_s,         u"06 - Encore.mp3"_s};

// Whether the whole widget shows: no parent up to top clips any of it.
bool InView(QWidget* widget, QWidget* top) {
  if (!widget->isVisible() || widget->width() < widget->minimumSizeHint().width() ||
      widget->height() < widget->minimumSizeHint().height()) return false;
  for (QWidget* p = widget->parentWidget(); p; p = p->parentWidget()) {
    if (!p->rect().contains(QRect(widget->mapTo(p, QPoint(0, 0)), widget->size()))) return false;
    if (p == top) break;
  }
  return true;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TempDir> music_;
  std::string demo_;

  // The demo library in the list, sorted by file name with a header click.
  void AddDemo(Window& w) {
    w.AddFolder(demo_, true);
    w.ClickHeader(kColFileName);
  }

 private slots:
  void init() {
    music_ = std::make_unique<TempDir>();
    demo_ = music_->path() + "demo/";
    // The demo library, as scripts/run.sh writes it.
    auto r = vt::RunProcess({VELOTAG_MAKE_DEMO, VELOTAG_DEMO_SOURCE, demo_});
    QVERIFY2(r.exitCode == 0, r.err.c_str());
  }
  void cleanup() { music_.reset(); }

  void opensOnceAddsTheDemoSelectsAndRemembers() {
    Window w("");
    // ID3v1 editing: the ID3v2-only inputs are off.
    QVERIFY(!w.Find<QLineEdit>(u"TxtID3_6"_s)->isEnabled());
    // One window per program folder and executable name: a second start
    // hands its files to the first and ends without a word.
    {
      Window second(w.home, {demo_ + "Live/"});
      QVERIFY(!second->isVisible() && second.dialogs.messages.isEmpty());
      QTRY_COMPARE(w->form().Grid().ItemCount(), 1);
    }
    w.Click(u"CmdInput_4"_s);
    QCOMPARE(w.Log().last(), u"Delete all media file(s) (1)"_s);
    AddDemo(w);
    QCOMPARE(w.dialogs.questions, QStringList{u"Add media folder: Search in subfolders?"_s});
    QCOMPARE(w.Column(kColFileName), kDemoNames);
    QCOMPARE(w.Column(kColTrack), (QStringList{"001", "", "003", "004", "", "006"}));
    QCOMPARE(w.Column(kColID3v1), (QStringList{"1", "0", "1", "1", "0", "1"}));
    QCOMPARE(w.Column(kColID3v2), (QStringList{"0", "3", "4", "0", "0", "3"}));
    // The list shows the ID3v2 fields after "Show ID3v2".
    w.Click(u"OptID3ver_1"_s);
    QCOMPARE(w.Column(kColTrack), (QStringList{"", "2/6", "3", "", "", "6"}));
    QCOMPARE(w.Column(kColID3v2), (QStringList{"0", "3", "p4", "0", "0", "3"}));
    QCOMPARE(w.grid()->CellText(2, kColAlbum), u"Ősz / 秋"_s);

    // Clicks select rows: Shift makes a range, Ctrl+Shift does not; row -1
    // stands for "Invert selection".
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier, ctrlShift = Qt::ShiftModifier | Qt::ControlModifier;
    const std::tuple<int, Qt::KeyboardModifiers, QString> clicks[] = {
        {0, {}, u"0"_s},  {3, ctrlShift, u"0 3"_s}, {5, shift, u"0 1 2 3 4 5"_s},
        {-1, {}, u""_s},  {1, {}, u"1"_s},          {4, shift, u"1 2 3 4"_s}};
    for (const auto& [row, modifiers, selected] : clicks) {
      if (row < 0) w.Click(u"CmdInput_0"_s);
      else w.ClickRow(row, modifiers);
      QCOMPARE(w.Selected(), selected);
    }
    // A right click opens the first selected file: the range's first row.
    w.ClickRow(5, Qt::NoModifier, Qt::RightButton);
    QCOMPARE(w.dialogs.opened, std::vector<QUrl>{PathToUrl(demo_ + kDemoNames[1].toStdString())});

    // The other arrangement and the window's size come back at the next start.
    w->resize(760, 560);
    w.Click(u"CmdResize"_s);
    QCOMPARE(w->Arrangement(), 1);
    QTest::qWait(50);  // the new arrangement may need more room
    const QSize size = w->size();
    QVERIFY(size.width() < 1000);
    // And the AcoustID key set from the Tags menu, trimmed.
    w.dialogs.texts.push_back(u" K3y "_s);
    for (QAction* a : w->findChildren<QAction*>())
      if (a->text() == u"AcoustID key..."_s) a->trigger();
    QCOMPARE(w.Log().last(), u"AcoustID key set: Auto tag asks AcoustID"_s);
    w.dialogs.answers.push_back(true);
    w->close();
    QVERIFY(w->Closed() && w.IniHas("acoustid_key=K3y\r\n"));
    w.window.reset();
    Window again(w.home);
    QCOMPARE(again->Arrangement(), 1);
    QCOMPARE(again->size(), size);
  }

  // On a 1024x600 screen (gui.MainWindowSmallScreenTest) a first start fits
  // it, and with the window as large as the screen, in both layouts and with
  // text at 150 %, every button outside the scrolling fields is in view. The
  // pictures it draws are the ones in docs/.
  void fitsSmallScreensAndLargeText() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    if (screen.size() != QSize(1024, 600)) QSKIP("runs on the 1024x600 screen of its own test");
    const QFont normal = QApplication::font();
    const struct {
      const char* picture;
      double textScale;
      int arrangement;
    } cases[] = {{"velotag-1024x600", 1.0, 0}, {"velotag-1024x600-beside", 1.0, 1},
                 {"velotag-1024x600-text150", 1.5, 0}, {"velotag-1024x600-text150-beside", 1.5, 1}};
    for (const auto& c : cases) {
      QFont font = normal;
      font.setPointSizeF(normal.pointSizeF() * c.textScale);
      QApplication::setFont(font);
      Window w("");
      QVERIFY(w->screen()->availableGeometry().contains(w->frameGeometry()));
      AddDemo(w);
      w->SetArrangement(c.arrangement);
      w->setGeometry(screen);
      QTest::qWait(50);
      w->grab().save(QString::fromLatin1(c.picture) + u".png"_s);
      QCOMPARE(w->size(), screen.size());
      auto* fields = w.Find<QWidget>(u"PanelScroll"_s);
      for (QPushButton* b : w->findChildren<QPushButton*>()) {
        if (fields->isAncestorOf(b) || !b->isVisibleTo(w.window.get())) continue;
        QVERIFY2(InView(b, w.window.get()), qPrintable(QString::fromLatin1(c.picture) + u" "_s + b->objectName()));
      }
    }
    QApplication::setFont(normal);
  }

  void changesFieldsInID3v2Mode() {
    Window w("");
    AddDemo(w);
    w.Click(u"OptID3editVer_1"_s);
    w.Click(u"OptID3ver_1"_s);
    QVERIFY(w.Find<QLineEdit>(u"TxtID3_6"_s)->isEnabled());

    // Load a file into the panel, then change two fields of two files.
    w.ClickRow(2);
    w.Click(u"CmdInput_5"_s);
    // Title, the year in the box after the album's, and an ID3v2-only field.
    QCOMPARE(w.Text(u"TxtID3_1"_s) + u"|"_s + w.Text(u"TxtID3_4"_s) + u"|"_s + w.Text(u"TxtID3_7"_s),
             u"Árvíztűrő tükörfúrógép|2011|Sigur Rós"_s);
    QCOMPARE(w.Log().last(), u"The file contain picture(s) "_s + kDemoNames[2]);
    QTest::keyClick(w.grid(), Qt::Key_Home);  // the load scrolled the row to the top
    w.ClickRow(2);                            // deselect
    w.TypeInto(u"TxtID3_1"_s, u"Neue Straße"_s);
    w.TypeInto(u"TxtID3_2"_s, u"Velo"_s);
    w.Click(u"ChkID3v1_1"_s);
    w.Click(u"ChkID3v1_2"_s);
    w.ClickRow(1);
    w.ClickRow(4);
    w.Click(u"CmdID3v1_31"_s);
    QCOMPARE(w.Log().last(), u"Changed 2 MP3(s)"_s);
    QCOMPARE(w.Column(kColTitle), (QStringList{"", "Neue Straße", "Árvíztűrő tükörfúrógép", "", "Neue Straße", "Encore"}));
    QCOMPARE(w.Column(kColArtist)[4] + w.Column(kColID3v2)[4], u"Velo4"_s);  // a new tag for the untagged file
    QCOMPARE(vt::MutagenFields(demo_ + "05 untagged.mp3")["title"].string, std::string("Neue Straße"));
    QCOMPARE(vt::MutagenFields(demo_ + "02 - Harbour Lights.mp3")["artist"].string, std::string("Velo"));
  }

  void stopAndCloseDuringALongBatch() {
    Window w("");
    w.AddFolder(MakeTones(music_->path() + "tones/", 120), false);
    w.ClickHeader(kColSize);  // the sizes are equal: a sort swaps every row
    QCOMPARE(w.Column(kColFileName)[0], u"119.mp3"_s);
    w.TypeInto(u"TxtID3_1"_s, u"Stopped"_s);
    w.Click(u"ChkID3v1_1"_s);
    w.dialogs.answers.push_back(false);  // No to "QUIT?" leaves everything as it was
    w->close();
    QVERIFY(w->isVisible());

    // The first time the progress bar moves: in the middle of the command.
    bool stopWasOn = false, refused = false, fired = false;
    QString caption, box;
    auto* bar = w.Find<QProgressBar>(u"Frame2Progress"_s);
    QObject::connect(bar, &QProgressBar::valueChanged, bar, [&](int) {
      if (std::exchange(fired, true)) return;
      QTest::qWait(1300);  // the timer turns Stop on within a second of the start
      stopWasOn = w.Find<QPushButton>(u"CmdSTOP"_s)->isEnabled();
      caption = w.Caption(u"Frame2"_s);
      w.dialogs.answers.push_back(true);
      w->close();
      refused = w->isVisible() && !w->Closed();
      if (TimedMessageBox* b = w->TimedMessage()) box = b->windowTitle() + u": "_s + b->text();
      // Refused while busy: Delete all, and a sort that would move the rows under the command.
      w.Click(u"CmdInput_4"_s);
      w.ClickHeader(kColSize);
      w.Click(u"CmdSTOP"_s);
      w.Click(u"CmdSTOP"_s);  // a second Stop changes nothing
    });
    w.Click(u"CmdID3v1_30"_s);
    QVERIFY(stopWasOn);
    QVERIFY2(caption.startsWith(u"WORKING: "_s) && caption.endsWith(u" %"_s) && refused, qPrintable(caption));
    QCOMPARE(w.dialogs.questions.back(), u"QUIT: QUIT?"_s);
    QCOMPARE(box, u"[02.0 s] QUIT: Still working..."_s);
    QVERIFY(w.Log().contains(u"Process killed"_s) && w.Log().count(u"Still working..."_s) >= 2);
    QCOMPARE(u"%1 %2 %3 %4"_s.arg(w.Column(kColFileName)[0]).arg(w->form().Grid().ItemCount())
                 .arg(w->form().BusyCount()).arg(w.Caption(u"Frame2"_s)),
             u"119.mp3 120 0 ID3 multi tag editor"_s);
    int changed = w.Log().last().section(QLatin1Char(' '), 1, 1).toInt();
    QVERIFY2(changed >= 1 && changed < 120, qPrintable(w.Log().last()));
    // The command has ended: the timer turns Stop off and closes the window
    // without asking again.
    qsizetype asked = w.dialogs.questions.size();
    QTRY_VERIFY_WITH_TIMEOUT(!w.Find<QPushButton>(u"CmdSTOP"_s)->isEnabled(), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(w->Closed(), 4000);
    QCOMPARE(w.dialogs.questions.size(), asked);
    QVERIFY(w.IniHas("ChkID3v1(1)=1"));
  }

  void patternWindowPresetRenameAndCsv() {
    Window w("");
    AddDemo(w);
    QString example;
    QTimer::singleShot(0, this, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      QTest::mouseClick(dialog->findChild<QPushButton*>(u"CmdRenamer_2"_s), Qt::LeftButton);
      example = dialog->findChild<QLineEdit*>(u"TxtExample"_s)->text();
      QTest::mouseClick(dialog->findChild<QPushButton*>(u"CmdRenamer_0"_s), Qt::LeftButton);
    });
    w.Click(u"CmdInput_10"_s);
    QVERIFY2(QRegularExpression(u"^\\(0\\d\\) - Artist - Title - \\(\\d{4}\\)\\.mp3$"_s).match(example).hasMatch(),
             qPrintable(example));

    w.ClickRow(0);
    w.dialogs.answers.push_back(true);
    w.Click(u"CmdInput_11"_s);
    const QString renamed = u"(001) - Kallio Ensemble - Morning Light - (2003).mp3"_s;
    QCOMPARE(w.Column(kColFileName)[0], renamed);
    QCOMPARE(w.Log().last(), u"Renamed file(s): 1"_s);
    QCOMPARE(GetPathType(demo_ + renamed.toStdString()), kPathFile);

    // Save to CSV; a double click on its log line opens the folder.
    w.Click(u"CmdInput_13"_s);
    QString line = w.Log().last();
    QVERIFY2(line.startsWith(u"Saved to CSV: "_s + QString::fromStdString(w.home) + u"ID3v1_"_s), qPrintable(line));
    QCOMPARE(GetPathType(line.mid(14).toStdString()), kPathFile);
    auto* list = w.Find<QListWidget>(u"LstStat"_s);
    QListWidgetItem* item = list->item(list->count() - 1);
    QPoint at = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(w.dialogs.opened, std::vector<QUrl>{PathToUrl(w.home)});
    QCOMPARE(QGuiApplication::clipboard()->text(), item->text());
  }

  void droppedFilesAndShortcuts() {
    Window w("");
    const std::string latin1 = music_->path() + "caf\xe9.mp3";  // a name that is not UTF-8
    vt::WriteFileBytes(latin1, vt::ReadFileBytes(demo_ + kDemoNames[0].toStdString()));
    QMimeData data;
    data.setUrls({PathToUrl(demo_), QUrl::fromEncoded("file://" + QByteArray(latin1.c_str()).toPercentEncoding("/")),
                  QUrl(u"https://example.com/x.mp3"_s)});
    QPointF at = w.grid()->viewport()->rect().center();
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.grid()->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.grid()->viewport(), &drop);
    // The folder with its subfolder, then the file by its own bytes; no web address.
    QTRY_COMPARE(w->form().Grid().ItemCount(), 7);
    std::vector<std::string> row;
    QVERIFY(w->form().Grid().GetItem(6, row));
    QCOMPARE(row[kColPath], latin1);
    // The menu's shortcuts on those rows: the rows go, the files stay.
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    w.grid()->setFocus();
    QTest::keyClick(w.grid(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(w.Selected(), u"0 1 2 3 4 5 6"_s);
    w.ClickRow(0);
    w.ClickRow(1);
    QTest::keyClick(w.grid(), Qt::Key_Delete);
    QCOMPARE(w.Log().last() + u" "_s + w.Column(kColFileName).join(u'|'),
             u"5 media file(s) deleted "_s + kDemoNames.mid(0, 2).join(u'|'));
    QCOMPARE(GetPathType(latin1), kPathFile);
  }
};

}  // namespace velotag::gui::test

QTEST_MAIN(velotag::gui::test::MainWindowTest)
#include "main_window_test.moc"
