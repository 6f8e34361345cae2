// The store thread: a thread of its own that turns the batches the worker finds into
// records in the result list and rows in the result tree while the worker searches on, so
// that a large result takes the engine's time or the storing's, whichever is longer, and
// not both one after the other.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "evaluation.h"
#include "found_batch.h"
#include "runtime/text_pool.h"
#include "ui/ui.h"

namespace evaluator {

class ResultStore {
 public:
  // On the worker: starts the store thread for batches made by mode and groupCount, with
  // its id in the state so that StopWorker stops it with the worker; null when the thread
  // or the memory for the batches could not be had.
  [[nodiscard]] static std::shared_ptr<ResultStore> Start(EvaluationMode mode,
                                                          std::int64_t groupCount);

  ResultStore(EvaluationMode mode, std::int64_t groupCount);
  ResultStore(const ResultStore&) = delete;
  ResultStore& operator=(const ResultStore&) = delete;

  // On the worker: a batch to fill, once one is free; null when storing ran out of memory.
  [[nodiscard]] FoundBatch* EmptyBatch();
  // On the worker: hands a filled batch over to be stored.
  void HandOver(FoundBatch* batch);
  // On the worker: waits until every batch handed over is stored; false when memory ran
  // out. No batch may be handed over afterwards.
  [[nodiscard]] bool Finish();
  // On the worker, when it ends without Finish (stopped, or by an exception): the store
  // thread stores nothing more and ends.
  void Abandon();

 private:
  void StoreUntilFinished();  // the store thread
  FoundBatch* NextFullBatch();
  bool Store(FoundBatch& batch);

  // The records' texts, which the rows point into: filled by the worker as it fills the
  // batches, and made before them.
  TextPool texts_;
  std::vector<std::unique_ptr<FoundBatch>> batches_;
  std::vector<UiTreeItem> rows_;  // room for one batch's rows, used by whichever stores
  bool storesInline_ = false;     // set before the worker fills a batch

  std::mutex lock_;  // guards what follows
  std::condition_variable changed_;
  std::deque<FoundBatch*> empty_;
  std::deque<FoundBatch*> full_;
  bool finished_ = false;  // the worker hands over no more
  // Nothing more is stored: memory ran out while storing, or the worker went without
  // Finish.
  bool stopped_ = false;
  bool done_ = false;  // the store thread has stored all it will store
};

}  // namespace evaluator
