// The evaluator: start-up, the main window and its gadgets, the event loop, the evaluation
// worker and the commands around it. Tests drive the same functions the program runs.
// Inside app/src, one file per concern (the README's Layout lists them): an evaluation
// gathered on the UI thread when Enter is pressed (evaluation_request) goes one way to the
// worker (worker, worker_input), whose scan loop (scan_loop) fills batches of matches
// (found_batch) that the store thread (store_thread) makes into records and tree rows.
#pragma once

#include <cstdint>
#include <vector>

namespace evaluator {

// Gadgets are addressed by fixed numbers: shortcut events and export compare against them.
enum Gadget : std::int64_t {
  PatternLabel = 0,
  PatternField = 1,
  InputLabel = 2,
  InputField = 3,
  OptionsLabel = 4,
  OptionsList = 5,
  ResultsLabel = 6,
  ResultsTree = 7,
  ExportCommaButton = 8,
  ExportNewlineButton = 9,
  ExportTabButton = 10,
  ExportJsonButton = 11,
  ExportXmlButton = 12,
  ExportCsvTableButton = 13,
  // On the "result" tab: the tree and the input view share a splitter.
  InputView = 14,
  ResultsSplitter = 15,
};

inline constexpr std::int64_t MainWindow = 0;

// Tabs of the main panel, in their order.
enum Tab : std::int64_t {
  MainTab = 0,
  ResultTab = 1,
  ExportTab = 2,
};

// The tab that holds gadget.
Tab TabOf(std::int64_t gadget);

// Whether a shortcut event is one of the focus shortcuts (Alt+P, Alt+S, Alt+O, Alt+R),
// whose event number is the gadget they focus.
bool IsFocusCommand(std::int64_t command);

// Events the worker posts to the loop.
inline constexpr int MessageEvent = 0x10000;
inline constexpr int DoneEvent = 0x10001;

// Shortcut event numbers.
enum Command : std::int64_t {
  HelpCommand = 100,
  AbortCommand = 101,
  EnterCommand = 102,
  ChooseFileCommand = 103,
  SaveCommand = 104,
  OpenInputFileCommand = 105,
  CopyAllCommand = 106,
};

struct ColumnArea {
  std::int64_t x;
  std::int64_t y;
  std::int64_t width;
  std::int64_t height;
  bool operator==(const ColumnArea&) const = default;
};

// Column k of columnCount equal columns over a client area of width x height.
ColumnArea ColumnRect(std::int64_t width, std::int64_t height, int columnCount, int column);

// The columns of a tab of width x height whose gadgets need the given widths, in column
// order (columns past them are empty). When each column's equal share is wide enough, this
// is the equal-column rule above; otherwise a column gets at least what its gadget needs
// and the columns that need less share the rest equally.
std::vector<ColumnArea> FittedColumns(std::int64_t width, std::int64_t height, int columnCount,
                                      const std::vector<std::int64_t>& needed);

// How often the status line shows a running evaluation's progress; 0 for never (the bench
// measures what showing it costs). UI thread, between evaluations.
void SetStatusRefresh(std::int64_t milliseconds);

// Start-up: the runtime libraries in their order, the window, gadgets, shortcuts, options
// and the result list.
void StartUp();

// Handles one event code as the loop does; false once CloseEvent has been handled.
bool HandleEvent(int code);

// Shut-down: stops a running worker, then ends the libraries in their order.
void ShutDown();

// The whole program: start-up, the loop until the window closes, shut-down. Returns the
// exit code, 0.
int Run();

}  // namespace evaluator
