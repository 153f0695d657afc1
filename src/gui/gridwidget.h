// The media grid on screen: paints a MyListview (only the rows in view) and
// turns mouse, wheel and keyboard into the model's operations and events.
#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QFont>
#include <QList>
#include <QPointF>
#include <QRawFont>
#include <array>
#include <cstdint>
#include <unordered_map>

#include "grid/mylistview.h"

namespace velotag::gui {

class GridWidget : public QAbstractScrollArea, public GridSurface {
  Q_OBJECT

 public:
  explicit GridWidget(MyListview& grid, QWidget* parent = nullptr);
  ~GridWidget() override;

  MyListview& model() { return grid_; }

  // Geometry in viewport coordinates.
  int RowHeight() const { return rowHeight_; }
  int HeaderHeight() const;
  // The rectangle of a row in view; empty when the row is not in view.
  QRect RowRect(std::int32_t itemId) const;
  // The header cell of a column (its right border is rect.right() + 1).
  QRect HeaderRect(std::int32_t colIndex) const;
  // The row under a viewport point, -1 for none (header, below the rows).
  std::int32_t RowAt(QPoint pos) const;
  // The text a cell shows ("*****" in a password column).
  QString CellText(std::int32_t itemId, std::int32_t colIndex) const;
  // Rows that fit in the view, the last one possibly cut.
  std::int32_t VisibleRows() const;

  // GridSurface.
  std::int32_t TextWidth(std::string_view text, bool bold) override;
  std::int32_t TextHeight(std::string_view text, bool bold) override;
  void Repaint() override;
  void PropertyChanged(std::string_view name) override;

 signals:
  // Local files and folders dropped on the grid, as the kernel's path bytes.
  void pathsDropped(const QList<QByteArray>& paths);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ApplyFont();
  void SyncScrollBars();
  void UpdatePageSizes();
  // A left press (or the second press of a double-click) at pos.
  void Press(QPoint pos, bool secondPress);
  std::int32_t ColumnLeft(std::int32_t colIndex) const;

  MyListview& grid_;
  QFont font_;
  QFont bold_;
  // In a fixed-pitch font (the grid's) a text is measured by adding up the
  // advances of its characters, and ASCII texts are drawn as glyph runs,
  // without shaping each text anew: both matter with 100,000 rows.
  struct Pitch {
    bool fixed = false;
    qreal advance = 0;                            // of every ASCII character
    std::unordered_map<char32_t, qreal> others;  // measured on first use
  };
  std::int32_t FixedWidth(Pitch& pitch, const QFont& font, std::string_view text);
  // Adds a text to the column's glyph run, up to the pixel right; false
  // (and nothing added) when it needs the text engine.
  bool AppendToRun(std::string_view text, qreal x, int y, int right);
  Pitch plainPitch_;
  Pitch boldPitch_;
  QRawFont raw_;
  std::array<quint32, 95> asciiGlyphs_{};
  bool glyphRuns_ = false;
  QList<quint32> runGlyphs_;
  QList<QPointF> runPositions_;
  std::unordered_map<char32_t, quint32> runGlyphCache_;  // 0: not in a run
  int rowHeight_ = 16;
  int textHeight_ = 14;
  bool syncing_ = false;
  // A header border being dragged.
  std::int32_t resizeColumn_ = -1;
  int resizeStartX_ = 0;
  std::int32_t resizeStartWidth_ = 0;
  // Wheel motion smaller than one step, kept for the next event.
  int wheelRest_ = 0;
  int wheelRestX_ = 0;
};

// The grid's mouse buttons and Shift/Ctrl/Alt mask as its events carry them.
int GridButton(Qt::MouseButton button);
int GridShift(Qt::KeyboardModifiers modifiers);
// The key code of the grid's key events (the classic virtual-key numbers:
// 38 Up, 65 A, 112 F1 ...); 0 for keys without one.
int GridKeyCode(int qtKey);

}  // namespace velotag::gui
