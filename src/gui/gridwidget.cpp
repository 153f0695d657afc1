#include "gui/gridwidget.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <vector>

namespace velotag::gui {

namespace {

// Wheel: three rows per notch (120 units); sideways 48 pixels per notch.
constexpr int kWheelUnitsPerRow = 40;
constexpr int kWheelPixelsPerNotch = 48;
constexpr int kHorizSingleStep = 20;
constexpr const char* kPasswordText = "*****";

QColor ToQColor(GridColor c) { return QColor(c.r, c.g, c.b); }

// Newlines measure and draw as blanks, as the grid measures them.
QString OneLine(std::string_view text) {
  QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  s.replace(QLatin1String("\r\n"), QLatin1String(" "));
  s.replace(QLatin1Char('\r'), QLatin1Char(' '));
  s.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return s;
}

bool HasNewline(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

bool KeyToScroll(int key, ScrollKey& out) {
  switch (key) {
    case Qt::Key_Up: out = ScrollKey::Up; return true;
    case Qt::Key_Down: out = ScrollKey::Down; return true;
    case Qt::Key_PageUp: out = ScrollKey::PageUp; return true;
    case Qt::Key_PageDown: out = ScrollKey::PageDown; return true;
    case Qt::Key_Home: out = ScrollKey::Home; return true;
    case Qt::Key_End: out = ScrollKey::End; return true;
    case Qt::Key_Left: out = ScrollKey::Left; return true;
    case Qt::Key_Right: out = ScrollKey::Right; return true;
    default: return false;
  }
}

int ButtonMask(Qt::MouseButtons buttons) {
  int mask = 0;
  if (buttons & Qt::LeftButton) mask |= 1;
  if (buttons & Qt::RightButton) mask |= 2;
  if (buttons & Qt::MiddleButton) mask |= 4;
  return mask;
}

}  // namespace

int GridButton(Qt::MouseButton button) { return ButtonMask(button); }

int GridShift(Qt::KeyboardModifiers modifiers) {
  int shift = 0;
  if (modifiers & Qt::ShiftModifier) shift |= 1;
  if (modifiers & Qt::ControlModifier) shift |= 2;
  if (modifiers & Qt::AltModifier) shift |= 4;
  return shift;
}

int GridKeyCode(int key) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return 'A' + (key - Qt::Key_A);
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return '0' + (key - Qt::Key_0);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 112 + (key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab: case Qt::Key_Backtab: return 9;
    case Qt::Key_Return: case Qt::Key_Enter: return 13;
    case Qt::Key_Shift: return 16;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt: return 18;
    case Qt::Key_Pause: return 19;
    case Qt::Key_CapsLock: return 20;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Menu: return 93;
    default: return 0;
  }
}

GridWidget::GridWidget(MyListview& grid, QWidget* parent) : QAbstractScrollArea(parent), grid_(grid) {
  setFocusPolicy(Qt::StrongFocus);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  viewport()->setMouseTracking(true);
  // Every pixel is painted: nothing needs clearing first.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  verticalScrollBar()->installEventFilter(this);
  horizontalScrollBar()->installEventFilter(this);
  horizontalScrollBar()->setSingleStep(kHorizSingleStep);
  grid_.SetSurface(this);
  ApplyFont();
  // Widths measured before the widget existed used stand-in metrics.
  grid_.RefreshColumnsMaxWidth();
  grid_.SetDefWidthAllCol(false);
  UpdatePageSizes();
}

GridWidget::~GridWidget() { grid_.SetSurface(nullptr); }

void GridWidget::ApplyFont() {
  const GridFont& gf = grid_.Font();
  QFont f = font();
  if (!gf.family.empty()) {
    f = QFont(QString::fromStdString(gf.family));
    // "Courier New" is rarely installed on Linux: fall back to the
    // system's fixed-pitch font rather than to a proportional one.
    QString family = QString::fromStdString(gf.family);
    if (family.contains(QLatin1String("Courier"), Qt::CaseInsensitive) ||
        family.contains(QLatin1String("Mono"), Qt::CaseInsensitive))
      f.setStyleHint(QFont::TypeWriter);
  }
  if (gf.pointSize > 0) f.setPointSizeF(gf.pointSize);
  f.setBold(gf.bold);
  f.setItalic(gf.italic);
  font_ = f;
  bold_ = f;
  bold_.setBold(true);
  QFontMetrics fm(font_);
  textHeight_ = fm.height();
  rowHeight_ = textHeight_ + 2;
  for (auto [pitch, f] : {std::pair{&plainPitch_, &font_}, std::pair{&boldPitch_, &bold_}}) {
    QFontMetricsF metrics(*f);
    pitch->others.clear();
    pitch->advance = metrics.horizontalAdvance(QLatin1Char('M'));
    pitch->fixed = true;
    for (int c = 32; c <= 126 && pitch->fixed; ++c)
      pitch->fixed = std::abs(metrics.horizontalAdvance(QChar(c)) - pitch->advance) < 1e-3;
    // No kerning either.
    pitch->fixed = pitch->fixed &&
                   std::abs(metrics.horizontalAdvance(QStringLiteral("AVWAT.")) - 6 * pitch->advance) < 1e-2;
  }
  raw_ = QRawFont::fromFont(font_);
  runGlyphCache_.clear();
  glyphRuns_ = plainPitch_.fixed && raw_.isValid();
  if (glyphRuns_) {
    QString ascii;
    for (int c = 32; c <= 126; ++c) ascii += QChar(c);
    QList<quint32> glyphs = raw_.glyphIndexesForString(ascii);
    glyphRuns_ = glyphs.size() == 95;
    for (int i = 0; i < 95 && glyphRuns_; ++i) {
      asciiGlyphs_[static_cast<std::size_t>(i)] = glyphs[i];
      // A character the font lacks would need a fallback font: not here.
      glyphRuns_ = i == 0 || glyphs[i] != 0;
    }
  }
}

std::int32_t GridWidget::FixedWidth(Pitch& pitch, const QFont& font, std::string_view text) {
  qreal width = 0;
  for (std::size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 32 && c <= 126) {
      width += pitch.advance;
      ++i;
      continue;
    }
    // One UTF-8 sequence; malformed bytes count as one character each.
    std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (i + n > text.size()) n = 1;
    QString ch = QString::fromUtf8(text.data() + i, static_cast<qsizetype>(n));
    char32_t key = ch.isEmpty() ? 0 : ch.toUcs4().value(0);
    if (c == '\r' || c == '\n') key = U' ';
    auto it = pitch.others.find(key);
    if (it == pitch.others.end())
      it = pitch.others.emplace(key, QFontMetricsF(font).horizontalAdvance(QString::fromUcs4(&key, 1))).first;
    width += it->second;
    i += n;
  }
  return static_cast<std::int32_t>(std::ceil(width - 1e-6));
}

bool GridWidget::AppendToRun(std::string_view text, qreal x, int y, int right) {
  const qsizetype start = runGlyphs_.size();
  for (std::size_t i = 0; i < text.size() && x < right;) {
    auto c = static_cast<unsigned char>(text[i]);
    quint32 glyph;
    if (c >= 32 && c <= 126) {
      glyph = asciiGlyphs_[static_cast<std::size_t>(c - 32)];
      ++i;
    } else {
      // Latin, Greek and Cyrillic letters of the font itself, one advance
      // wide and needing no shaping; anything else is drawn as text.
      std::size_t n = c >= 0xE0 ? 3 : 2;
      QString ch = c >= 0xC0 && c < 0xF0 && i + n <= text.size()
                       ? QString::fromUtf8(text.data() + i, static_cast<qsizetype>(n))
                       : QString();
      char32_t cp = ch.size() == 1 ? ch.at(0).unicode() : 0;
      auto it = runGlyphCache_.find(cp);
      if (it == runGlyphCache_.end()) {
        quint32 g = 0;
        if (cp >= 0xA0 && cp < 0x0590 && !(cp >= 0x0300 && cp < 0x0370)) {
          QList<quint32> glyphs = raw_.glyphIndexesForString(ch);
          if (glyphs.size() == 1 && glyphs[0] != 0 &&
              std::abs(raw_.advancesForGlyphIndexes(glyphs).value(0).x() - plainPitch_.advance) < 1e-3)
            g = glyphs[0];
        }
        it = runGlyphCache_.emplace(cp, g).first;
      }
      if (it->second == 0) {
        runGlyphs_.resize(start);
        runPositions_.resize(start);
        return false;
      }
      glyph = it->second;
      i += n;
    }
    if (c != ' ') {
      runGlyphs_.push_back(glyph);
      runPositions_.push_back(QPointF(x, y));
    }
    x += plainPitch_.advance;
  }
  return true;
}

std::int32_t GridWidget::TextWidth(std::string_view text, bool bold) {
  Pitch& pitch = bold ? boldPitch_ : plainPitch_;
  if (pitch.fixed) return FixedWidth(pitch, bold ? bold_ : font_, text);
  return QFontMetrics(bold ? bold_ : font_).horizontalAdvance(OneLine(text));
}

std::int32_t GridWidget::TextHeight(std::string_view, bool bold) {
  return QFontMetrics(bold ? bold_ : font_).height();
}

void GridWidget::Repaint() {
  SyncScrollBars();
  viewport()->update();
}

void GridWidget::PropertyChanged(std::string_view name) {
  if (name == "Font" || name == "HasColumnheader") {
    if (name == "Font") ApplyFont();
    UpdatePageSizes();
  }
}

int GridWidget::HeaderHeight() const {
  return grid_.HasColumnheader() ? QFontMetrics(bold_).height() + 4 : 0;
}

std::int32_t GridWidget::VisibleRows() const {
  int area = viewport()->height() - HeaderHeight();
  return std::max(1, area / std::max(rowHeight_, 1));
}

void GridWidget::UpdatePageSizes() {
  grid_.SetPageSizes(VisibleRows(), viewport()->width());
  SyncScrollBars();
}

void GridWidget::SyncScrollBars() {
  syncing_ = true;
  QScrollBar* v = verticalScrollBar();
  v->setRange(0, grid_.VSCROLL_MAX());
  v->setPageStep(grid_.RowsPerPage());
  v->setSingleStep(1);
  v->setValue(grid_.VSCROLL_VALUE());
  QScrollBar* h = horizontalScrollBar();
  h->setRange(0, grid_.HSCROLL_MAX());
  h->setPageStep(std::max(grid_.PageWidth(), 1));
  h->setValue(grid_.HSCROLL_VALUE());
  syncing_ = false;
}

void GridWidget::scrollContentsBy(int, int) {
  if (!syncing_) {
    grid_.ScrollVertTo(verticalScrollBar()->value());
    grid_.ScrollHorizTo(horizontalScrollBar()->value());
  }
  viewport()->update();
}

std::int32_t GridWidget::ColumnLeft(std::int32_t colIndex) const {
  std::int32_t left = 0;
  for (std::int32_t c = 0; c < colIndex && c < grid_.ColumnCount(); ++c)
    left += std::max(grid_.GetColumnheaderWidth(c), 0);
  return left;
}

QRect GridWidget::HeaderRect(std::int32_t colIndex) const {
  if (colIndex < 0 || colIndex >= grid_.ColumnCount()) return {};
  return QRect(ColumnLeft(colIndex) - grid_.HSCROLL_VALUE(), 0,
               std::max(grid_.GetColumnheaderWidth(colIndex), 0), HeaderHeight());
}

QRect GridWidget::RowRect(std::int32_t itemId) const {
  std::int32_t top = grid_.VSCROLL_VALUE();
  if (itemId < top || itemId >= grid_.ItemCount()) return {};
  int y = HeaderHeight() + (itemId - top) * rowHeight_;
  if (y >= viewport()->height()) return {};
  return QRect(0, y, viewport()->width(), rowHeight_);
}

std::int32_t GridWidget::RowAt(QPoint pos) const {
  int header = HeaderHeight();
  if (pos.y() < header || pos.y() >= viewport()->height()) return -1;
  std::int32_t id = grid_.VSCROLL_VALUE() + (pos.y() - header) / std::max(rowHeight_, 1);
  return id < grid_.ItemCount() ? id : -1;
}

QString GridWidget::CellText(std::int32_t itemId, std::int32_t colIndex) const {
  std::string text;
  if (!grid_.GetItemCol(itemId, colIndex, text)) return {};
  if (grid_.GetColumnPassword(colIndex)) return QString::fromLatin1(kPasswordText);
  return QString::fromUtf8(text);
}

void GridWidget::paintEvent(QPaintEvent*) {
  // The model may have gained rows without a repaint request (they are
  // appended without one); bring the scroll bars along after this paint.
  if (verticalScrollBar()->maximum() != grid_.VSCROLL_MAX() ||
      horizontalScrollBar()->maximum() != grid_.HSCROLL_MAX())
    QTimer::singleShot(0, this, [this] { SyncScrollBars(); });

  QPainter p(viewport());
  const QRect area = viewport()->rect();
  const QColor back = ToQColor(grid_.BackColor());
  const QColor fore = ToQColor(grid_.FontColor());
  const QColor border = ToQColor(grid_.BorderColor());
  p.fillRect(area, back);

  const int header = HeaderHeight();
  const std::int32_t hscroll = grid_.HSCROLL_VALUE();
  const std::int32_t columns = grid_.ColumnCount();
  const bool checkBoxes = grid_.HasCheckBox();
  const std::int32_t boxWidth = checkBoxes ? grid_.CheckBoxWidth() : 0;

  // The columns in view: their index, left edge and width on screen.
  struct Col {
    std::int32_t index, x, width;
    bool password;
  };
  std::vector<Col> cols;
  std::int32_t left = -hscroll;
  for (std::int32_t c = 0; c < columns && left < area.width(); ++c) {
    std::int32_t w = std::max(grid_.GetColumnheaderWidth(c), 0);
    if (left + w > 0 && w > 0) cols.push_back({c, left, w, grid_.GetColumnPassword(c)});
    left += w;
  }
  const std::int32_t right = std::min(left, area.width());

  // The rows in view, fetched once.
  const std::int32_t top = grid_.VSCROLL_VALUE();
  const std::int32_t count = grid_.ItemCount();
  std::int32_t shown = 0;
  while (top + shown < count && header + shown * rowHeight_ < area.height()) ++shown;
  const int rowsBottom = header + shown * rowHeight_;

  p.setPen(Qt::NoPen);
  const QColor selection = ToQColor(grid_.SelectionColor());
  for (std::int32_t r = 0; r < shown; ++r)
    if (grid_.GetItemSelected(top + r))
      p.fillRect(QRect(0, header + r * rowHeight_, right, rowHeight_), selection);

  QFontMetrics fm(font_);
  const int baseline = (rowHeight_ - fm.height()) / 2 + fm.ascent();
  p.setFont(font_);
  p.setPen(fore);
  std::string text;
  for (const Col& col : cols) {
    std::int32_t textLeft = col.x + kTextPadding / 2 + (col.index == 0 ? boxWidth : 0);
    QRect clip(textLeft, header, col.x + col.width - kTextPadding / 2 - textLeft,
               rowsBottom - header);
    if (clip.width() <= 0) continue;
    p.setClipRect(clip);
    runGlyphs_.clear();
    runPositions_.clear();
    for (std::int32_t r = 0; r < shown; ++r) {
      if (col.password) {
        text = kPasswordText;
      } else if (!grid_.GetItemCol(top + r, col.index, text) || text.empty()) {
        continue;
      }
      int y = header + r * rowHeight_ + baseline;
      if (glyphRuns_ && AppendToRun(text, textLeft, y, clip.right() + 1)) {
        // In the column's one glyph run.
      } else if (HasNewline(text)) {
        p.drawText(textLeft, y, OneLine(text));
      } else {
        p.drawText(textLeft, y, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
      }
    }
    if (!runGlyphs_.isEmpty()) {
      QGlyphRun run;
      run.setRawFont(raw_);
      run.setGlyphIndexes(runGlyphs_);
      run.setPositions(runPositions_);
      p.drawGlyphRun(QPointF(0, 0), run);
    }
  }
  p.setClipping(false);

  if (checkBoxes && !cols.empty() && cols.front().index == 0) {
    QStyleOptionButton box;
    int side = std::min(boxWidth - 4, rowHeight_ - 2);
    for (std::int32_t r = 0; r < shown; ++r) {
      box.rect = QRect(cols.front().x + 2, header + r * rowHeight_ + (rowHeight_ - side) / 2, side, side);
      box.state = QStyle::State_Enabled |
                  (grid_.GetItemCheckbox(top + r) ? QStyle::State_On : QStyle::State_Off);
      style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, &p, this);
    }
  }

  // Borders: one line right of every column, and between rows.
  p.setPen(QPen(border, 0));
  for (const Col& col : cols) {
    int x = col.x + col.width - 1;
    p.drawLine(x, header, x, rowsBottom - 1);
  }
  if (grid_.HasHorizBorder())
    for (std::int32_t r = 0; r < shown; ++r) {
      int y = header + (r + 1) * rowHeight_ - 1;
      p.drawLine(0, y, right - 1, y);
    }

  if (header > 0) {
    p.fillRect(QRect(0, 0, area.width(), header), ToQColor(grid_.HeaderBckColor()));
    p.setFont(bold_);
    QFontMetrics fb(bold_);
    const int headBase = (header - fb.height()) / 2 + fb.ascent();
    for (const Col& col : cols) {
      QRect cell(col.x, 0, col.width, header);
      p.setClipRect(cell.adjusted(kTextPadding / 2, 0, -kTextPadding / 2, 0));
      p.setPen(fore);
      p.drawText(col.x + kTextPadding / 2, headBase,
                 QString::fromStdString(grid_.GetColumnheaderValue(col.index)));
      p.setClipping(false);
      p.setPen(QPen(border, 0));
      p.drawLine(col.x + col.width - 1, 0, col.x + col.width - 1, header - 1);
    }
    p.setPen(QPen(border, 0));
    p.drawLine(0, header - 1, area.width() - 1, header - 1);
  }
}

void GridWidget::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdatePageSizes();
  grid_.Events().Resize();
}

void GridWidget::Press(QPoint pos, bool secondPress) {
  if (pos.y() < HeaderHeight()) {
    MyListview::HeaderHit hit = grid_.HitTestHeader(pos.x());
    if (hit.onBorder) {
      if (secondPress) {
        grid_.FitColumnFromBorder(hit.colIndex);
      } else {
        resizeColumn_ = hit.colIndex;
        resizeStartX_ = pos.x();
        resizeStartWidth_ = std::max(grid_.GetColumnheaderWidth(hit.colIndex), 0);
      }
    } else if (hit.colIndex >= 0) {
      grid_.Events().ColumnClick(hit.colIndex);
    }
    return;
  }
  std::int32_t id = RowAt(pos);
  if (id < 0) return;
  bool onBox = false;
  if (grid_.HasCheckBox()) {
    int boxLeft = -grid_.HSCROLL_VALUE();
    onBox = pos.x() >= boxLeft && pos.x() < boxLeft + grid_.CheckBoxWidth();
  }
  grid_.PressRow(id, onBox);
}

void GridWidget::mousePressEvent(QMouseEvent* event) {
  QPoint pos = event->position().toPoint();
  grid_.Events().MouseDown(GridButton(event->button()), GridShift(event->modifiers()), pos.x(), pos.y());
  if (event->button() == Qt::LeftButton) Press(pos, false);
  event->accept();
}

void GridWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  QPoint pos = event->position().toPoint();
  grid_.Events().MouseDown(GridButton(event->button()), GridShift(event->modifiers()), pos.x(), pos.y());
  if (event->button() != Qt::LeftButton) return;
  bool onBorder = pos.y() < HeaderHeight() && grid_.HitTestHeader(pos.x()).onBorder;
  Press(pos, true);
  if (!onBorder && GridShift(event->modifiers()) == 0) grid_.Events().DblClick();
  event->accept();
}

void GridWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) resizeColumn_ = -1;
  QPoint pos = event->position().toPoint();
  grid_.Events().MouseUp(GridButton(event->button()), GridShift(event->modifiers()), pos.x(), pos.y());
  event->accept();
}

void GridWidget::mouseMoveEvent(QMouseEvent* event) {
  QPoint pos = event->position().toPoint();
  if (resizeColumn_ >= 0) {
    std::int32_t width = std::max(0, resizeStartWidth_ + (pos.x() - resizeStartX_));
    if (width != grid_.GetColumnheaderWidth(resizeColumn_)) {
      grid_.SetColumnheaderWidth(resizeColumn_, width, true);
      grid_.Events().ColumnResizing(resizeColumn_, grid_.GetColumnheaderWidth(resizeColumn_));
    }
  } else {
    bool border = pos.y() < HeaderHeight() && grid_.HitTestHeader(pos.x()).onBorder;
    viewport()->setCursor(border ? Qt::SplitHCursor : Qt::ArrowCursor);
  }
  grid_.Events().MouseMove(ButtonMask(event->buttons()), GridShift(event->modifiers()), pos.x(), pos.y());
}

void GridWidget::wheelEvent(QWheelEvent* event) {
  QPoint delta = event->angleDelta();
  if ((event->modifiers() & Qt::ShiftModifier) && delta.x() == 0) delta = QPoint(delta.y(), 0);
  bool moved = false;
  wheelRest_ += delta.y();
  if (int rows = wheelRest_ / kWheelUnitsPerRow; rows != 0) {
    wheelRest_ -= rows * kWheelUnitsPerRow;
    moved |= grid_.ScrollVertTo(grid_.VSCROLL_VALUE() - rows);
  }
  wheelRestX_ += delta.x();
  if (int pixels = wheelRestX_ * kWheelPixelsPerNotch / 120; pixels != 0) {
    wheelRestX_ -= pixels * 120 / kWheelPixelsPerNotch;
    moved |= grid_.ScrollHorizTo(grid_.HSCROLL_VALUE() - pixels);
  }
  if (moved) Repaint();
  event->accept();
}

void GridWidget::keyPressEvent(QKeyEvent* event) {
  ScrollKey key;
  bool scrolls = KeyToScroll(event->key(), key);
  if (scrolls) grid_.ApplyScrollKey(key);
  int shift = GridShift(event->modifiers());
  grid_.Events().KeyDown(GridKeyCode(event->key()), shift);
  if (!event->text().isEmpty()) grid_.Events().KeyPress(event->text().at(0).unicode());
  if (scrolls) event->accept();
  else event->ignore();
}

void GridWidget::keyReleaseEvent(QKeyEvent* event) {
  grid_.Events().KeyUp(GridKeyCode(event->key()), GridShift(event->modifiers()));
  event->ignore();
}

bool GridWidget::eventFilter(QObject* watched, QEvent* event) {
  bool vertical = watched == verticalScrollBar();
  bool horizontal = watched == horizontalScrollBar();
  if ((vertical || horizontal) &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease) &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    bool press = event->type() == QEvent::MouseButtonPress;
    MyListviewEvents& e = grid_.Events();
    if (vertical) press ? e.StartVertScroll() : e.EndVertScroll();
    else press ? e.StartHorizScroll() : e.EndHorizScroll();
  }
  return QAbstractScrollArea::eventFilter(watched, event);
}

namespace {

// The kernel's bytes of a local file URL, also for names that are not UTF-8.
QList<QByteArray> LocalPaths(const QMimeData* data) {
  QList<QByteArray> paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (!path.isEmpty()) paths.push_back(path);
  }
  return paths;
}

}  // namespace

void GridWidget::dragEnterEvent(QDragEnterEvent* event) {
  if (!LocalPaths(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void GridWidget::dragMoveEvent(QDragMoveEvent* event) {
  if (!LocalPaths(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void GridWidget::dropEvent(QDropEvent* event) {
  QList<QByteArray> paths = LocalPaths(event->mimeData());
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  emit pathsDropped(paths);
}

}  // namespace velotag::gui
