// Scans a UTF-8 file with one pattern through the regex operations, the way the evaluator's
// worker does: examine the whole text, then take the matches with the texts of the match
// and of each of its groups, as UTF-8, in batches.
//
//   scan_bench FILE PATTERN
//
// Prints the number of matches and the time of each step in seconds.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <limits>
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

// UTF-16 units of valid UTF-8: one for each character, two for one beyond U+FFFF.
long long Utf16Units(const char* bytes, std::int64_t length) {
  long long units = 0;
  for (std::int64_t i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    units += ((byte & 0xC0) != 0x80) + (byte >= 0xF0);
  }
  return units;
}

ScanCount ScanAll(ObjectNumber regex) {
  ScanCount count;
  const std::int64_t groups = RegexGroupCount(regex);
  const auto take = [](void* context, const char* bytes, std::int64_t length) {
    static_cast<ScanCount*>(context)->units += Utf16Units(bytes, length);
  };
  for (std::int64_t more = RegexNextMatch(regex); more != 0;) {
    std::int64_t taken = 0;
    more = RegexTakeMatches(regex, true, groups, take, &count, 4096,
                            std::numeric_limits<std::int64_t>::max(), taken);
    count.matches += taken;
    count.groups += taken * groups;
    // A search given up at the engine's own limit is made again as the evaluator does.
    if (more == -1) more = RegexNextMatch(regex);
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
  std::printf("read %.3f decode %.3f examine %.3f scan %.3f total %.3f\n", readTime, decodeTime,
              examineTime, scanTime, SecondsSince(start));
  return reason == 0 ? 0 : 1;
}
