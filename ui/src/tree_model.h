// The view side of a tree gadget: a Qt model over a TreeRowStore that shows the view the
// rows it has published, and picks up appended rows in batches on the UI thread.
#pragma once

#include <QAbstractItemModel>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "tree_row_store.h"
#include "ui/ui.h"

class TreeModel;

// What a tree gadget shares with the threads that append to it.
struct TreeShared {
  TreeRowStore store;
  // Set by the append that asks the UI thread for the next batch; cleared by that batch.
  std::atomic<bool> publishPending{false};
  TreeModel* model = nullptr;  // UI thread only; null once the gadget is gone
};

// Any thread: appends one row (a shared change) and makes sure the UI thread will show it.
// False when the row could not be stored.
bool AppendTreeRow(const std::shared_ptr<TreeShared>& rows, std::u16string_view text,
                   std::int64_t level);
// The same for count rows under one lock of the store; the number of rows stored.
std::int64_t AppendTreeRows(const std::shared_ptr<TreeShared>& rows, const UiTreeItem* items,
                            std::int64_t count);

class TreeModel : public QAbstractItemModel {
 public:
  // Rows published per batch, so that a worker adding millions of rows never keeps the UI
  // thread from its other events for long.
  static constexpr std::int64_t BatchLimit = 100000;
  // The view lays out every row it has been shown whenever it lays out, so it is shown
  // rows in steps of this many as the user reaches the end of what it shows, the way Qt's
  // own large models feed their views (canFetchMore / fetchMore).
  static constexpr std::int64_t FetchStep = 4096;

  explicit TreeModel(std::shared_ptr<TreeShared> rows);
  ~TreeModel() override;

  [[nodiscard]] QModelIndex index(int row, int column, const QModelIndex& parent) const override;
  [[nodiscard]] QModelIndex parent(const QModelIndex& child) const override;
  [[nodiscard]] int rowCount(const QModelIndex& parent) const override;
  [[nodiscard]] int columnCount(const QModelIndex& parent) const override;
  [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
  [[nodiscard]] bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // Asked by canFetchMore: whether the view shows the end of what it has been shown. Without
  // it the view gets rows only as fast as FetchStep per layout.
  void SetAtEndQuery(std::function<bool()> atEnd) { atEnd_ = std::move(atEnd); }

  // Publishes up to limit more rows; true while rows remain unpublished.
  bool Publish(std::int64_t limit);
  // Lets the view be shown every row up to and including row, and shows them.
  void FetchThrough(std::int64_t row);
  [[nodiscard]] std::int64_t Published() const { return published_; }
  // Schedules the next batch (UI thread).
  void SchedulePublish();
  // Every batch makes the view lay out all its rows again; spacing the batches by that cost
  // keeps both the UI thread and an appending worker going on big trees.
  void NoteLayoutTime(std::int64_t milliseconds);
  void Clear();
  [[nodiscard]] QModelIndex IndexOfRow(std::int64_t row) const;
  static std::int64_t RowOf(const QModelIndex& index) {
    return static_cast<std::int64_t>(index.internalId());
  }

 private:
  [[nodiscard]] std::int64_t VisibleChildren(std::int64_t row) const;
  void PublishBatch();

  std::shared_ptr<TreeShared> rows_;
  std::int64_t published_ = 0;
  // Rows with an id below this may be shown to the view; the batches stop there.
  std::int64_t fetchBound_ = FetchStep;
  std::function<bool()> atEnd_;
  // Set while rows are being inserted: whoever hears of the insertion and asks for more
  // (fetchMore, a selection) must not start a second insertion inside the first.
  bool publishing_ = false;
  struct PublishingMark {
    explicit PublishingMark(bool& flag) : flag_(flag) { flag_ = true; }
    ~PublishingMark() { flag_ = false; }
    PublishingMark(const PublishingMark&) = delete;
    PublishingMark& operator=(const PublishingMark&) = delete;
    bool& flag_;
  };
  TreeVisibleSpine spine_;
  QTimer batchTimer_;
  std::int64_t lastLayoutMilliseconds_ = 0;
};
