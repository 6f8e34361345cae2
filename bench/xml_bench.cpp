// XML export of a large result list through the XML operations, as the export button does
// it: XmlCreate, XmlInsertList with the matchstruct descriptor, XmlFormat(..., 128, 2),
// XmlCompose(..., write) streaming into a counter, and XmlFree, over RECORDS
// MatchRecords with four group texts each (the shape of the IP-address evaluation of the
// 40 MB scan log).
//
//   xml_bench [RECORDS]      (default 400000)
//
// Prints the wall and CPU time of each step and of all of them, the composed length, the
// memory the steps added at their peak beyond what the records themselves hold, and what
// of it was still resident once the document was freed. bench/xml_bench.py
// builds the same records and the same tree with Python's ElementTree.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "proc_status.h"
#include "records/match_record.h"
#include "runtime/strings.h"
#include "xml/xml.h"

namespace {

using Clock = std::chrono::steady_clock;

// The four octets of record i, the same formula as in xml_bench.py.
void Octets(long i, long (&octet)[4]) {
  octet[0] = (i * 7 + 13) % 256;
  octet[1] = (i * 31 + 7) % 256;
  octet[2] = (i / 256) % 256;
  octet[3] = i % 256;
}

std::u16string Decimal(long value) {
  std::u16string text;
  for (char c : std::to_string(value)) text += static_cast<char16_t>(c);
  return text;
}

void FillResultList(RecordList* list, long records) {
  for (long i = 0; i < records; ++i) {
    long octet[4];
    Octets(i, octet);
    auto* record = static_cast<MatchRecord*>(ListInsert(list));
    std::u16string match;
    for (int k = 0; k < 4; ++k) {
      const std::u16string group = Decimal(octet[k]);
      AssignString(*static_cast<StringVar*>(ListInsert(record->g.list)), group.c_str());
      match += (k ? u"." : u"") + group;
    }
    AssignString(record->m, match.c_str());
  }
}

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Wall time and the process's CPU time of each step: on a busy machine the second one shows
// the work itself.
class Stopwatch {
 public:
  struct Lap {
    double wall;
    double cpu;
  };

  Lap Next() {
    const Clock::time_point now = Clock::now();
    const double cpu = CpuSeconds();
    const Lap lap{std::chrono::duration<double>(now - wall_).count(), cpu - cpu_};
    wall_ = now;
    cpu_ = cpu;
    return lap;
  }

 private:
  Clock::time_point wall_ = Clock::now();
  double cpu_ = CpuSeconds();
};

void PrintLap(const char* step, Stopwatch::Lap lap) {
  std::printf("%s %.3f s cpu %.3f s\n", step, lap.wall, lap.cpu);
}

}  // namespace

int main(int argc, char** argv) {
  const long records = argc > 1 ? std::atol(argv[1]) : 400000;
  StringManagerInit();
  XmlInit();
  RecordList* resultList = CreateMatchRecordList(nullptr);
  FillResultList(resultList, records);
  const bool peakReset = ResetPeakResident();
  const long baselineKiB = StatusKiB("VmRSS:");

  Stopwatch watch;
  const ObjectNumber document = XmlCreate(AnyHandle, XmlEncodingUtf8);
  XmlInsertList(XmlRootNode(document), resultList, MatchStructDescriptor.data());
  const Stopwatch::Lap insert = watch.Next();
  XmlFormat(document, XmlIndentTree, 2);
  const Stopwatch::Lap format = watch.Next();
  std::int64_t length = 0;
  XmlCompose(document,
             [&](std::u16string_view piece) { length += static_cast<std::int64_t>(piece.size()); });
  const Stopwatch::Lap compose = watch.Next();
  XmlFree(document);
  const Stopwatch::Lap free = watch.Next();
  const long peakKiB = StatusKiB("VmHWM:");
  const long afterKiB = StatusKiB("VmRSS:");

  std::printf("records %ld\ncomposed_units %lld\n", records, static_cast<long long>(length));
  PrintLap("insert", insert);
  PrintLap("format", format);
  PrintLap("compose", compose);
  PrintLap("free", free);
  PrintLap("total", {insert.wall + format.wall + compose.wall + free.wall,
                     insert.cpu + format.cpu + compose.cpu + free.cpu});
  if (peakReset) std::printf("added_peak_rss %ld KiB\n", peakKiB - baselineKiB);
  std::printf("rss_kept_after_free %ld KiB\n", afterKiB - baselineKiB);
  ListDestroy(resultList);
  XmlEnd();
  StringManagerEnd();
  return 0;
}
