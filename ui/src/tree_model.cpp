#include "tree_model.h"

#include <algorithm>

#include "runtime/thread_stop.h"
#include "ui_thread.h"

namespace {

// Gathers the rows of a busy worker into batches instead of waking the UI thread per row.
constexpr int BatchIntervalMilliseconds = 20;
// The next batch waits this many times as long as the view's last layout took.
constexpr std::int64_t LayoutShareDivisor = 3;
constexpr std::int64_t LongestBatchInterval = 1000;

}  // namespace

namespace {

// Makes sure the UI thread will pick up the rows appended since its last batch.
void AskForPublish(const std::shared_ptr<TreeShared>& rows) {
  if (rows->publishPending.exchange(true)) return;
  const bool posted = ui_thread::Post([rows] {
    if (rows->model) rows->model->SchedulePublish();
  });
  if (!posted) rows->publishPending.store(false);
}

}  // namespace

bool AppendTreeRow(const std::shared_ptr<TreeShared>& rows, std::u16string_view text,
                   std::int64_t level) {
  const UiTreeItem item{text.data(), static_cast<std::int64_t>(text.size()), level};
  return AppendTreeRows(rows, &item, 1) == 1;
}

std::int64_t AppendTreeRows(const std::shared_ptr<TreeShared>& rows, const UiTreeItem* items,
                            std::int64_t count) {
  SharedChangeScope change;
  std::int64_t added = 0;
  {
    const TreeRowStore::Hold hold(rows->store);
    for (; added < count; ++added) {
      const UiTreeItem& item = items[added];
      const std::u16string_view text(item.text ? item.text : u"", item.text ? item.length : 0);
      if (rows->store.Append(text, item.level) == NoRow) break;
    }
  }
  if (added > 0) AskForPublish(rows);
  return added;
}

TreeModel::TreeModel(std::shared_ptr<TreeShared> rows) : rows_(std::move(rows)) {
  rows_->model = this;
  batchTimer_.setSingleShot(true);
  batchTimer_.setInterval(BatchIntervalMilliseconds);
  QObject::connect(&batchTimer_, &QTimer::timeout, this, [this] { PublishBatch(); });
}

TreeModel::~TreeModel() {
  if (rows_->model == this) rows_->model = nullptr;
}

std::int64_t TreeModel::VisibleChildren(std::int64_t row) const {
  const TreeRowLinks links = rows_->store.Links(row);
  const auto depth = static_cast<std::size_t>(links.depth);
  // Only rows on the path to the last published row can have unpublished children.
  if (depth < spine_.entries.size() && spine_.entries[depth].row == row) {
    return spine_.entries[depth].visibleChildren;
  }
  return links.childCount;
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  std::int64_t id = NoRow;
  if (!parent.isValid()) {
    if (row < spine_.visibleRoots) id = rows_->store.RootAt(row);
  } else if (row < VisibleChildren(RowOf(parent))) {
    id = rows_->store.ChildAt(RowOf(parent), row);
  }
  return id == NoRow ? QModelIndex() : createIndex(row, 0, static_cast<quintptr>(id));
}

QModelIndex TreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  return IndexOfRow(rows_->store.Links(RowOf(child)).parent);
}

QModelIndex TreeModel::IndexOfRow(std::int64_t row) const {
  if (row == NoRow || row >= published_) return {};
  const TreeRowLinks links = rows_->store.Links(row);
  return createIndex(static_cast<int>(links.rowInParent), 0, static_cast<quintptr>(row));
}

int TreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  if (!parent.isValid()) return static_cast<int>(spine_.visibleRoots);
  return static_cast<int>(VisibleChildren(RowOf(parent)));
}

int TreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant TreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  return QString::fromStdU16String(rows_->store.Text(RowOf(index)));
}

bool TreeModel::canFetchMore(const QModelIndex&) const {
  return published_ >= fetchBound_ && published_ < rows_->store.Count() && atEnd_ && atEnd_();
}

void TreeModel::fetchMore(const QModelIndex& parent) {
  // Anything may ask, also while rows are being inserted; only a view at the end gets more.
  if (publishing_ || !canFetchMore(parent)) return;
  fetchBound_ = published_ + FetchStep;
  Publish(FetchStep);
}

void TreeModel::FetchThrough(std::int64_t row) {
  fetchBound_ = std::max(fetchBound_, row + 1);
  Publish(fetchBound_ - published_);
}

bool TreeModel::Publish(std::int64_t limit) {
  if (publishing_) return published_ < rows_->store.Count();
  const PublishingMark mark(publishing_);
  const std::int64_t available = rows_->store.Count();
  const std::int64_t target = published_ + std::min(limit, available - published_);
  while (published_ < target) {
    const TreePublishStep step = rows_->store.NextPublishStep(published_, target);
    beginInsertRows(IndexOfRow(step.parent), static_cast<int>(step.firstChild),
                    static_cast<int>(step.lastChild));
    published_ = step.bound;
    spine_ = rows_->store.VisibleSpine(published_);
    endInsertRows();
  }
  return published_ < rows_->store.Count();
}

void TreeModel::SchedulePublish() {
  if (!batchTimer_.isActive()) batchTimer_.start();
}

void TreeModel::NoteLayoutTime(std::int64_t milliseconds) {
  lastLayoutMilliseconds_ = milliseconds;
}

void TreeModel::PublishBatch() {
  // Cleared before counting, so that a row appended from now on asks for another batch.
  rows_->publishPending.store(false);
  // A user who watches the end of the rows keeps seeing new ones come in.
  if (published_ >= fetchBound_ && atEnd_ && atEnd_()) fetchBound_ = published_ + FetchStep;
  Publish(std::min(BatchLimit, fetchBound_ - published_));
  const bool more = published_ < std::min(fetchBound_, rows_->store.Count());
  const std::int64_t interval =
      std::clamp<std::int64_t>(lastLayoutMilliseconds_ * LayoutShareDivisor,
                               BatchIntervalMilliseconds, LongestBatchInterval);
  batchTimer_.setInterval(static_cast<int>(interval));
  if (more) batchTimer_.start();
}

void TreeModel::Clear() {
  beginResetModel();
  rows_->store.Clear();
  published_ = 0;
  fetchBound_ = FetchStep;
  spine_ = {};
  endResetModel();
}
