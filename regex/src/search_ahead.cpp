#include "search_ahead.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "match_call.h"
#include "regex/regex.h"
#include "regex_object.h"
#include "runtime/thread_stop.h"
#include "threads/threads.h"

namespace {

// Findings the helper may keep ahead of the scan, in values: 32 MiB.
constexpr std::size_t MostValuesAhead = std::size_t{8} << 20;
constexpr std::int32_t HeaderValues = 2;  // from, result

// A copy of size bytes at source, or null when memory ran out.
std::unique_ptr<unsigned char[]> CopyOf(const void* source, std::size_t size) {
  std::unique_ptr<unsigned char[]> copy(new (std::nothrow) unsigned char[size]);
  if (copy) std::memcpy(copy.get(), source, size);
  return copy;
}

// Where the helper starts: the first line start at or after the point fraction of the way
// from the scan's position to the subject's end.
std::int32_t LineStartFrom(const char* subject, std::int32_t position, std::int32_t length,
                           double fraction) {
  const auto from = position + static_cast<std::int32_t>(std::clamp(fraction, 0.0, 1.0) *
                                                         (length - position));
  const void* newline = std::memchr(subject + from, '\n', static_cast<std::size_t>(length - from));
  return newline ? static_cast<std::int32_t>(static_cast<const char*>(newline) - subject) + 1
                 : length;
}

constexpr std::size_t FindingBlockBytes = std::size_t{1} << 20;

}  // namespace

void FindingQueue::Unmap::operator()(std::int32_t* values) const { ::munmap(values, bytes); }

void FindingQueue::SetStride(std::size_t stride) {
  Clear();
  stride_ = std::max<std::size_t>(stride, 1);
  perBlock_ = std::max<std::size_t>(FindingBlockBytes / (stride_ * sizeof(std::int32_t)), 1);
}

bool FindingQueue::Push(std::int32_t from, std::int32_t result, const std::int32_t* offsets) {
  if (blocks_.empty() || backCount_ == perBlock_) {
    const std::size_t bytes = perBlock_ * stride_ * sizeof(std::int32_t);
    void* mapped =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return false;
    Block block(static_cast<std::int32_t*>(mapped), Unmap{bytes});
    try {
      blocks_.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
      return false;
    }
    backCount_ = 0;
  }
  std::int32_t* finding = blocks_.back().get() + backCount_ * stride_;
  finding[0] = from;
  finding[1] = result;
  std::copy_n(offsets, stride_ - HeaderValues, finding + HeaderValues);
  ++backCount_;
  ++count_;
  return true;
}

const std::int32_t* FindingQueue::Front() const {
  return count_ == 0 ? nullptr : blocks_.front().get() + frontIndex_ * stride_;
}

void FindingQueue::PopFront() {
  if (count_ == 0) return;
  --count_;
  ++frontIndex_;
  if (blocks_.size() == 1 && frontIndex_ == backCount_) {
    // Emptied: the block is kept for what comes next, so that a scan taking each finding
    // as soon as it comes maps no block per finding.
    frontIndex_ = 0;
    backCount_ = 0;
  } else if (frontIndex_ == perBlock_) {
    blocks_.pop_front();
    frontIndex_ = 0;
  }
}

void FindingQueue::Clear() {
  blocks_.clear();
  frontIndex_ = 0;
  backCount_ = 0;
  count_ = 0;
}

std::shared_ptr<SearchAhead> SearchAhead::Make(const RegexObject& object, double fraction) {
  if (!object.subject || !object.subjectOwner || !object.compiledPattern) return nullptr;
  const std::int32_t start =
      LineStartFrom(object.subject, object.scanPosition, object.subjectLength, fraction);
  if (start >= object.subjectLength) return nullptr;
  std::shared_ptr<SearchAhead> ahead(new (std::nothrow) SearchAhead());
  if (!ahead) return nullptr;
  std::size_t size = 0;
  pcre_fullinfo(object.compiledPattern, nullptr, PCRE_INFO_SIZE, &size);
  ahead->pattern_ = CopyOf(object.compiledPattern, size);
  if (!ahead->pattern_) return nullptr;
  if (object.studyData && (object.studyData->flags & PCRE_EXTRA_STUDY_DATA)) {
    std::size_t studySize = 0;
    pcre_fullinfo(object.compiledPattern, object.studyData, PCRE_INFO_STUDYSIZE, &studySize);
    ahead->study_ = CopyOf(object.studyData->study_data, studySize);
    if (!ahead->study_) return nullptr;
    ahead->extra_.flags = PCRE_EXTRA_STUDY_DATA;
    ahead->extra_.study_data = ahead->study_.get();
  }
  ahead->subject_ = *object.subjectOwner;
  ahead->length_ = object.subjectLength;
  ahead->start_ = start;
  ahead->stride_ = HeaderValues + 2 * (object.groupCount + 1);
  ahead->findings_.SetStride(static_cast<std::size_t>(ahead->stride_));
  return ahead;
}

SearchAhead::~SearchAhead() = default;

bool SearchAhead::WaitForRoom() {
  std::unique_lock lock(lock_);
  const auto room = [this] {
    return abandoned_ || findings_.Values() + static_cast<std::size_t>(stride_) <= MostValuesAhead;
  };
  WaitUntilReadyOrStopped(taken_, lock, room);
  return !abandoned_;
}

bool SearchAhead::Add(std::int32_t from, std::int32_t result, const std::int32_t* offsets) {
  std::lock_guard guard(lock_);
  return findings_.Push(from, result, offsets);
}

void SearchAhead::Run() {
  const std::int32_t vectorSize = 3 * (stride_ - HeaderValues) / 2;
  std::vector<std::int32_t> vector(static_cast<std::size_t>(vectorSize));
  const pcre* pattern = reinterpret_cast<const pcre*>(pattern_.get());
  const pcre_extra* study = study_ ? &extra_ : nullptr;
  // The scan makes no search from the subject's end: nor does the helper.
  for (std::int32_t position = start_; position < length_;) {
    if (!WaitForRoom()) return;
    const int result = ExecuteMatch(pattern, study, subject_.get(), length_, position,
                                    vector.data(), vectorSize);
    if (!Add(position, result, vector.data()) || result <= 0) return;
    position = NextScanPosition(subject_.get(), vector.data(), position);
  }
}

void SearchAhead::Abandon() {
  std::lock_guard guard(lock_);
  abandoned_ = true;
  findings_.Clear();
  taken_.notify_all();
}

bool SearchAhead::Take(std::int32_t position, int& result, std::int32_t* offsets) {
  std::lock_guard guard(lock_);
  bool dropped = false;
  // Searches the scan went past on its own are of no use any more.
  while (findings_.Front() && findings_.Front()[0] < position) {
    findings_.PopFront();
    dropped = true;
  }
  const std::int32_t* finding = findings_.Front();
  const bool found = finding && finding[0] == position;
  if (found) {
    result = finding[1];
    std::copy_n(finding + HeaderValues, stride_ - HeaderValues, offsets);
    findings_.PopFront();
  }
  if (found || dropped) taken_.notify_all();
  return found;
}

bool TakeFindingAhead(RegexObject& object, int& result) {
  if (!object.ahead || object.scanPosition < (*object.ahead)->Start()) return false;
  return (*object.ahead)->Take(object.scanPosition, result, object.offsetVector);
}

void ReleaseSearchAhead(RegexObject& object) {
  const std::unique_ptr<std::shared_ptr<SearchAhead>> ahead(object.ahead);
  object.ahead = nullptr;
  if (ahead) (*ahead)->Abandon();
}

std::int64_t RegexSearchAhead(ObjectNumber number, double fraction) {
  SharedChangeScope scope;
  RegexObject* object = FindRegex(number);
  if (!object) return 0;
  std::shared_ptr<SearchAhead> ahead = SearchAhead::Make(*object, fraction);
  if (!ahead) return 0;
  std::unique_ptr<std::shared_ptr<SearchAhead>> objectShare(
      new (std::nothrow) std::shared_ptr<SearchAhead>(ahead));
  if (!objectShare) return 0;
  const std::int64_t thread = ThreadRunShared<&SearchAhead::Run>(ahead);
  if (thread == 0) return 0;
  ReleaseSearchAhead(*object);
  object->ahead = objectShare.release();
  return thread;
}
