#include <QPlainTextEdit>
#include <QTextBlock>

#include "gadgets.h"

namespace {

// Edit-control style bits that change the field.
constexpr std::int64_t VerticalScrollBarStyle = 0x200000;
constexpr std::int64_t HorizontalScrollBarStyle = 0x100000;
constexpr std::int64_t AutoHorizontalScrollStyle = 0x80;
constexpr std::int64_t NoBorderStyle = 0x20000;

class TextFieldGadget : public Gadget {
 public:
  TextFieldGadget(ObjectNumber number, const GadgetPlace& place, QPlainTextEdit* edit)
      : Gadget(number, place.window, edit), edit_(edit) {}

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
  QPlainTextEdit* edit_;
};

Qt::ScrollBarPolicy ScrollBarFor(bool wanted) {
  return wanted ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
}

}  // namespace

std::unique_ptr<Gadget> MakeTextField(ObjectNumber number, const GadgetPlace& place,
                                      const QString& text, std::int64_t flags) {
  auto* edit = new QPlainTextEdit(place.parent);
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
