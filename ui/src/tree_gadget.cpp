#include "gadgets.h"

#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QTreeView>

#include "threads/posted_events.h"
#include "tree_model.h"
#include "ui/ui.h"
#include "ui_objects.h"

namespace {

// Reads its rows under one hold of the store per layout and paint pass.
class TreeView : public QTreeView {
 public:
  TreeView(std::shared_ptr<TreeShared> rows, QWidget* parent)
      : QTreeView(parent), rows_(std::move(rows)) {}
  void doItemsLayout() override {
    QElapsedTimer took;
    took.start();
    {
      TreeRowStore::Hold hold(rows_->store);
      QTreeView::doItemsLayout();
    }
    if (rows_->model) rows_->model->NoteLayoutTime(took.elapsed());
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    TreeRowStore::Hold hold(rows_->store);
    QTreeView::paintEvent(event);
  }

 private:
  std::shared_ptr<TreeShared> rows_;
};

QTreeView* NewTreeView(std::shared_ptr<TreeShared> rows, QWidget* parent) {
  auto* view = new TreeView(std::move(rows), parent);
  view->setHeaderHidden(true);
  view->setUniformRowHeights(true);  // what lets the view skip measuring millions of rows
  view->setRootIsDecorated(true);
  view->setItemsExpandable(true);
  view->setAnimated(false);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  return view;
}

class TreeGadget : public Gadget {
 public:
  TreeGadget(ObjectNumber number, const GadgetPlace& place, QTreeView* view,
             std::shared_ptr<TreeShared> rows)
      : Gadget(number, place.window, view),
        rows_(std::move(rows)),
        model_(std::make_unique<TreeModel>(rows_)) {
    view->setModel(model_.get());
    TellSelectionChanges(view);
    // Asks whichever view the gadget has when the question comes: a big clear replaces it.
    model_->SetAtEndQuery([this] {
      const QTreeView* shown = View();
      if (!shown) return false;
      const QScrollBar* bar = shown->verticalScrollBar();
      return bar->value() >= bar->maximum() - bar->pageStep();
    });
    ui_objects::RegisterTreeRows(number, rows_);
  }

  ~TreeGadget() override {
    ui_objects::UnregisterTreeRows(Number());
    model_->SetAtEndQuery(nullptr);
    delete Widget();  // the view goes before the model it shows
    model_.reset();
  }

  // Appending, counting and reading rows never reach the gadget: the toolkit layer serves
  // them from the row store registered above, on any thread.
  void ClearItems() override {
    const bool big = model_->Published() > ViewRebuildRows;
    model_->Clear();
    if (big && View()) RebuildView();
  }
  std::int64_t GetState() override { return SelectedRow(); }

  // Row index counts rows in the order they were added, published to the view or not.
  void SetState(std::int64_t index) override {
    QTreeView* view = View();
    if (!view) return;
    if (index < 0 || index >= rows_->store.Count()) {
      view->selectionModel()->clear();
      return;
    }
    if (index >= model_->Published()) model_->FetchThrough(index);
    const QModelIndex row = model_->IndexOfRow(index);
    view->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
    view->scrollTo(row);  // opens the collapsed parents on the way
  }

  QString GetText() override {
    const std::int64_t row = SelectedRow();
    return row < 0 ? QString() : QString::fromStdU16String(rows_->store.Text(row));
  }

 private:
  // A tree view keeps the room of its per-row layout (some 40 bytes a row) after a reset,
  // for as long as it lives: only a new view gives the memory of a big result back.
  static constexpr std::int64_t ViewRebuildRows = 100000;

  void RebuildView() {
    QTreeView* fresh = NewTreeView(rows_, View()->parentWidget());
    fresh->setModel(model_.get());
    TellSelectionChanges(fresh);
    ReplaceWidget(fresh);
  }

  // The view is looked up at each use, never kept: a big clear replaces it, and Qt destroys
  // it with its tab.
  [[nodiscard]] QTreeView* View() const { return static_cast<QTreeView*>(Widget()); }

  void TellSelectionChanges(QTreeView* view) {
    QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, view,
                     [number = Number(), window = Window()] {
                       QueueEvent(SelectionEvent, number, window, 0, 0, nullptr);
                     });
  }

  [[nodiscard]] std::int64_t SelectedRow() const {
    const QTreeView* view = View();
    if (!view) return -1;
    const QModelIndexList selected = view->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : TreeModel::RowOf(selected.first());
  }

  std::shared_ptr<TreeShared> rows_;
  std::unique_ptr<TreeModel> model_;
};

}  // namespace

std::unique_ptr<Gadget> MakeTree(ObjectNumber number, const GadgetPlace& place) {
  auto rows = std::make_shared<TreeShared>();
  QTreeView* view = NewTreeView(rows, place.parent);
  return std::make_unique<TreeGadget>(number, place, view, std::move(rows));
}
