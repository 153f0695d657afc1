// The dialogs' own behaviour: the self-closing box, the file filters, and
// paths that are not UTF-8 on their way to the desktop.
#include "gui/dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

using namespace Qt::StringLiterals;

namespace velotag::gui::test {

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void timedBoxCountsDownAndClosesItself() {
    TimedMessageBox box(u"Still working..."_s, u"QUIT"_s, MessageIcon::Information, 600);
    QCOMPARE(box.windowTitle(), u"[00.6 s] QUIT"_s);
    int result = -1;
    connect(&box, &QDialog::finished, this, [&](int r) { result = r; });
    box.show();
    QTRY_VERIFY_WITH_TIMEOUT(!box.isVisible(), 3000);
    QCOMPARE(result, int(QMessageBox::Ok));  // as if its only button were pressed
    QCOMPARE(box.windowTitle(), u"[00.0 s] QUIT"_s);
  }

  void filtersAndPathsForQt() {
    const std::pair<const char*, const char*> cases[] = {
        {"MP3|*.mp3", "MP3 (*.mp3 *.MP3)"},
        {"Pictures|*.jpe;*.png", "Pictures (*.jpe *.JPE *.png *.PNG)"},
        {"A|*.a|All|*", "A (*.a *.A);;All (*)"},
        {"", ""}};
    for (const auto& [filter, expected] : cases) QCOMPARE(ToQtFilter(filter), QString::fromUtf8(expected));
    // Paths that are not UTF-8 keep their bytes on the way to the desktop.
    const std::string latin1 = "/music/caf\xe9/a b#%.mp3";
    QUrl url = PathToUrl(latin1);
    QVERIFY(url.isLocalFile());
    QCOMPARE(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString(), latin1);
  }
};

}  // namespace velotag::gui::test

QTEST_MAIN(velotag::gui::test::DialogsTest)
#include "dialogs_test.moc"
