// The dialogs' own behaviour: the self-closing box, the file filters, and
// paths that are not UTF-8 on their way to the desktop.
#include <QAbstractButton>
#include <QApplication>
#include <QTest>

#include "gui/dialogs.h"

namespace velotag::gui::test {

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void timedBoxCountsDownAndClosesItself() {
    TimedMessageBox box(QStringLiteral("Still working..."), QStringLiteral("QUIT"),
                        MessageIcon::Information, 600);
    QCOMPARE(box.windowTitle(), QStringLiteral("[00.6 s] QUIT"));
    QCOMPARE(box.icon(), QMessageBox::Information);
    QStringList titles;
    connect(&box, &QWidget::windowTitleChanged, this, [&](const QString& t) { titles << t; });
    int result = -1;
    connect(&box, &QDialog::finished, this, [&](int r) { result = r; });
    box.show();
    QTRY_VERIFY_WITH_TIMEOUT(!box.isVisible(), 3000);
    // Closed as if its (only, first) button were pressed.
    QCOMPARE(result, int(QMessageBox::Ok));
    QVERIFY2(titles.size() >= 3, qPrintable(titles.join(QLatin1Char('|'))));
    QCOMPARE(titles.last(), QStringLiteral("[00.0 s] QUIT"));
    QVERIFY(titles.contains(QStringLiteral("[00.3 s] QUIT")) ||
            titles.contains(QStringLiteral("[00.4 s] QUIT")) ||
            titles.contains(QStringLiteral("[00.2 s] QUIT")));
  }

  void timedBoxAnsweredEarlyStopsCounting() {
    TimedMessageBox box(QStringLiteral("x"), QStringLiteral("T"), MessageIcon::None, 5000);
    box.show();
    box.buttons().front()->click();
    QVERIFY(!box.isVisible());
    QString title = box.windowTitle();
    QTest::qWait(300);
    QCOMPARE(box.windowTitle(), title);
  }

  void filtersBecomeQtFilters_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("expected");
    QTest::newRow("mp3") << "MP3|*.mp3" << "MP3 (*.mp3 *.MP3)";
    QTest::newRow("pictures") << "Pictures|*.jpe;*.jpg;*.jpeg;*.bmp;*.png;*.gif"
                              << "Pictures (*.jpe *.JPE *.jpg *.JPG *.jpeg *.JPEG *.bmp *.BMP "
                                 "*.png *.PNG *.gif *.GIF)";
    QTest::newRow("two pairs") << "A|*.a|All|*" << "A (*.a *.A);;All (*)";
    QTest::newRow("empty") << "" << "";
  }
  void filtersBecomeQtFilters() {
    QFETCH(QString, filter);
    QFETCH(QString, expected);
    QCOMPARE(ToQtFilter(filter.toStdString()), expected);
  }

  void pathsKeepTheirBytes() {
    const std::string latin1 = "/music/caf\xe9/a b#%.mp3";
    QUrl url = PathToUrl(latin1);
    QVERIFY(url.isLocalFile());
    QCOMPARE(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString(),
             latin1);
    QCOMPARE(PathToUrl("/music/Björk/").toLocalFile(), QStringLiteral("/music/Björk/"));
    QCOMPARE(QStringToPath(PathToQString("/music/Ősz/秋.mp3")), std::string("/music/Ősz/秋.mp3"));
    QCOMPARE(MessageText("a\r\nb"), QStringLiteral("a\nb"));
  }
};

}  // namespace velotag::gui::test

QTEST_MAIN(velotag::gui::test::DialogsTest)
#include "dialogs_test.moc"
