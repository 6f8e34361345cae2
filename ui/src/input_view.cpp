#include "input_view.h"

#include <QChildEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>

#include "gadgets.h"
#include "threads/posted_events.h"
#include "ui_objects.h"

namespace {

const QColor MatchColour(255, 226, 110);
// Group n takes colour (n - 1) modulo their number: neighbouring groups always differ.
const std::array<QColor, 6> GroupColours{QColor(160, 205, 255), QColor(175, 232, 160),
                                         QColor(255, 185, 205), QColor(212, 190, 255),
                                         QColor(255, 200, 140), QColor(150, 225, 215)};

int Clamped(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, 0, INT_MAX));
}

}  // namespace

InputTextView::InputTextView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  // Never focused: Enter and the copy keys stay with the result tree, and Tab passes by.
  setFocusPolicy(Qt::NoFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
}

void InputTextView::SetText(const SharedUtf8& text) {
  text_ = text.bytes ? text : SharedUtf8{};
  strideStarts_.assign(1, 0);
  lineCount_ = 1;
  longestLine_ = 0;
  const char* bytes = Bytes();
  std::int64_t start = 0;
  while (bytes) {
    const void* found =
        std::memchr(bytes + start, '\n', static_cast<std::size_t>(text_.length - start));
    const std::int64_t end = found ? static_cast<const char*>(found) - bytes : text_.length;
    longestLine_ = std::max(longestLine_, end - start);
    if (!found) break;
    start = end + 1;
    if (lineCount_++ % LineStride == 0) strideStarts_.push_back(start);
  }
  strideStarts_.shrink_to_fit();
  highlights_.clear();
  anchor_ = caret_ = 0;
  selecting_ = false;
  UpdateScrollBars();
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
  viewport()->update();
}

void InputTextView::SetHighlights(std::vector<UiTextRange> ranges) {
  highlights_ = std::move(ranges);
  if (!highlights_.empty()) ScrollIntoView(highlights_.front());
  viewport()->update();
}

void InputTextView::SetSelection(UiTextRange range) {
  const std::int64_t length = Bytes() ? text_.length : 0;
  anchor_ = std::clamp<std::int64_t>(std::min(range.start, range.end), 0, length);
  caret_ = std::clamp<std::int64_t>(std::max(range.start, range.end), 0, length);
  viewport()->update();
  if (listener_) listener_();
}

UiTextRange InputTextView::Selection() const {
  return {std::min(anchor_, caret_), std::max(anchor_, caret_)};
}

std::int64_t InputTextView::FirstVisibleLine() const { return verticalScrollBar()->value(); }

void InputTextView::ScrollToLine(std::int64_t line) {
  verticalScrollBar()->setValue(Clamped(line));
}

std::int64_t InputTextView::LineStart(std::int64_t line) const {
  line = std::clamp<std::int64_t>(line, 0, lineCount_ - 1);
  std::int64_t start = strideStarts_[static_cast<std::size_t>(line / LineStride)];
  for (std::int64_t left = line % LineStride; left > 0; --left) start = LineEnd(start) + 1;
  return start;
}

std::int64_t InputTextView::LineEnd(std::int64_t lineStart) const {
  const char* bytes = Bytes();
  if (!bytes || lineStart >= text_.length) return std::min<std::int64_t>(lineStart, text_.length);
  const void* found =
      std::memchr(bytes + lineStart, '\n', static_cast<std::size_t>(text_.length - lineStart));
  return found ? static_cast<const char*>(found) - bytes : text_.length;
}

std::int64_t InputTextView::LineOf(std::int64_t at, std::int64_t* lineStart) const {
  const auto stride = std::upper_bound(strideStarts_.begin(), strideStarts_.end(), at) - 1;
  std::int64_t line = (stride - strideStarts_.begin()) * LineStride;
  std::int64_t start = *stride;
  for (;;) {
    const std::int64_t end = LineEnd(start);
    if (end >= at || end >= text_.length || line + 1 >= lineCount_) break;
    start = end + 1;
    ++line;
  }
  if (lineStart) *lineStart = start;
  return line;
}

std::int64_t InputTextView::Advance(std::int64_t from, std::int64_t end,
                                    std::int64_t columns) const {
  const auto* bytes = reinterpret_cast<const unsigned char*>(Bytes());
  std::int64_t at = from;
  for (; columns > 0 && at < end; --columns) {
    ++at;
    while (at < end && IsUtf8Continuation(bytes[at])) ++at;
  }
  return at;
}

std::int64_t InputTextView::Columns(std::int64_t from, std::int64_t to) const {
  const auto* bytes = reinterpret_cast<const unsigned char*>(Bytes());
  return std::count_if(bytes + from, bytes + std::max(from, to),
                       [](unsigned char byte) { return !IsUtf8Continuation(byte); });
}

qreal InputTextView::CellWidth() const {
  // Fractional: a cell rounded to whole pixels would drift from the text drawn by a line's end.
  return std::max<qreal>(1, QFontMetricsF(font()).horizontalAdvance(QLatin1Char('M')));
}

std::int64_t InputTextView::VisibleLines() const {
  return std::max(1, viewport()->height() / std::max(1, fontMetrics().height()));
}

std::int64_t InputTextView::VisibleColumns() const {
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(viewport()->width() / CellWidth()));
}

void InputTextView::UpdateScrollBars() {
  const std::int64_t lines = VisibleLines();
  const std::int64_t columns = VisibleColumns();
  verticalScrollBar()->setRange(0, Clamped(lineCount_ - lines));
  verticalScrollBar()->setPageStep(Clamped(lines));
  horizontalScrollBar()->setRange(0, Clamped(longestLine_ + 1 - columns));
  horizontalScrollBar()->setPageStep(Clamped(columns));
}

void InputTextView::ScrollIntoView(const UiTextRange& range) {
  if (!Bytes()) return;
  const std::int64_t at = std::clamp<std::int64_t>(range.start, 0, text_.length);
  std::int64_t lineStart = 0;
  const std::int64_t line = LineOf(at, &lineStart);
  const std::int64_t lines = VisibleLines();
  const std::int64_t first = verticalScrollBar()->value();
  // A third from the top: the lines before the match show where it stands.
  if (line < first || line >= first + lines) ScrollToLine(line - lines / 3);
  const std::int64_t column = Columns(lineStart, at);
  // The match's end on its first line: all of it is shown when it fits.
  const std::int64_t endColumn = Columns(lineStart, std::clamp(range.end, at, LineEnd(lineStart)));
  const std::int64_t columns = VisibleColumns();
  const std::int64_t shown = horizontalScrollBar()->value();
  if (column < shown || column >= shown + columns) {
    horizontalScrollBar()->setValue(Clamped(column - columns / 4));
  } else if (endColumn >= shown + columns && endColumn - column < columns) {
    horizontalScrollBar()->setValue(Clamped(endColumn - columns + 1));
  }
}

void InputTextView::PaintRange(QPainter& painter, const UiTextRange& range, std::int64_t lineStart,
                               std::int64_t lineEnd, int y, const QColor& colour) const {
  if (range.start > lineEnd || range.end < lineStart) return;
  if (range.end == lineStart && range.start < lineStart) return;  // ended with the line before
  const qreal cell = CellWidth();
  const std::int64_t shown = horizontalScrollBar()->value();
  const std::int64_t from = std::max(range.start, lineStart);
  const std::int64_t to = std::min(range.end, lineEnd);
  const qreal x0 = static_cast<qreal>(Columns(lineStart, from) - shown) * cell;
  qreal x1 = static_cast<qreal>(Columns(lineStart, to) - shown) * cell;
  if (range.end > lineEnd) x1 += cell;  // the line break is part of the range
  const int height = fontMetrics().height();
  if (x1 <= x0) {
    painter.fillRect(QRectF(x0 - 1, y, 2, height), colour.darker(160));  // an empty match
  } else {
    painter.fillRect(QRectF(x0, y, x1 - x0, height), colour);
  }
}

void InputTextView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), palette().base());
  if (!Bytes()) return;
  const QFontMetrics metrics = fontMetrics();
  const std::int64_t shown = horizontalScrollBar()->value();
  const std::int64_t columns = VisibleColumns() + 1;
  const UiTextRange selection = Selection();
  QColor selectionColour = palette().highlight().color();
  selectionColour.setAlpha(120);
  painter.setPen(palette().text().color());
  std::int64_t start = LineStart(verticalScrollBar()->value());
  for (int y = 0; y < viewport()->height() && start <= text_.length; y += metrics.height()) {
    std::int64_t end = LineEnd(start);
    const std::int64_t next = end + 1;
    if (end > start && Bytes()[end - 1] == '\r') --end;
    for (std::size_t k = 0; k < highlights_.size(); ++k) {
      PaintRange(painter, highlights_[k], start, end, y,
                 k == 0 ? MatchColour : GroupColours[(k - 1) % GroupColours.size()]);
    }
    if (selection.end > selection.start)
      PaintRange(painter, selection, start, end, y, selectionColour);
    const std::int64_t from = Advance(start, end, shown);
    const std::int64_t to = Advance(from, end, columns);
    QString line = QString::fromUtf8(Bytes() + from, static_cast<qsizetype>(to - from));
    // One cell per character: a tab or another control character shows as a blank.
    for (QChar& character : line) {
      if (character.unicode() < 0x20) character = QLatin1Char(' ');
    }
    painter.drawText(0, y + metrics.ascent(), line);
    if (next > text_.length) break;
    start = next;
  }
}

void InputTextView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

std::int64_t InputTextView::OffsetAt(const QPoint& point) const {
  if (!Bytes()) return 0;
  const QFontMetrics metrics = fontMetrics();
  const std::int64_t line =
      verticalScrollBar()->value() + std::max(0, point.y()) / std::max(1, metrics.height());
  const auto column = horizontalScrollBar()->value() +
                      static_cast<std::int64_t>(std::lround(std::max(0, point.x()) / CellWidth()));
  const std::int64_t start = LineStart(line);
  std::int64_t end = LineEnd(start);
  if (end > start && Bytes()[end - 1] == '\r') --end;
  return Advance(start, end, column);
}

void InputTextView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  selecting_ = true;
  caret_ = OffsetAt(event->position().toPoint());
  if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = caret_;
  viewport()->update();
}

void InputTextView::mouseMoveEvent(QMouseEvent* event) {
  if (!selecting_) return;
  caret_ = OffsetAt(event->position().toPoint());
  viewport()->update();
}

void InputTextView::mouseReleaseEvent(QMouseEvent* event) {
  if (!selecting_ || event->button() != Qt::LeftButton) return;
  selecting_ = false;
  caret_ = OffsetAt(event->position().toPoint());
  viewport()->update();
  if (listener_) listener_();
}

namespace {

// The view with the caption above it that tells where the selected match lies.
class InputViewGadget : public Gadget {
 public:
  InputViewGadget(ObjectNumber number, const GadgetPlace& place, QWidget* box, InputTextView* view,
                  QLabel* caption)
      : Gadget(number, place.window, box), view_(view), caption_(caption) {
    view->SetSelectionListener([number, window = place.window] {
      QueueEvent(SelectionEvent, number, window, 0, 0, nullptr);
    });
  }
  QString GetText() override { return Widget() ? caption_->text() : QString(); }
  void SetText(const QString& text) override {
    if (Widget()) caption_->setText(text);
  }
  std::int64_t GetState() override { return Widget() ? view_->FirstVisibleLine() : -1; }
  void SetState(std::int64_t line) override {
    if (Widget()) view_->ScrollToLine(line);
  }
  InputTextView* View() { return Widget() ? view_ : nullptr; }

 private:
  InputTextView* view_;
  QLabel* caption_;
};

// Its panes share the room equally until the user moves the handle.
class EvenSplitter : public QSplitter {
 public:
  explicit EvenSplitter(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {
    setChildrenCollapsible(false);
  }

 protected:
  void childEvent(QChildEvent* event) override {
    QSplitter::childEvent(event);
    if (event->added()) {
      for (int pane = 0; pane < count(); ++pane) setStretchFactor(pane, 1);
    }
  }
};

class SplitterGadget : public Gadget {
 public:
  SplitterGadget(ObjectNumber number, const GadgetPlace& place, QSplitter* splitter)
      : Gadget(number, place.window, splitter) {}
};

}  // namespace

InputTextView* InputViewOf(Gadget* gadget) {
  auto* view = dynamic_cast<InputViewGadget*>(gadget);
  return view ? view->View() : nullptr;
}

std::unique_ptr<Gadget> MakeInputView(ObjectNumber number, const GadgetPlace& place) {
  auto* box = new QWidget(place.parent);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* view = new InputTextView(box);
  auto* caption = new QLabel(box);
  caption->setTextFormat(Qt::PlainText);
  caption->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // Above the text: a gadget's lower edge may run under its panel's.
  layout->addWidget(caption);
  layout->addWidget(view, 1);
  return std::make_unique<InputViewGadget>(number, place, box, view, caption);
}

std::unique_ptr<Gadget> MakeSplitter(ObjectNumber number, const GadgetPlace& place) {
  return std::make_unique<SplitterGadget>(number, place, new EvenSplitter(place.parent));
}
