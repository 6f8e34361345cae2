// For the benchmarks that drive the real evaluator: an evaluation started as a user starts
// it, with Enter in the pattern field, and the loop run until it has ended.
#pragma once

#include <chrono>
#include <cstdio>
#include <thread>

#include <QByteArray>
#include <QtGlobal>

#include "app/evaluator.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/ui.h"

// The wall time in seconds. The worker may still be returning after its last event, and
// then nothing would wake a waiting loop: its end is polled for instead. What the loop's
// handling of the last event queued (the first row's selection) is handled too unless
// leaveQueued.
inline double EvaluateByEnter(bool leaveQueued = false) {
  const auto start = std::chrono::steady_clock::now();
  UiSetFocus(evaluator::PatternField);
  QueueEvent(MenuEvent, evaluator::EnterCommand, evaluator::MainWindow, 0, 0, nullptr);
  int code = 0;
  while (code != evaluator::DoneEvent && code != evaluator::MessageEvent) {
    code = UiWaitEvent();
    evaluator::HandleEvent(code);
  }
  while (ThreadIsRunning(evaluator::State().workerThread)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  while (!leaveQueued && HasQueuedEvent() != 0) evaluator::HandleEvent(UiWaitEvent());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The start of a benchmark given FILE and PATTERN: the evaluator started on Qt's offscreen
// platform, or false (the usage said) when they are missing.
inline bool StartOffscreenWithFileAndPattern(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE PATTERN\n", argv[0]);
    return false;
  }
  qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  evaluator::StartUp();
  return true;
}
