// Start-up and shut-down order: the runtime, threads, regex, JSON, XML and toolkit
// libraries that keep state come up and go down in fixed orders, listed here side by side;
// the window and the result list come after the libraries.
#include "app/evaluator.h"

#include <malloc.h>

#include <array>

#include "evaluation_request.h"
#include "json/json.h"
#include "main_window.h"
#include "records/match_record.h"
#include "regex/regex.h"
#include "runtime/file_stream.h"
#include "runtime/strings.h"
#include "runtime/thread_data.h"
#include "state.h"
#include "threads/posted_events.h"
#include "threads/threads.h"
#include "ui/ui.h"
#include "xml/xml.h"

namespace evaluator {
namespace {

using LibraryStep = void (*)();

// The program's heap: an evaluation allocates millions of small blocks (records, strings,
// group lists) on the worker thread, so the heap grows in large steps rather than one
// system call every few hundred blocks.
void CreateProgramHeap() { mallopt(M_TOP_PAD, 64 << 20); }

constexpr auto StartUpOrder = std::to_array<LibraryStep>({
    StringManagerInit,
    PostEventInit,
    FileStreamInit,
    UiInit,  // windows and gadgets, with the posted-event receiver
    JsonInit,
    RegexInit,
    ThreadInit,
    XmlInit,
});

constexpr auto ShutDownOrder = std::to_array<LibraryStep>({
    XmlEnd,
    ThreadEnd,
    RegexEnd,
    JsonEnd,  // frees every document
    UiEnd,
    FileStreamEnd,
    PostEventEnd,
    PerThreadDataEnd,
    StringManagerEnd,
});

template <std::size_t N>
void RunSteps(const std::array<LibraryStep, N>& steps) {
  for (const LibraryStep step : steps) step();
}

void CreateResultList() {
  ApplicationState& state = State();
  state.resultList = CreateLazyMatchRecordList(&state.resultListSlot);
}

}  // namespace

void StartUp() {
  CreateProgramHeap();
  RunSteps(StartUpOrder);
  BuildMainWindow();
  CreateResultList();
}

void ShutDown() {
  StopWorker();
  RunSteps(ShutDownOrder);
}

}  // namespace evaluator
