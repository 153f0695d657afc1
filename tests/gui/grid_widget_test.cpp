// The grid widget over a model of its own: what a press, a drag, a key or
// the wheel does to the rows, the columns and the events.
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QUrl>

#include "gui/gridwidget.h"
#include "gui_testutil.h"

namespace velotag::gui::test {

namespace {

struct Recorder : MyListviewEvents {
  QStringList seen;
  void ItemClick(std::int32_t id, bool selected) override {
    seen << QStringLiteral("ItemClick %1 %2").arg(id).arg(selected);
  }
  void ItemCheck(std::int32_t id, bool checked) override {
    seen << QStringLiteral("ItemCheck %1 %2").arg(id).arg(checked);
  }
  void ColumnClick(std::int32_t col) override { seen << QStringLiteral("ColumnClick %1").arg(col); }
  void ColumnArrange(std::int32_t col, std::int32_t width) override {
    seen << QStringLiteral("ColumnArrange %1 %2").arg(col).arg(width);
  }
  void ColumnResizing(std::int32_t col, std::int32_t width) override {
    seen << QStringLiteral("ColumnResizing %1 %2").arg(col).arg(width);
  }
  void StartVertScroll() override { seen << QStringLiteral("StartVertScroll"); }
  void EndVertScroll() override { seen << QStringLiteral("EndVertScroll"); }
  void KeyDown(int code, int shift) override { seen << QStringLiteral("KeyDown %1 %2").arg(code).arg(shift); }
  void KeyPress(int ascii) override { seen << QStringLiteral("KeyPress %1").arg(ascii); }
  void DblClick() override { seen << QStringLiteral("DblClick"); }
  void MouseUp(int button, int shift, int, int) override {
    seen << QStringLiteral("MouseUp %1 %2").arg(button).arg(shift);
  }
  QStringList Take() {
    QStringList s = seen;
    seen.clear();
    return s;
  }
  // Only the events of one kind.
  QStringList Kind(const QString& kind) const {
    QStringList out;
    for (const QString& s : seen)
      if (s.startsWith(kind + QLatin1Char(' ')) || s == kind) out << s;
    return out;
  }
};

}  // namespace

class GridWidgetTest : public QObject {
  Q_OBJECT

 private:
  MyListview* model_ = nullptr;
  GridWidget* widget_ = nullptr;
  Recorder events_;

  void Fill(int rows) {
    model_->Clear(false);
    for (int i = 0; i < rows; ++i)
      model_->InsertItem({QStringLiteral("row %1").arg(i).toStdString(), std::to_string(i % 7), "x"},
                         -1, false);
    model_->SetDefWidthAllCol(true);
  }
  QPoint RowPoint(int row) { return widget_->RowRect(row).center(); }

 private slots:
  void init() {
    model_ = new MyListview;
    model_->SetColumnCount(3);
    for (int c = 0; c < 3; ++c) model_->SetColumnheaderValue(c, "Column " + std::to_string(c), false);
    model_->SetMultiselect(true);
    model_->SetHasCheckBox(false);
    model_->SetFont(GridFont{"Courier New", 8, false, false});
    model_->SetEventSink(&events_);
    widget_ = new GridWidget(*model_);
    widget_->resize(500, 300);
    widget_->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget_));
    Fill(50);
    events_.Take();
  }
  void cleanup() {
    delete widget_;
    model_->SetEventSink(nullptr);
    delete model_;
  }

  void gridFontFallsBackToFixedPitch() {
    // "Courier New" is seldom installed: whatever stands in is fixed-pitch.
    QCOMPARE(widget_->TextWidth("iiii", false), widget_->TextWidth("WWWW", false));
    QCOMPARE(widget_->TextWidth("Ab\xc3\xa9", false), widget_->TextWidth("Abc", false));
    QVERIFY(widget_->TextWidth("Column", true) >= widget_->TextWidth("Column", false));
  }

  void pressTogglesTheRowAndReportsIt() {
    QTest::mouseClick(widget_->viewport(), Qt::LeftButton, {}, RowPoint(2));
    QVERIFY(model_->GetItemSelected(2));
    QTest::mouseClick(widget_->viewport(), Qt::LeftButton, {}, RowPoint(2));
    QVERIFY(!model_->GetItemSelected(2));
    QCOMPARE(events_.Kind(QStringLiteral("ItemClick")),
             (QStringList{QStringLiteral("ItemClick 2 1"), QStringLiteral("ItemClick 2 0")}));
    QCOMPARE(events_.Kind(QStringLiteral("MouseUp")),
             (QStringList{QStringLiteral("MouseUp 1 0"), QStringLiteral("MouseUp 1 0")}));
    events_.Take();
    QTest::mouseClick(widget_->viewport(), Qt::RightButton, Qt::ShiftModifier | Qt::ControlModifier,
                      RowPoint(3));
    QVERIFY(!model_->GetItemSelected(3));  // only the left button selects
    QCOMPARE(events_.Kind(QStringLiteral("MouseUp")), QStringList{QStringLiteral("MouseUp 2 3")});
  }

  void checkBoxPressChecksWithoutSelecting() {
    model_->SetHasCheckBox(true);
    QRect row = widget_->RowRect(1);
    QTest::mouseClick(widget_->viewport(), Qt::LeftButton, {}, QPoint(3, row.center().y()));
    QVERIFY(model_->GetItemCheckbox(1));
    QVERIFY(!model_->GetItemSelected(1));
    QCOMPARE(events_.Kind(QStringLiteral("ItemCheck")), QStringList{QStringLiteral("ItemCheck 1 1")});
    QTest::mouseClick(widget_->viewport(), Qt::LeftButton, {}, QPoint(row.right() - 5, row.center().y()));
    QVERIFY(model_->GetItemSelected(1));
    QVERIFY(model_->GetItemCheckbox(1));
  }

  void headerPressSortsButABorderResizes() {
    QRect cell = widget_->HeaderRect(1);
    QTest::mouseClick(widget_->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(events_.Take().filter(QStringLiteral("Column")), QStringList{QStringLiteral("ColumnClick 1")});

    // Drag the right border of column 1 by 30 pixels.
    int before = model_->GetColumnheaderWidth(1);
    QPoint border(cell.right() + 1, cell.center().y());
    QTest::mousePress(widget_->viewport(), Qt::LeftButton, {}, border);
    QMouseEvent move(QEvent::MouseMove, QPointF(border + QPoint(30, 0)),
                     widget_->viewport()->mapToGlobal(QPointF(border + QPoint(30, 0))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget_->viewport(), &move);
    QTest::mouseRelease(widget_->viewport(), Qt::LeftButton, {}, border + QPoint(30, 0));
    QCOMPARE(model_->GetColumnheaderWidth(1), before + 30);
    QStringList seen = events_.Take();
    QVERIFY(seen.filter(QStringLiteral("ColumnClick")).isEmpty());
    QCOMPARE(seen.filter(QStringLiteral("ColumnResizing")),
             QStringList{QStringLiteral("ColumnResizing 1 %1").arg(before + 30)});

    // A double-click on that border fits the column again, and is no DblClick.
    QPoint moved(widget_->HeaderRect(1).right() + 1, cell.center().y());
    QTest::mouseDClick(widget_->viewport(), Qt::LeftButton, {}, moved);
    QTest::mouseRelease(widget_->viewport(), Qt::LeftButton, {}, moved);
    QCOMPARE(model_->GetColumnheaderWidth(1), before);
    seen = events_.Take();
    QCOMPARE(seen.filter(QStringLiteral("ColumnArrange")),
             QStringList{QStringLiteral("ColumnArrange 1 %1").arg(before)});
    QVERIFY(!seen.contains(QStringLiteral("DblClick")));
  }

  void doubleClickOnARowIsASecondPress() {
    // A person's double-click: press, release, double-click, release. The
    // row is selected and deselected again.
    auto doubleClick = [&](Qt::KeyboardModifiers mods) {
      QTest::mouseClick(widget_->viewport(), Qt::LeftButton, mods, RowPoint(4));
      QTest::mouseDClick(widget_->viewport(), Qt::LeftButton, mods, RowPoint(4));
      QTest::mouseRelease(widget_->viewport(), Qt::LeftButton, mods, RowPoint(4));
    };
    doubleClick(Qt::NoModifier);
    QVERIFY(!model_->GetItemSelected(4));
    QCOMPARE(events_.Kind(QStringLiteral("ItemClick")),
             (QStringList{QStringLiteral("ItemClick 4 1"), QStringLiteral("ItemClick 4 0")}));
    QCOMPARE(events_.Kind(QStringLiteral("DblClick")).size(), 1);
    events_.Take();
    doubleClick(Qt::ShiftModifier);
    QCOMPARE(events_.Kind(QStringLiteral("DblClick")).size(), 0);
  }

  void keysScrollWithoutMovingTheSelection_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("expected");  // -1: a page down from start
    QTest::addColumn<int>("code");
    QTest::newRow("down") << 10 << int(Qt::Key_Down) << 11 << 40;
    QTest::newRow("up") << 10 << int(Qt::Key_Up) << 9 << 38;
    QTest::newRow("up at the top") << 0 << int(Qt::Key_Up) << 0 << 38;
    QTest::newRow("page down") << 10 << int(Qt::Key_PageDown) << -1 << 34;
    QTest::newRow("home") << 10 << int(Qt::Key_Home) << 0 << 36;
    QTest::newRow("end") << 10 << int(Qt::Key_End) << 49 << 35;
  }
  void keysScrollWithoutMovingTheSelection() {
    QFETCH(int, start);
    QFETCH(int, key);
    QFETCH(int, expected);
    QFETCH(int, code);
    model_->SetItemSelected(12, true, false);
    model_->TrackVisible(start, true);
    QTest::keyClick(widget_, Qt::Key(key));
    if (expected < 0) expected = start + widget_->VisibleRows();
    QCOMPARE(model_->VSCROLL_VALUE(), expected);
    QCOMPARE(widget_->verticalScrollBar()->value(), expected);
    QCOMPARE(widget_->RowAt(widget_->RowRect(expected).center()), expected);
    QCOMPARE(model_->GetFirstSelectedItemID(), 12);
    QCOMPARE(events_.Kind(QStringLiteral("KeyDown")), QStringList{QStringLiteral("KeyDown %1 0").arg(code)});
  }

  void characterKeysAreReported() {
    QTest::keyClick(widget_, 'a');
    QTest::keyClick(widget_, 'A', Qt::ShiftModifier);
    QCOMPARE(events_.Kind(QStringLiteral("KeyDown")),
             (QStringList{QStringLiteral("KeyDown 65 0"), QStringLiteral("KeyDown 16 1"),
                          QStringLiteral("KeyDown 65 1")}));
    QCOMPARE(events_.Kind(QStringLiteral("KeyPress")),
             (QStringList{QStringLiteral("KeyPress 97"), QStringLiteral("KeyPress 65")}));
    QCOMPARE(model_->VSCROLL_VALUE(), 0);
  }

  void wheelScrollsThreeRowsANotch() {
    auto wheel = [&](QPoint delta, Qt::KeyboardModifiers mods) {
      QPointF at = widget_->viewport()->rect().center();
      QWheelEvent e(at, widget_->viewport()->mapToGlobal(at), QPoint(), delta, Qt::NoButton, mods,
                    Qt::NoScrollPhase, false);
      QApplication::sendEvent(widget_->viewport(), &e);
    };
    wheel(QPoint(0, -120), Qt::NoModifier);
    QCOMPARE(model_->VSCROLL_VALUE(), 3);
    wheel(QPoint(0, -60), Qt::NoModifier);  // half a notch: a row and a half, one row now
    QCOMPARE(model_->VSCROLL_VALUE(), 4);
    wheel(QPoint(0, 240), Qt::NoModifier);
    QCOMPARE(model_->VSCROLL_VALUE(), 0);
    model_->SetColumnheaderWidth(2, 2000, true);
    wheel(QPoint(0, -120), Qt::ShiftModifier);  // sideways
    QCOMPARE(model_->HSCROLL_VALUE(), 48);
    QCOMPARE(model_->VSCROLL_VALUE(), 0);
  }

  void scrollBarAndModelMoveTogether() {
    Fill(100000);
    QCOMPARE(widget_->verticalScrollBar()->maximum(), 99999);
    model_->TrackVisible(54321, true);
    QCOMPARE(widget_->verticalScrollBar()->value(), 54321);
    QCOMPARE(widget_->CellText(widget_->RowAt(widget_->RowRect(54321).center()), 0),
             QStringLiteral("row 54321"));
    widget_->verticalScrollBar()->setValue(777);
    QCOMPARE(model_->VSCROLL_VALUE(), 777);
    events_.Take();
    QScrollBar* bar = widget_->verticalScrollBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - 4));
    QCOMPARE(events_.Take().filter(QStringLiteral("VertScroll")),
             (QStringList{QStringLiteral("StartVertScroll"), QStringLiteral("EndVertScroll")}));
    QVERIFY(model_->VSCROLL_VALUE() > 777);
  }

  void paintsTheModelColours() {
    model_->SetBackColor({255, 238, 221});
    model_->SetFontColor({0, 0, 0});
    model_->SetHeaderBckColor({236, 233, 216});
    model_->SetItemSelected(1, true, true);
    QImage image = widget_->viewport()->grab().toImage();
    auto at = [&](QPoint p) {
      return image.pixelColor(p * image.devicePixelRatio()).rgb() & 0xFFFFFF;
    };
    QRect free = widget_->RowRect(0);
    QRect selected = widget_->RowRect(1);
    QPoint blank(widget_->HeaderRect(2).right() + 20, 0);  // right of every column
    QCOMPARE(at(QPoint(blank.x(), free.center().y())), QColor(255, 238, 221).rgb() & 0xFFFFFF);
    GridColor s = model_->SelectionColor();
    QCOMPARE(at(QPoint(widget_->HeaderRect(2).right() - 2, selected.center().y())),
             QColor(s.r, s.g, s.b).rgb() & 0xFFFFFF);
    QCOMPARE(at(QPoint(widget_->HeaderRect(1).center().x(), 1)), QColor(236, 233, 216).rgb() & 0xFFFFFF);
  }

  void passwordColumnsShowStars() {
    model_->SetColumnPassword(1, true, true);
    QCOMPARE(widget_->CellText(3, 1), QStringLiteral("*****"));
    QCOMPARE(widget_->CellText(3, 0), QStringLiteral("row 3"));
  }

  void droppedFilesArriveAsTheirBytes() {
    QList<QByteArray> got;
    connect(widget_, &GridWidget::pathsDropped, this, [&](const QList<QByteArray>& p) { got = p; });
    QMimeData data;
    QByteArray latin1Name("/music/caf\xe9 & co.mp3");  // not UTF-8
    data.setUrls({QUrl::fromEncoded("file://" + latin1Name.toPercentEncoding("/")),
                  QUrl(QStringLiteral("https://example.com/x.mp3")),
                  QUrl::fromLocalFile(QStringLiteral("/music/Björk"))});
    QPointF at = widget_->viewport()->rect().center();
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget_->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget_->viewport(), &drop);
    QCOMPARE(got, (QList<QByteArray>{latin1Name, QByteArray("/music/Bj\xc3\xb6rk")}));
  }
};

QObject* MakeGridWidgetTest() { return new GridWidgetTest; }

}  // namespace velotag::gui::test

#include "grid_widget_test.moc"
