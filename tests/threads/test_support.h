// Helpers of the thread and event tests: thread bodies, bounded waits, counted per-thread
// releases, and an inbox standing in for the UI receiver of posted events.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "threads/posted_events.h"

using namespace std::chrono_literals;

// A body for ThreadCreate; the test keeps it alive until its thread has ended.
using ThreadBody = std::function<void()>;
std::int64_t StartBody(ThreadBody& body);
extern std::atomic<int> threadsStarted;  // successful StartBody calls in this process

// Polls condition until it holds or timeout passes; the condition's last value.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s);

// ThreadKill on a helper thread: false when it has not returned within timeout (the
// helper is left stuck so that the test fails instead of hanging).
bool KillReturnsWithin(std::int64_t id, std::chrono::milliseconds timeout = 2s);

// The calling thread's tagged slot and exit clean-up; their releases are counted per tag.
void TagCallingThread(std::int64_t tag);
void CountExitOf(std::int64_t tag);
int SlotReleasesOf(std::int64_t tag);
int ExitCleanUpsOf(std::int64_t tag);

// The test hand-over: records go to the inbox in hand-over order (or are refused).
void InstallHandOver(bool accept);
extern std::atomic<int> handOverCalls;
std::vector<PostedEvent*> TakeInbox();
std::size_t InboxSize();
int DeliverInbox();  // on the calling thread, as the UI receiver does
void DiscardInbox();
