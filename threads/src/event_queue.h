// One thread's queue of pending events and its current event. Every member is used by the
// owning thread only; callers hold the event lock where the queue's rules ask for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "threads/posted_events.h"

// A pending event: the event as it will be taken, with its link.
struct QueueNode : PostedEvent {
  QueueNode* next = nullptr;
};

// Fixed-size nodes handed out from chunks and taken back into a free list, so that a busy
// queue stops allocating once it has grown.
class NodePool {
 public:
  QueueNode* Take();  // null when memory ran out
  void GiveBack(QueueNode* node);

 private:
  static constexpr std::size_t kNodesPerChunk = 32;
  std::vector<std::unique_ptr<QueueNode[]>> chunks_;
  QueueNode* free_ = nullptr;
};

struct EventQueue {
  NodePool pool;
  QueueNode* head = nullptr;
  QueueNode* tail = nullptr;
  PostedEvent current;

  // Appends a copy of event; false when it was dropped (no memory) or merged into the last
  // pending event. The caller then still owns the event's data.
  [[nodiscard]] bool Append(const QueueNode& event);

  // Makes the oldest pending event the current one (code 0 and type -1 when none is
  // pending). Returns the data and release function of the previous current event, which
  // the caller releases.
  [[nodiscard]] PostedEvent TakeNext();

  // Releases the data of every pending event and of the current one.
  void ReleaseAll();

 private:
  [[nodiscard]] bool MergesWithLast(const QueueNode& event) const;
};
