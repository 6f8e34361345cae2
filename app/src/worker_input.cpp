#include "worker_input.h"

#include <atomic>
#include <string>
#include <utility>

#include "messages.h"
#include "owned_object.h"
#include "runtime/file_stream.h"
#include "state.h"
#include "status_line.h"

namespace evaluator {
namespace {

// The budget for an input of n bytes: the n bytes read, which the scan, the view and the
// exports share, and 2n more for a repaired copy the engine scans when the file is not
// valid UTF-8, or else for the results. Results are checked again as they grow.
constexpr std::int64_t MemoryPerInputByte = 3;

std::atomic<std::int64_t> engineBytesLimit{InputLimits{}.engineBytes};
std::atomic<std::int64_t> memoryBudgetLimit{InputLimits{}.memoryBudget};

SharedUtf8 ReadFile(const std::u16string& path) {
  ReportPhase(EvaluationPhase::Reading);
  OwnedObject<CloseFileStream>& stream = State().inputStream;
  // Not made inside one change with the taking over: opening a FIFO waits for its writer,
  // and Esc must end that wait.
  stream.Adopt(OpenFileRead(AnyHandle, path.c_str(), ShareRead | FormatUtf8));
  if (stream.Number() == 0) {
    PostUserMessage(InputNotOpenedMessage(path));
    return {};
  }
  // A zero byte is a character of the subject like any other: the engine takes a length,
  // so the whole file is matched.
  const std::int64_t engineBytes = engineBytesLimit.load();
  const WholeReadLimits limits{.memoryPerByte = MemoryPerInputByte,
                               .memoryBudget = memoryBudgetLimit.load(),
                               .longestText = engineBytes,
                               .zeroEndsText = false,
                               .progress = &Progress().read};
  WholeText read = StreamReadWholeUtf8(stream.Number(), FormatUtf8, limits);
  stream.Release();
  if (read.end != WholeReadEnd::Complete) {
    PostUserMessage(InputNotReadMessage(path, read, engineBytes));
    return {};
  }
  if (read.unreadablePlaces > 0 || read.zeroBytes > 0) {
    PostUserMessage(InputNotAllTextMessage(path, read));
  }
  return std::move(read.utf8);
}

}  // namespace

void SetInputLimits(const InputLimits& limits) {
  engineBytesLimit.store(limits.engineBytes);
  memoryBudgetLimit.store(limits.memoryBudget);
}

InputLimits CurrentInputLimits() { return {engineBytesLimit.load(), memoryBudgetLimit.load()}; }

SharedUtf8 ReadInput(const Evaluation& evaluation) {
  if (evaluation.fromFile) return ReadFile(evaluation.input);
  // A typed text ends at its first zero character, as a file's text does.
  ReportPhase(EvaluationPhase::Converting);
  return ShareUtf8(Utf16ToUtf8(std::u16string_view(evaluation.input.c_str())));
}

}  // namespace evaluator
