// The evaluator's application state, owned by the main program for the whole run.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "match_places.h"
#include "owned_object.h"
#include "records/record_list.h"
#include "regex/regex.h"
#include "runtime/file_stream.h"
#include "runtime/object_registry.h"

namespace evaluator {

struct ApplicationState {
  // The file the last evaluation read or the user chose: set on the UI thread when Enter
  // starts an evaluation of a file or a file is chosen, read by commands and the export:
  // guarded by textLock. The input text itself belongs to the worker that reads it.
  std::u16string inputFilePath;
  std::mutex textLock;

  std::int64_t workerThread = 0;
  // The worker's result store thread (see ResultStore), set by the worker: 0 for none.
  std::atomic<std::int64_t> storeThread{0};
  // The worker's helper searching ahead in a large input (see RegexSearchAhead): 0 for none.
  std::atomic<std::int64_t> searchThread{0};
  std::u16string eventMessageText;
  ObjectNumber mainPanel = 0;

  // The worker holds resultListLock while it adds a record with its groups; every reader
  // holds it while it walks the list, and puts the cursor back where the worker needs it.
  ListSlot resultListSlot{};
  RecordList* resultList = nullptr;
  std::mutex resultListLock;
  // The header of the csv table: "match", then each group's name or number, as the
  // evaluation that filled resultList compiled its pattern. Guarded by resultListLock.
  std::vector<std::u16string> resultColumns;

  // The records of earlier results, handed over by StartEvaluation and released by the next
  // worker in steps, so that clearing millions of records never blocks the window. A worker
  // stopped part way leaves the rest to the next one. Guarded by retiredResultsLock (taken
  // after resultListLock where both are held).
  RecordList* retiredResults = nullptr;
  std::mutex retiredResultsLock;

  // Where the result's matches lie in the input, for the input view.
  MatchPlaces matchPlaces;

  // What the running evaluation made: the worker releases each once it is done with it,
  // StopWorker after stopping it, whichever comes first.
  OwnedObject<RegexFree> evaluationRegex;
  OwnedObject<CloseFileStream> inputStream;
};

ApplicationState& State();

std::u16string InputFilePath();
void SetInputFilePath(std::u16string path);

}  // namespace evaluator
