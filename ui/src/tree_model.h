// The view side of a tree gadget: a Qt model over a TreeRowStore that shows the view the
// rows it has published, and picks up appended rows in batches on the UI thread.
#pragma once

#include <QAbstractItemModel>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "tree_row_store.h"

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

class TreeModel : public QAbstractItemModel {
 public:
  // Rows published per batch, so that a worker adding millions of rows never keeps the UI
  // thread from its other events for long.
  static constexpr std::int64_t BatchLimit = 100000;

  explicit TreeModel(std::shared_ptr<TreeShared> rows);
  ~TreeModel() override;

  QModelIndex index(int row, int column, const QModelIndex& parent) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent) const override;
  int columnCount(const QModelIndex& parent) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  // Publishes up to limit more rows; true while rows remain unpublished.
  bool Publish(std::int64_t limit);
  std::int64_t Published() const { return published_; }
  // Schedules the next batch (UI thread).
  void SchedulePublish();
  // Every batch makes the view lay out all its rows again; spacing the batches by that cost
  // keeps both the UI thread and an appending worker going on big trees.
  void NoteLayoutTime(std::int64_t milliseconds);
  void Clear();
  QModelIndex IndexOfRow(std::int64_t row) const;
  static std::int64_t RowOf(const QModelIndex& index) {
    return static_cast<std::int64_t>(index.internalId());
  }

 private:
  std::int64_t VisibleChildren(std::int64_t row) const;
  void PublishBatch();

  std::shared_ptr<TreeShared> rows_;
  std::int64_t published_ = 0;
  TreeVisibleSpine spine_;
  QTimer batchTimer_;
  std::int64_t lastLayoutMilliseconds_ = 0;
};
