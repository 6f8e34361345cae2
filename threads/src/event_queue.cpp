#include "event_queue.h"

#include <new>

QueueNode* NodePool::Take() {
  if (!free_) {
    auto chunk = std::unique_ptr<QueueNode[]>(new (std::nothrow) QueueNode[kNodesPerChunk]);
    if (!chunk) return nullptr;
    try {
      chunks_.push_back(std::move(chunk));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    QueueNode* nodes = chunks_.back().get();
    for (std::size_t index = 0; index < kNodesPerChunk; ++index) GiveBack(&nodes[index]);
  }
  QueueNode* node = free_;
  free_ = node->next;
  return node;
}

void NodePool::GiveBack(QueueNode* node) {
  node->next = free_;
  free_ = node;
}

bool EventQueue::MergesWithLast(const QueueNode& event) const {
  return tail && event.code < UserEventBase && tail->code == event.code &&
         tail->window == event.window && tail->object == event.object && tail->type == event.type;
}

bool EventQueue::Append(const QueueNode& event) {
  if (MergesWithLast(event)) return false;
  QueueNode* node = pool.Take();
  if (!node) return false;
  *node = event;
  node->next = nullptr;
  if (tail) {
    tail->next = node;
  } else {
    head = node;
  }
  tail = node;
  return true;
}

PostedEvent EventQueue::TakeNext() {
  PostedEvent previous;
  current.code = 0;
  if (current.data && current.release) {
    previous.data = current.data;
    previous.release = current.release;
    current.data = 0;
    current.release = nullptr;
  }
  current.type = -1;
  if (QueueNode* oldest = head) {
    current = static_cast<const PostedEvent&>(*oldest);
    head = oldest->next;
    if (!head) tail = nullptr;
    pool.GiveBack(oldest);
  }
  return previous;
}

void EventQueue::ReleaseAll() {
  QueueNode* chain = head;
  head = nullptr;
  tail = nullptr;
  while (QueueNode* node = chain) {
    chain = node->next;
    if (node->release && node->data) node->release(node->data);
    pool.GiveBack(node);
  }
  if (current.release && current.data) current.release(current.data);
  current.data = 0;
  current.release = nullptr;
}
