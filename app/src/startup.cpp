// Start-up and shut-down order: the runtime libraries come up and go down in fixed orders,
// listed here side by side; the window and the result list come after the libraries.
// Libraries the evaluator links but does not use have empty steps.
#include <malloc.h>

#include <array>

#include "app/evaluator.h"
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
#include "worker.h"
#include "xml/xml.h"

namespace evaluator {
namespace {

struct LibraryStep {
  const char* library;
  void (*step)();
};

void Nothing() {}

// The program's heap: an evaluation allocates millions of small blocks (records, strings,
// group lists) on the worker thread, so the heap grows in large steps rather than one
// system call every few hundred blocks.
void CreateProgramHeap() { mallopt(M_TOP_PAD, 64 << 20); }

constexpr std::array StartUpOrder{
    LibraryStep{"string manager", StringManagerInit},
    LibraryStep{"arrays", Nothing},
    LibraryStep{"maps", Nothing},
    LibraryStep{"posted events", PostEventInit},
    LibraryStep{"file streams", FileStreamInit},
    LibraryStep{"fonts", Nothing},
    LibraryStep{"memory blocks", Nothing},
    LibraryStep{"vector drawing", Nothing},
    LibraryStep{"image saving", Nothing},
    LibraryStep{"image decoders", Nothing},
    LibraryStep{"linked lists", Nothing},  // its tables are complete before main runs
    LibraryStep{"images", Nothing},
    LibraryStep{"2D drawing", Nothing},
    LibraryStep{"desktop scaling", Nothing},
    LibraryStep{"windows", UiInit},  // windows and gadgets, with the posted-event receiver
    LibraryStep{"gadgets", Nothing},
    LibraryStep{"JSON", JsonInit},
    LibraryStep{"programs", Nothing},
    LibraryStep{"regular expressions", RegexInit},
    LibraryStep{"dialogs", Nothing},
    LibraryStep{"threads", ThreadInit},
    LibraryStep{"XML", XmlInit},
};

constexpr std::array ShutDownOrder{
    LibraryStep{"XML", XmlEnd},
    LibraryStep{"threads", ThreadEnd},
    LibraryStep{"regular expressions", RegexEnd},
    LibraryStep{"keyboard input", Nothing},
    LibraryStep{"mouse input", Nothing},
    LibraryStep{"full-screen drawing", Nothing},
    LibraryStep{"sprites", Nothing},
    LibraryStep{"JSON", JsonEnd},  // frees every document
    LibraryStep{"gadgets", Nothing},
    LibraryStep{"windows", UiEnd},
    LibraryStep{"desktop scaling", Nothing},
    LibraryStep{"2D drawing", Nothing},
    LibraryStep{"images", Nothing},
    LibraryStep{"vector drawing", Nothing},
    LibraryStep{"fonts", Nothing},
    LibraryStep{"file streams", FileStreamEnd},
    LibraryStep{"posted events", PostEventEnd},
    LibraryStep{"per-thread data", PerThreadDataEnd},
    LibraryStep{"input devices", Nothing},
    LibraryStep{"memory blocks", Nothing},
    LibraryStep{"string manager", StringManagerEnd},
};

template <std::size_t N>
void RunSteps(const std::array<LibraryStep, N>& steps) {
  for (const LibraryStep& library : steps) library.step();
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
