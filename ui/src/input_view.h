// The input view: a read-only view of a whole UTF-8 text, however large, that paints only
// the lines on screen. It keeps a share of the text rather than a copy, and a sparse index
// of line starts (one in LineStride) rather than one per line, so its memory depends on
// neither the number of lines nor anything else found in the text.
#pragma once

#include <QAbstractScrollArea>
#include <cstdint>
#include <functional>
#include <vector>

#include "runtime/text_encoding.h"
#include "ui/ui.h"

class Gadget;

class InputTextView : public QAbstractScrollArea {
 public:
  explicit InputTextView(QWidget* parent);

  // Called with each change of the selection the user makes by mouse.
  void SetSelectionListener(std::function<void()> listener) { listener_ = std::move(listener); }

  void SetText(const SharedUtf8& text);
  // Byte ranges: the first in the match's colour, the others each in a group colour; the
  // first range is scrolled into view.
  void SetHighlights(std::vector<UiTextRange> ranges);
  [[nodiscard]] const std::vector<UiTextRange>& Highlights() const { return highlights_; }
  // Byte offsets, start <= end; what a selection by mouse gives too.
  void SetSelection(UiTextRange range);
  [[nodiscard]] UiTextRange Selection() const;
  [[nodiscard]] std::int64_t FirstVisibleLine() const;
  [[nodiscard]] std::int64_t LineCount() const { return lineCount_; }
  // Shows line (0-based) at the top, as the scroll bar would.
  void ScrollToLine(std::int64_t line);

  // The line (0-based) that holds byte offset at, and that line's first byte.
  std::int64_t LineOf(std::int64_t at, std::int64_t* lineStart = nullptr) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  static constexpr std::int64_t LineStride = 64;

  [[nodiscard]] const char* Bytes() const { return text_.bytes.get(); }
  [[nodiscard]] std::int64_t LineStart(std::int64_t line) const;
  // Where the line that starts at lineStart ends: its LF, or the text's end.
  [[nodiscard]] std::int64_t LineEnd(std::int64_t lineStart) const;
  // The width of one character: the font is fixed-width.
  [[nodiscard]] qreal CellWidth() const;
  [[nodiscard]] std::int64_t VisibleLines() const;
  [[nodiscard]] std::int64_t VisibleColumns() const;
  // Byte offset of the character column columns after from, not past end.
  [[nodiscard]] std::int64_t Advance(std::int64_t from, std::int64_t end,
                                     std::int64_t columns) const;
  [[nodiscard]] std::int64_t Columns(std::int64_t from, std::int64_t to) const;
  [[nodiscard]] std::int64_t OffsetAt(const QPoint& point) const;
  void UpdateScrollBars();
  // Brings range's start into view, and as much of its first line's part as fits.
  void ScrollIntoView(const UiTextRange& range);
  void PaintRange(QPainter& painter, const UiTextRange& range, std::int64_t lineStart,
                  std::int64_t lineEnd, int y, const QColor& colour) const;

  SharedUtf8 text_;
  std::vector<std::int64_t> strideStarts_;  // the start of every LineStride-th line
  std::int64_t lineCount_ = 0;
  std::int64_t longestLine_ = 0;  // bytes: the horizontal extent, never too short
  std::vector<UiTextRange> highlights_;
  std::int64_t anchor_ = 0;
  std::int64_t caret_ = 0;
  bool selecting_ = false;
  std::function<void()> listener_;
};

// The view of an input view gadget, or null for any other gadget.
InputTextView* InputViewOf(Gadget* gadget);
