#include "regex/regex.h"

#include <pcre.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "match_call.h"
#include "regex_object.h"
#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "runtime/thread_data.h"
#include "runtime/thread_stop.h"
#include "utf8_text.h"

namespace {

constexpr std::int32_t RegexTableGrowth = 16;
// Patterns and subjects are UTF-8 that this library made valid itself.
constexpr std::int32_t AddedCompileOptions = PCRE_UTF8 | PCRE_NO_UTF8_CHECK;

ObjectTable* regexTable = nullptr;

// Bumped by every create and free, so that a thread may keep the object it looked up last
// for as long as the table has not changed: a scan then pays for one lookup, not one per
// call. An object is used by one thread at a time, so no other thread frees it meanwhile.
std::atomic<std::uint64_t> tableChanges{0};
struct LookupMemo {
  ObjectNumber number = 0;
  std::uint64_t changes = 0;
  RegexObject* object = nullptr;
};
thread_local LookupMemo lastLookup;

// Marks a create or free: before it, so that nobody keeps the old object, and after it, so
// that nobody keeps what was looked up while it happened.
class TableChange {
 public:
  TableChange() { Note(); }
  ~TableChange() { Note(); }
  TableChange(const TableChange&) = delete;
  TableChange& operator=(const TableChange&) = delete;

 private:
  static void Note() { tableChanges.fetch_add(1, std::memory_order_acq_rel); }
};
std::int64_t errorSlotOffset = -1;

// The calling thread's slot holding its last compile error (an owned text), or null.
char** ErrorSlot() {
  if (errorSlotOffset < 0) return nullptr;
  return static_cast<char**>(ThreadSlot(errorSlotOffset));
}

void ReleaseErrorText(void* slot) {
  char*& text = *static_cast<char**>(slot);
  std::unique_ptr<char[]> owned(text);
  text = nullptr;
}

void ClearError() {
  if (char** slot = ErrorSlot()) ReleaseErrorText(slot);
}

// Keeps a copy of PCRE's message; without memory for it the text stays empty.
void RecordError(const char* message) {
  char** slot = ErrorSlot();
  if (!slot || !message) return;
  std::size_t size = std::strlen(message) + 1;
  std::unique_ptr<char[]> copy(new (std::nothrow) char[size]);
  if (!copy) return;
  std::memcpy(copy.get(), message, size);
  *slot = copy.release();
}

// PCRE's start-up optimisations (the ones study and its machine code add) can change what
// a pattern with a backtracking control verb such as (*COMMIT), (*PRUNE), (*SKIP) or
// (*THEN) matches, so such a pattern is left unstudied. Any "(*" counts: a false alarm
// only costs speed.
bool MayUseControlVerbs(const char* pattern) { return std::strstr(pattern, "(*") != nullptr; }

// Study data, with the pattern compiled to machine code where PCRE can, unless studying
// could change a result; null then or when it found nothing to add.
pcre_extra* StudyData(const pcre* compiled, const char* pattern) {
  return MayUseControlVerbs(pattern) ? nullptr : StudyPattern(compiled);
}

// Compiles into the fresh record; false (with the thread's error text set) on failure.
bool CompileInto(RegexObject* object, const char* pattern, std::int32_t flags) {
  const char* message = nullptr;
  int errorOffset = 0;
  pcre* compiled =
      pcre_compile(pattern, flags | AddedCompileOptions, &message, &errorOffset, nullptr);
  if (!compiled) {
    RecordError(message);
    return false;
  }
  int groups = 0;
  pcre_fullinfo(compiled, nullptr, PCRE_INFO_CAPTURECOUNT, &groups);
  object->compiledPattern = compiled;
  object->groupCount = groups;
  object->studyData = StudyData(compiled, pattern);
  return true;
}

}  // namespace

RegexObject* FindRegex(ObjectNumber number) {
  const std::uint64_t changes = tableChanges.load(std::memory_order_acquire);
  if (lastLookup.object && lastLookup.number == number && lastLookup.changes == changes) {
    return lastLookup.object;
  }
  auto* object = static_cast<RegexObject*>(LookupObject(regexTable, number));
  lastLookup = {number, changes, object};
  return object;
}

void RegexInit() {
  if (regexTable) return;
  regexTable = CreateObjectTable(sizeof(RegexObject), RegexTableGrowth, RegexFree);
  errorSlotOffset = RegisterThreadSlot(sizeof(char*), nullptr, ReleaseErrorText);
  InstallMatchAllocator();
}

void RegexEnd() { RegexFree(AnyHandle); }

ObjectNumber RegexCreate(ObjectNumber number, const char16_t* pattern, std::int32_t flags) {
  Utf8Text utf8Pattern;
  if (pattern) utf8Pattern = ConvertToUtf8(pattern);
  SharedChangeScope scope;
  ClearError();
  const TableChange change;
  void* record = AllocateObject(regexTable, number);
  if (!record) return 0;
  ObjectNumber allocated = number == AnyHandle ? HandleOf(record) : number;
  auto* object = static_cast<RegexObject*>(record);
  if (!utf8Pattern.bytes || !CompileInto(object, utf8Pattern.bytes.get(), flags)) {
    ReleaseObject(regexTable, allocated);
    return 0;
  }
  return HandleOf(record);
}

char16_t* RegexError(std::int64_t at) {
  char** slot = ErrorSlot();
  return BytesToStringResult(slot ? *slot : nullptr, at);
}

void RegexFree(ObjectNumber number) {
  SharedChangeScope scope;
  const TableChange change;
  if (number == AnyHandle) {
    FreeAllObjects(regexTable);
    return;
  }
  RegexObject* object = FindRegex(number);
  if (!object) return;
  pcre_free_study(object->studyData);
  pcre_free(object->compiledPattern);
  ReleaseSubject(*object);
  std::unique_ptr<std::int32_t[]> offsetVector(object->offsetVector);
  std::unique_ptr<SearchRun> run(object->run);
  ReleaseObject(regexTable, number);
}

std::int64_t RegexIsValid(ObjectNumber number) {
  SharedChangeScope scope;
  return IsObject(regexTable, number) ? 1 : 0;
}

std::int64_t RegexRunsMachineCode(ObjectNumber number) {
  SharedChangeScope scope;
  RegexObject* object = FindRegex(number);
  return object && HasMachineCode(object->studyData) ? 1 : 0;
}

std::int64_t RegexGroupCount(ObjectNumber number) {
  SharedChangeScope scope;
  RegexObject* object = FindRegex(number);
  return object ? object->groupCount : 0;
}

char16_t* RegexGroupName(ObjectNumber number, std::int64_t n, std::int64_t at) {
  SharedChangeScope scope;
  RegexObject* object = FindRegex(number);
  int count = 0;
  int entrySize = 0;
  const unsigned char* table = nullptr;
  if (!object ||
      pcre_fullinfo(object->compiledPattern, nullptr, PCRE_INFO_NAMECOUNT, &count) != 0 ||
      pcre_fullinfo(object->compiledPattern, nullptr, PCRE_INFO_NAMEENTRYSIZE, &entrySize) != 0 ||
      pcre_fullinfo(object->compiledPattern, nullptr, PCRE_INFO_NAMETABLE, &table) != 0) {
    return ReturnEmptyTemp(at);
  }
  // Each entry: the group number in two bytes, most significant first, then the name,
  // zero-terminated.
  for (int entry = 0; entry < count; ++entry) {
    const unsigned char* item = table + static_cast<std::ptrdiff_t>(entry) * entrySize;
    if ((item[0] << 8 | item[1]) != n) continue;
    const char* name = reinterpret_cast<const char*>(item + 2);
    return Utf8ToTempString(name, static_cast<std::int64_t>(std::strlen(name)), at);
  }
  return ReturnEmptyTemp(at);
}
