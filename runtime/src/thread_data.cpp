#include "runtime/thread_data.h"

#include <pthread.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

struct Registration {
  std::int64_t offset;
  SlotFunction initialiser;
  SlotFunction release;
};

struct CleanUp {
  ExitFunction function;
  void* argument;
};

// The clean-ups of one thread, newest last; run in reverse when the thread ends.
struct ThreadExitWatcher {
  std::vector<CleanUp> cleanUps;
};

// Written at start-up only, and never destroyed: a thread that ends while the process exits
// still releases its block through it.
std::vector<Registration>& registrations = *new std::vector<Registration>;
std::int64_t blockSize = 0;

pthread_key_t watcherKey;
std::once_flag watcherKeyOnce;

// Raw pointers without destructors: their owners are released by the watcher, which runs
// from the pthread key destructor, after every C++ thread_local has gone.
thread_local ThreadExitWatcher* currentWatcher = nullptr;
thread_local std::vector<std::uint64_t>* currentBlock = nullptr;

void RunWatcher(void* argument) {
  std::unique_ptr<ThreadExitWatcher> watcher(static_cast<ThreadExitWatcher*>(argument));
  currentWatcher = nullptr;
  for (auto entry = watcher->cleanUps.rbegin(); entry != watcher->cleanUps.rend(); ++entry) {
    entry->function(entry->argument);
  }
}

void CreateWatcherKey() { pthread_key_create(&watcherKey, RunWatcher); }

void* SlotAddress(std::vector<std::uint64_t>* block, std::int64_t offset) {
  return reinterpret_cast<std::byte*>(block->data()) + offset;
}

void ReleaseBlock(void* argument) {
  std::unique_ptr<std::vector<std::uint64_t>> block(
      static_cast<std::vector<std::uint64_t>*>(argument));
  for (auto entry = registrations.rbegin(); entry != registrations.rend(); ++entry) {
    if (entry->release) entry->release(SlotAddress(block.get(), entry->offset));
  }
  if (currentBlock == block.get()) currentBlock = nullptr;
}

std::vector<std::uint64_t>* CreateBlock() {
  auto block =
      std::unique_ptr<std::vector<std::uint64_t>>(new (std::nothrow) std::vector<std::uint64_t>());
  if (!block) return nullptr;
  try {
    block->resize(static_cast<std::size_t>(blockSize / 8) + 1);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  for (auto entry = registrations.rbegin(); entry != registrations.rend(); ++entry) {
    if (entry->initialiser) entry->initialiser(SlotAddress(block.get(), entry->offset));
  }
  if (!OnThreadExit(ReleaseBlock, block.get())) return nullptr;
  return block.release();
}

}  // namespace

void* OnThreadExit(ExitFunction function, void* argument) {
  std::call_once(watcherKeyOnce, CreateWatcherKey);
  if (!currentWatcher) {
    currentWatcher = new (std::nothrow) ThreadExitWatcher;
    if (!currentWatcher) return nullptr;
    pthread_setspecific(watcherKey, currentWatcher);
  }
  try {
    currentWatcher->cleanUps.push_back({function, argument});
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return &currentWatcher->cleanUps.back();
}

std::int64_t RegisterThreadSlot(std::int64_t size, SlotFunction initialiser,
                                SlotFunction releaseFunction) {
  std::int64_t offset = blockSize;
  registrations.push_back({offset, initialiser, releaseFunction});
  blockSize += (size + 7) / 8 * 8;
  if (!currentBlock) {
    currentBlock = CreateBlock();  // runs every initialiser, the new one included
  } else {
    currentBlock->resize(static_cast<std::size_t>(blockSize / 8) + 1, 0);
    if (initialiser) initialiser(SlotAddress(currentBlock, offset));
  }
  return offset;
}

void* ThreadSlot(std::int64_t offset) {
  if (!currentBlock) currentBlock = CreateBlock();
  if (!currentBlock || offset < 0 || offset >= blockSize) return nullptr;
  return SlotAddress(currentBlock, offset);
}

// Nothing to undo: see the header.
void PerThreadDataEnd() {}
