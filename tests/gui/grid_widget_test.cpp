// The grid widget over a model of its own: what a drag, a double-click, a
// key or the scroll bar does to the rows and the columns. Presses on rows
// with their modifiers run through the real window in main_window_test.cpp;
// of the events, only those the window acts on are checked.
#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <utility>

#include "gui/gridwidget.h"

using namespace Qt::StringLiterals;

namespace velotag::gui::test {

namespace {

struct Recorder : MyListviewEvents {
  QStringList seen;
  void ItemClick(std::int32_t id, bool on) override { seen << u"ItemClick %1 %2"_s.arg(id).arg(int(on)); }
  void ColumnClick(std::int32_t col) override { seen << u"ColumnClick %1"_s.arg(col); }  // sorts
  void DblClick() override { seen << u"DblClick"_s; }  // reloads the list
  QStringList Take() { return std::exchange(seen, {}); }
};

}  // namespace

class GridWidgetTest : public QObject {
  Q_OBJECT

 private:
  Recorder events_;
  std::unique_ptr<MyListview> model_;
  std::unique_ptr<GridWidget> widget_;

  void Fill(int rows) {
    model_->Clear(false);
    for (int i = 0; i < rows; ++i)
      model_->InsertItem({u"row %1"_s.arg(i).toStdString(), std::to_string(i % 7), "x"}, -1, false);
    model_->SetDefWidthAllCol(true);
  }
  QPoint RowPoint(int row) { return widget_->RowRect(row).center(); }
  // Qt's double-click: press, release, double-click, release.
  void DoubleClick(QPoint at, Qt::KeyboardModifiers mods = {}) {
    QTest::mouseClick(widget_->viewport(), Qt::LeftButton, mods, at);
    QTest::mouseDClick(widget_->viewport(), Qt::LeftButton, mods, at);
    QTest::mouseRelease(widget_->viewport(), Qt::LeftButton, mods, at);
  }

 private slots:
  void init() {
    model_ = std::make_unique<MyListview>();
    model_->SetColumnCount(3);
    for (int c = 0; c < 3; ++c) model_->SetColumnheaderValue(c, "Column " + std::to_string(c), false);
    model_->SetMultiselect(true);
    model_->SetHasCheckBox(false);
    model_->SetEventSink(&events_);
    widget_ = std::make_unique<GridWidget>(*model_);
    widget_->resize(500, 300);
    widget_->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget_.get()));
    Fill(50);
    events_.Take();
  }
  void cleanup() {
    widget_.reset();
    model_.reset();
  }

  void borderDragAndDoubleClicks() {
    // Drag the right border of column 1 by 30 pixels: a resize, no sort.
    QRect cell = widget_->HeaderRect(1);
    int before = model_->GetColumnheaderWidth(1);
    QPoint border(cell.right() + 1, cell.center().y()), to = border + QPoint(30, 0);
    QTest::mousePress(widget_->viewport(), Qt::LeftButton, {}, border);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), widget_->viewport()->mapToGlobal(QPointF(to)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget_->viewport(), &move);
    QTest::mouseRelease(widget_->viewport(), Qt::LeftButton, {}, to);
    QCOMPARE(model_->GetColumnheaderWidth(1), before + 30);
    // A double-click on that border fits the column again, and is no DblClick.
    DoubleClick(QPoint(widget_->HeaderRect(1).right() + 1, cell.center().y()));
    QCOMPARE(model_->GetColumnheaderWidth(1), before);
    QCOMPARE(events_.Take(), QStringList{});

    // On a row it is a second press, and a DblClick only without Shift.
    DoubleClick(RowPoint(4));
    QCOMPARE(events_.Take(), (QStringList{u"ItemClick 4 1"_s, u"ItemClick 4 0"_s, u"DblClick"_s}));
    DoubleClick(RowPoint(4), Qt::ShiftModifier);
    QVERIFY(!events_.Take().contains(u"DblClick"_s));
  }

  // Keys and the scroll bar move the view, never the selection.
  void keysAndTheScrollBarMoveTheView() {
    const int page = 10 + widget_->VisibleRows();
    const struct {
      int start, key, expected;
    } cases[] = {{10, Qt::Key_Down, 11},       {10, Qt::Key_Up, 9},   {0, Qt::Key_Up, 0},
                 {10, Qt::Key_PageDown, page}, {10, Qt::Key_Home, 0}, {10, Qt::Key_End, 49}};
    model_->SetItemSelected(12, true, false);
    for (const auto& c : cases) {
      model_->TrackVisible(c.start, true);
      QTest::keyClick(widget_.get(), Qt::Key(c.key));
      QCOMPARE(QList<int>({model_->VSCROLL_VALUE(), widget_->verticalScrollBar()->value(),
                           widget_->RowAt(RowPoint(c.expected))}),
               QList<int>({c.expected, c.expected, c.expected}));
      QCOMPARE(model_->GetFirstSelectedItemID(), 12);
    }

    Fill(100000);
    QScrollBar* bar = widget_->verticalScrollBar();
    QCOMPARE(bar->maximum(), 99999);
    model_->TrackVisible(54321, true);
    QCOMPARE(bar->value(), 54321);
    QCOMPARE(widget_->CellText(widget_->RowAt(RowPoint(54321)), 0), u"row 54321"_s);
    bar->setValue(777);
    QCOMPARE(model_->VSCROLL_VALUE(), 777);
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - 4));
    QVERIFY(model_->VSCROLL_VALUE() > 777);
  }
};

}  // namespace velotag::gui::test

QTEST_MAIN(velotag::gui::test::GridWidgetTest)
#include "grid_widget_test.moc"
