#include "gadgets.h"

#include <QDropEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QUrl>

#include "threads/posted_events.h"
#include "ui/ui.h"

namespace {

// Edit-control style bits that change the field.
constexpr std::int64_t VerticalScrollBarStyle = 0x200000;
constexpr std::int64_t HorizontalScrollBarStyle = 0x100000;
constexpr std::int64_t AutoHorizontalScrollStyle = 0x80;
constexpr std::int64_t NoBorderStyle = 0x20000;

// The first local file among the dropped addresses; "" when the drop names none.
QString DroppedFile(const QMimeData* data) {
  if (!data || !data->hasUrls()) return {};
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return url.toLocalFile();
  }
  return {};
}

// The field only refers to the file: a link or a copy, never a move that would let the
// file manager remove the original.
void AcceptAsReference(QDropEvent* event) {
  event->setDropAction(event->possibleActions() & Qt::LinkAction ? Qt::LinkAction : Qt::CopyAction);
  event->accept();
}

// A text field that, once told to, takes a dropped file as an event for the program
// instead of inserting the file's address; everything else drops as in any text field.
class FileDropEdit : public QPlainTextEdit {
 public:
  FileDropEdit(QWidget* parent, ObjectNumber window) : QPlainTextEdit(parent), window_(window) {}
  void TakeFilesAs(ObjectNumber gadget) { fileGadget_ = gadget; }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override {
    if (TakesFile(event)) return AcceptAsReference(event);
    QPlainTextEdit::dragEnterEvent(event);
  }
  void dragMoveEvent(QDragMoveEvent* event) override {
    if (TakesFile(event)) return AcceptAsReference(event);
    QPlainTextEdit::dragMoveEvent(event);
  }
  void dropEvent(QDropEvent* event) override {
    if (!TakesFile(event)) return QPlainTextEdit::dropEvent(event);
    AcceptAsReference(event);
    const std::u16string path = DroppedFile(event->mimeData()).toStdU16String();
    QueueEventText(FileDropEvent, fileGadget_, window_, 0, path.c_str());
  }

 private:
  bool TakesFile(const QDropEvent* event) const {
    return fileGadget_ != NoGadget && !DroppedFile(event->mimeData()).isEmpty();
  }

  static constexpr ObjectNumber NoGadget = -1;
  ObjectNumber window_;
  ObjectNumber fileGadget_ = NoGadget;
};

class TextFieldGadget : public Gadget {
 public:
  TextFieldGadget(ObjectNumber number, const GadgetPlace& place, FileDropEdit* edit)
      : Gadget(number, place.window, edit), edit_(edit) {}

  void EnableFileDrop() override {
    if (Widget()) edit_->TakeFilesAs(Number());
  }

  // Joined block by block: the document's own plain-text export would turn no-break
  // spaces into spaces and change what the user typed.
  QString GetText() override {
    if (!Widget()) return {};
    QString text;
    for (QTextBlock block = edit_->document()->begin(); block.isValid(); block = block.next()) {
      if (block != edit_->document()->begin()) text += QLatin1Char('\n');
      text += block.text();
    }
    return text;
  }

  // Line breaks are LF; a CR LF pair would otherwise become two breaks.
  void SetText(const QString& text) override {
    if (!Widget()) return;
    QString lines = text;
    edit_->setPlainText(lines.replace(QLatin1String("\r\n"), QLatin1String("\n")));
  }

 private:
  FileDropEdit* edit_;
};

Qt::ScrollBarPolicy ScrollBarFor(bool wanted) {
  return wanted ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
}

}  // namespace

std::unique_ptr<Gadget> MakeTextField(ObjectNumber number, const GadgetPlace& place,
                                      const QString& text, std::int64_t flags) {
  auto* edit = new FileDropEdit(place.parent, place.window);
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);
  edit->setTabChangesFocus(true);
  edit->setVerticalScrollBarPolicy(ScrollBarFor(flags & VerticalScrollBarStyle));
  edit->setHorizontalScrollBarPolicy(
      ScrollBarFor(flags & (HorizontalScrollBarStyle | AutoHorizontalScrollStyle)));
  if (flags & NoBorderStyle) {
    edit->setFrameStyle(QFrame::NoFrame);
  } else {
    edit->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  }
  auto gadget = std::make_unique<TextFieldGadget>(number, place, edit);
  gadget->SetText(text);
  return gadget;
}
