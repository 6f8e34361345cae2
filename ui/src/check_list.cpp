#include "gadgets.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QTreeWidget>
#include <algorithm>

#include "ui/ui.h"

namespace {

constexpr std::int64_t CheckBoxesFlag = 1;
constexpr int ItemDataRole = Qt::UserRole;

// A report list of one column: a tree widget without any tree to it.
class CheckListGadget : public Gadget {
 public:
  CheckListGadget(ObjectNumber number, const GadgetPlace& place, QTreeWidget* list, bool checkBoxes)
      : Gadget(number, place.window, list), list_(list), checkBoxes_(checkBoxes) {}

  bool AddItem(std::int64_t position, const QString& text, std::int64_t) override {
    if (!Widget()) return false;
    auto* item = new QTreeWidgetItem(QStringList{text});
    if (checkBoxes_) {
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setCheckState(0, Qt::Unchecked);
    }
    if (position < 0 || position > list_->topLevelItemCount()) {
      position = list_->topLevelItemCount();
    }
    list_->insertTopLevelItem(static_cast<int>(position), item);
    return true;
  }
  void ClearItems() override {
    if (Widget()) list_->clear();
  }
  std::int64_t CountItems() override { return Widget() ? list_->topLevelItemCount() : 0; }
  std::int64_t GetState() override {
    if (!Widget()) return -1;
    const QModelIndex current = list_->currentIndex();
    return current.isValid() ? current.row() : -1;
  }
  void SetState(std::int64_t index) override {
    if (!Widget()) return;
    if (QTreeWidgetItem* item = Item(index)) {
      list_->setCurrentItem(item);  // single selection: the one selected row too
    } else {
      list_->selectionModel()->clear();
    }
  }
  QString GetItemText(std::int64_t index, std::int64_t column) override {
    QTreeWidgetItem* item = Item(index);
    return item && column == 0 ? item->text(0) : QString();
  }
  std::int64_t GetItemState(std::int64_t index) override {
    QTreeWidgetItem* item = Item(index);
    if (!item) return 0;
    std::int64_t state = item->isSelected() ? UiItemSelected : 0;
    if (checkBoxes_ && item->checkState(0) == Qt::Checked) state |= UiItemChecked;
    return state;
  }
  void SetItemState(std::int64_t index, std::int64_t state) override {
    QTreeWidgetItem* item = Item(index);
    if (!item) return;
    const QModelIndex row = list_->model()->index(static_cast<int>(index), 0);
    // Selecting one row of a single-selection list deselects the row selected before.
    list_->selectionModel()->select(row, (state & UiItemSelected)
                                             ? QItemSelectionModel::ClearAndSelect
                                             : QItemSelectionModel::Deselect);
    if (checkBoxes_) {
      item->setCheckState(0, (state & UiItemChecked) ? Qt::Checked : Qt::Unchecked);
    }
  }
  std::int64_t GetItemData(std::int64_t index) override {
    QTreeWidgetItem* item = Item(index);
    return item ? item->data(0, ItemDataRole).toLongLong() : 0;
  }
  void SetItemData(std::int64_t index, std::int64_t value) override {
    if (QTreeWidgetItem* item = Item(index)) {
      item->setData(0, ItemDataRole, QVariant::fromValue<qlonglong>(value));
    }
  }

  // The longest row with its check box, inside the frame, with room for a scroll bar that
  // a low list shows.
  int RequiredWidth() override {
    if (!Widget()) return 0;
    int widest = 0;
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
      widest = std::max(widest, list_->sizeHintForIndex(list_->model()->index(row, 0)).width());
    }
    return widest + 2 * list_->frameWidth() + list_->verticalScrollBar()->sizeHint().width();
  }
  // A column made as wide as the list follows it, within the frame: wider, it would show a
  // scroll bar for nothing but its own excess.
  void Place(const QRect& area) override {
    if (!Widget()) return;
    const bool columnFilled = list_->header()->sectionSize(0) >= list_->viewport()->width();
    list_->setGeometry(area);
    if (columnFilled) {
      list_->header()->resizeSection(0, std::max(0, area.width() - 2 * list_->frameWidth()));
    }
  }

 private:
  [[nodiscard]] QTreeWidgetItem* Item(std::int64_t index) const {
    if (!Widget() || index < 0 || index >= list_->topLevelItemCount()) return nullptr;
    return list_->topLevelItem(static_cast<int>(index));
  }

  QTreeWidget* list_;
  bool checkBoxes_;
};

}  // namespace

std::unique_ptr<Gadget> MakeCheckList(ObjectNumber number, const GadgetPlace& place,
                                      const QString& columnTitle, std::int64_t columnWidth,
                                      std::int64_t flags) {
  auto* list = new QTreeWidget(place.parent);
  list->setColumnCount(1);
  list->setHeaderLabels({columnTitle});
  list->header()->setStretchLastSection(false);
  if (columnWidth > 0) list->header()->resizeSection(0, static_cast<int>(columnWidth));
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  return std::make_unique<CheckListGadget>(number, place, list, flags & CheckBoxesFlag);
}
