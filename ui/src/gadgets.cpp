#include "gadgets.h"

#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVariant>
#include <algorithm>

#include "threads/posted_events.h"
#include "ui/ui.h"
#include "ui_objects.h"

Gadget::Gadget(ObjectNumber number, ObjectNumber window, QWidget* widget)
    : number_(number), window_(window), widget_(widget) {
  widget->setProperty(GadgetNumberProperty, QVariant::fromValue<qlonglong>(number));
  widget->show();
}

Gadget::~Gadget() { delete widget_.data(); }

bool Gadget::AddItem(std::int64_t, const QString&, std::int64_t) { return false; }

QSize Gadget::InnerSize() { return Widget() ? Widget()->contentsRect().size() : QSize(); }

void Gadget::Place(const QRect& area) {
  if (Widget()) Widget()->setGeometry(area);
}

void Gadget::ReplaceWidget(QWidget* fresh) {
  fresh->setProperty(GadgetNumberProperty, QVariant::fromValue<qlonglong>(number_));
  if (QWidget* old = widget_.data()) {
    // A splitter appends a new child as its last pane: it goes to the old one's place.
    if (auto* splitter = qobject_cast<QSplitter*>(old->parentWidget())) {
      splitter->insertWidget(splitter->indexOf(old), fresh);
    }
    fresh->setGeometry(old->geometry());
    fresh->setToolTip(old->toolTip());
    QWidget::setTabOrder(old, fresh);
    fresh->setVisible(!old->isHidden());
    if (old->hasFocus()) fresh->setFocus(Qt::OtherFocusReason);
    delete old;
  }
  widget_ = fresh;
}

void PlaceWidget(QWidget* widget, const GadgetRect& rect) {
  const QRect current = widget->geometry();
  const QSize hint = widget->sizeHint();
  auto pick = [](std::int64_t value, int fallback) {
    return value == UiIgnore ? fallback : static_cast<int>(value);
  };
  widget->setGeometry(pick(rect.x, current.x()), pick(rect.y, current.y()),
                      pick(rect.width, hint.width()), pick(rect.height, hint.height()));
}

ObjectNumber GadgetOfWidget(const QWidget* widget) {
  for (; widget; widget = widget->parentWidget()) {
    const QVariant number = widget->property(GadgetNumberProperty);
    if (number.isValid()) return number.toLongLong();
  }
  return -1;
}

namespace {

// Tab titles and button texts show an ampersand as typed, as labels do.
QString WithoutMnemonic(const QString& text) {
  QString escaped = text;
  return escaped.replace(QLatin1Char('&'), QLatin1String("&&"));
}

QString MnemonicRemoved(const QString& text) {
  QString plain = text;
  return plain.replace(QLatin1String("&&"), QLatin1String("&"));
}

class LabelGadget : public Gadget {
 public:
  LabelGadget(ObjectNumber number, const GadgetPlace& place, QLabel* label)
      : Gadget(number, place.window, label), label_(label) {}
  QString GetText() override { return Widget() ? label_->text() : QString(); }
  void SetText(const QString& text) override {
    if (Widget()) label_->setText(text);
  }
  // The widest line unwrapped, with the label's own margins.
  int RequiredWidth() override {
    if (!Widget()) return 0;
    int widest = 0;
    for (const QString& line : label_->text().split(QLatin1Char('\n'))) {
      widest = std::max(widest, label_->fontMetrics().horizontalAdvance(line));
    }
    const QMargins margins = label_->contentsMargins();
    return widest + margins.left() + margins.right() + 2 * label_->margin() + 2 * label_->indent() +
           2;
  }

 private:
  QLabel* label_;
};

class ButtonGadget : public Gadget {
 public:
  ButtonGadget(ObjectNumber number, const GadgetPlace& place, QPushButton* button)
      : Gadget(number, place.window, button), button_(button) {
    QObject::connect(button, &QPushButton::clicked, button, [number, window = place.window] {
      QueueEvent(GadgetEvent, number, window, 0, 0, nullptr);
    });
  }
  QString GetText() override { return Widget() ? MnemonicRemoved(button_->text()) : QString(); }
  void SetText(const QString& text) override {
    if (Widget()) button_->setText(WithoutMnemonic(text));
  }
  int RequiredWidth() override { return Widget() ? button_->sizeHint().width() : 0; }

 private:
  QPushButton* button_;
};

class PanelGadget : public Gadget {
 public:
  PanelGadget(ObjectNumber number, const GadgetPlace& place, QTabWidget* tabs)
      : Gadget(number, place.window, tabs), tabs_(tabs) {}

  bool AddItem(std::int64_t position, const QString& text, std::int64_t) override {
    if (!Widget()) return false;
    auto* page = new QWidget;  // the tab widget owns it from here on
    if (position < 0 || position > tabs_->count()) position = tabs_->count();
    tabs_->insertTab(static_cast<int>(position), page, WithoutMnemonic(text));
    gadget_list::TabAdded(Number(), page);
    return true;
  }
  void ClearItems() override {
    if (!Widget()) return;
    while (tabs_->count() > 0) delete tabs_->widget(0);
  }
  std::int64_t CountItems() override { return Widget() ? tabs_->count() : 0; }
  std::int64_t GetState() override { return Widget() ? tabs_->currentIndex() : -1; }
  void SetState(std::int64_t index) override {
    if (Widget() && index >= 0 && index < tabs_->count()) {
      tabs_->setCurrentIndex(static_cast<int>(index));
    }
  }
  QString GetItemText(std::int64_t index, std::int64_t) override {
    if (!Widget() || index < 0 || index >= tabs_->count()) return {};
    return MnemonicRemoved(tabs_->tabText(static_cast<int>(index)));
  }
  // The pages' area: the panel less its tab strip and frame.
  QSize InnerSize() override {
    if (!Widget()) return {};
    auto* pages = tabs_->findChild<QStackedWidget*>(QString(), Qt::FindDirectChildrenOnly);
    return pages ? pages->size() : tabs_->contentsRect().size();
  }

 private:
  QTabWidget* tabs_;
};

}  // namespace

std::unique_ptr<Gadget> MakeLabel(ObjectNumber number, const GadgetPlace& place,
                                  const QString& text) {
  auto* label = new QLabel(place.parent);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(true);
  label->setText(text);
  return std::make_unique<LabelGadget>(number, place, label);
}

std::unique_ptr<Gadget> MakeButton(ObjectNumber number, const GadgetPlace& place,
                                   const QString& text) {
  auto* button = new QPushButton(WithoutMnemonic(text), place.parent);
  // Enter belongs to the window's shortcut table, never to a default button.
  button->setAutoDefault(false);
  return std::make_unique<ButtonGadget>(number, place, button);
}

std::unique_ptr<Gadget> MakePanel(ObjectNumber number, const GadgetPlace& place) {
  return std::make_unique<PanelGadget>(number, place, new QTabWidget(place.parent));
}
