// JSON export benchmark: a result list shaped like the IP-address evaluation of the 40 MB
// log (400,000 matches of four groups each), inserted into a document through the
// matchstruct descriptor and composed pretty-printed, as the JSON export does.
//
//   json_bench [RECORDS]
//
// Prints the time of the insertion and of the composing, the composed text's length, and
// the peak resident memory the two added beyond what the result list already took.
// bench/json_bench.py builds the same records in Python for the side-by-side run.
#include <malloc.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "json/json.h"
#include "proc_status.h"
#include "records/match_record.h"
#include "runtime/strings.h"

namespace {

using Clock = std::chrono::steady_clock;

// The four octets of record i, the same formula as json_bench.py.
void Octets(long i, int octets[4]) {
  octets[0] = static_cast<int>((i * 7 + 10) % 256);
  octets[1] = static_cast<int>((i * 13 + 1) % 256);
  octets[2] = static_cast<int>((i / 256) % 256);
  octets[3] = static_cast<int>(i % 256);
}

void AssignAscii(StringVar& variable, const std::string& text) {
  std::u16string wide(text.begin(), text.end());
  AssignString(variable, wide.c_str());
}

void FillResultList(RecordList* list, long records) {
  for (long i = 0; i < records; ++i) {
    auto* record = static_cast<MatchRecord*>(ListInsert(list));
    int octets[4];
    Octets(i, octets);
    std::string match;
    for (int octet : octets) {
      const std::string group = std::to_string(octet);
      AssignAscii(*static_cast<StringVar*>(ListInsert(record->g.list)), group);
      match += (match.empty() ? "" : ".") + group;
    }
    AssignAscii(record->m, match);
  }
}

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long records = argc > 1 ? std::atol(argv[1]) : 400000;
  mallopt(M_TOP_PAD, 64 << 20);  // the evaluator's program heap grows in the same steps
  StringManagerInit();
  JsonInit();
  ListSlot slot{};
  RecordList* list = CreateMatchRecordList(&slot);
  FillResultList(list, records);

  ResetPeakResident();
  const long residentBefore = StatusKiB("VmRSS:");
  const long faultsBefore = MinorFaults();
  const Clock::time_point start = Clock::now();
  const ObjectNumber document = JsonCreate(AnyHandle, 0);
  JsonInsertList(JsonRoot(document), list, MatchStructDescriptor.data());
  const double insertSeconds = SecondsSince(start);
  const long insertFaults = MinorFaults() - faultsBefore;
  const Clock::time_point composeStart = Clock::now();
  const std::int64_t at = TempPosition();
  const std::int64_t units = StringLength(JsonCompose(document, JsonPrettyPrint, at));
  const double composeSeconds = SecondsSince(composeStart);
  const long composeFaults = MinorFaults() - faultsBefore - insertFaults;
  const long peak = StatusKiB("VmHWM:");
  const Clock::time_point freeStart = Clock::now();
  JsonFree(document);
  const double freeSeconds = SecondsSince(freeStart);
  SetTempPosition(at);

  const double addedBytes = (peak - residentBefore) * 1024.0;
  std::printf("records %ld\n", records);
  std::printf("insert_seconds %.3f\n", insertSeconds);
  std::printf("compose_seconds %.3f\n", composeSeconds);
  std::printf("insert_compose_seconds %.3f\n", insertSeconds + composeSeconds);
  std::printf("page_faults insert %ld compose %ld\n", insertFaults, composeFaults);
  std::printf("free_seconds %.3f\n", freeSeconds);
  std::printf("text_units %lld\n", static_cast<long long>(units));
  std::printf("added_peak_bytes %.0f\n", addedBytes);
  std::printf("added_per_utf16_text_byte %.2f\n", addedBytes / (2.0 * units));
  ListDestroy(list);
  JsonEnd();
  return 0;
}
