// Scans a UTF-8 file with one pattern through the regex operations, the way the evaluator's
// worker does: examine the whole text, take every match, and read the text of the match
// and of each of its groups.
//
//   scan_bench FILE PATTERN
//
// Prints the number of matches and the time of each step in seconds.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "regex/regex.h"
#include "runtime/strings.h"
#include "runtime/text_encoding.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct ScanCount {
  long long matches = 0;
  long long groups = 0;
  long long units = 0;  // UTF-16 units of every text read
};

// Reads a text result at the current position, counts it and drops it again.
template <class Read>
long long ReadAndDrop(Read read) {
  std::int64_t at = TempPosition();
  long long units = StringLength(read(at));
  SetTempPosition(at);
  return units;
}

ScanCount ScanAll(ObjectNumber regex) {
  ScanCount count;
  const std::int64_t groups = RegexGroupCount(regex);
  while (RegexNextMatch(regex)) {
    ++count.matches;
    count.units += ReadAndDrop([&](std::int64_t at) { return RegexMatchText(regex, at); });
    for (std::int64_t n = 1; n <= groups; ++n) {
      count.units += ReadAndDrop([&](std::int64_t at) { return RegexGroupText(regex, n, at); });
      ++count.groups;
    }
  }
  return count;
}

bool ReadWholeFile(const char* path, std::string& bytes) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return false;
  bytes.resize(static_cast<std::size_t>(file.tellg()));
  file.seekg(0);
  return static_cast<bool>(file.read(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE PATTERN\n", argv[0]);
    return 2;
  }
  Clock::time_point start = Clock::now();
  std::string bytes;
  if (!ReadWholeFile(argv[1], bytes)) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  double readTime = SecondsSince(start);

  Clock::time_point decodeStart = Clock::now();
  std::u16string text = Utf8ToUtf16(bytes);
  double decodeTime = SecondsSince(decodeStart);

  StringManagerInit();
  RegexInit();
  std::u16string pattern = Utf8ToUtf16(argv[2]);
  if (!RegexCreate(0, pattern.c_str(), 0)) {
    std::fprintf(stderr, "pattern does not compile\n");
    return 1;
  }
  Clock::time_point examineStart = Clock::now();
  RegexExamine(0, text.c_str());
  double examineTime = SecondsSince(examineStart);
  Clock::time_point scanStart = Clock::now();
  ScanCount count = ScanAll(0);
  double scanTime = SecondsSince(scanStart);
  long long reason = RegexLastError(0);
  RegexEnd();

  std::printf("matches %lld groups %lld units %lld end %lld\n", count.matches, count.groups,
              count.units, reason);
  std::printf("read %.3f decode %.3f examine %.3f scan %.3f total %.3f\n", readTime,
              decodeTime, examineTime, scanTime, SecondsSince(start));
  return reason == 0 ? 0 : 1;
}
