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
  const auto from =
      position + static_cast<std::int32_t>(std::clamp(fraction, 0.0, 1.0) * (length - position));
  const void* newline = std::memchr(subject + from, '\n', static_cast<std::size_t>(length - from));
  return newline ? static_cast<std::int32_t>(static_cast<const char*>(newline) - subject) + 1
                 : length;
}

constexpr std::size_t FindingBlockBytes = std::size_t{1} << 20;

}  // namespace

void SearchAhead::FreeStudy::operator()(pcre_extra* study) const { pcre_free_study(study); }

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

std::shared_ptr<SearchAhead> SearchAhead::Make(const RegexObject& object, double fraction,
                                               std::int32_t leastTakenOver) {
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
  // Machine code is not copied: the helper has the copy studied for itself.
  if (object.studyData) {
    ahead->study_.reset(StudyPattern(reinterpret_cast<const pcre*>(ahead->pattern_.get())));
    if (!ahead->study_) return nullptr;
  }
  ahead->subject_ = *object.subjectOwner;
  ahead->length_ = object.subjectLength;
  ahead->stride_ = HeaderValues + 2 * (object.groupCount + 1);
  ahead->leastTakenOver_ = std::max<std::int32_t>(leastTakenOver, 1);
  ahead->scanPosition_.store(object.scanPosition);
  if (!ahead->AddPart(start, object.subjectLength)) return nullptr;
  return ahead;
}

SearchAhead::~SearchAhead() = default;

SearchAhead::Part* SearchAhead::AddPart(std::int32_t start, std::int32_t end) {
  try {
    auto part = std::make_unique<Part>(start, end, start);
    part->findings.SetStride(static_cast<std::size_t>(stride_));
    const auto later = std::find_if(parts_.begin(), parts_.end(),
                                    [start](const auto& other) { return other->start > start; });
    Part* added = parts_.insert(later, std::move(part))->get();
    earliestStart_.store(parts_.front()->start, std::memory_order_relaxed);
    return added;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

SearchAhead::Part* SearchAhead::PartAt(std::int32_t position) {
  Part* found = nullptr;
  for (const auto& part : parts_) {
    if (part->start > position) break;
    found = part.get();
  }
  return found;
}

// Waits for room first, so that the findings ahead of the scan stay within bounds.
bool SearchAhead::Add(Part& part, std::int32_t from, std::int32_t result,
                      const std::int32_t* offsets, std::int32_t next) {
  std::unique_lock lock(lock_);
  const auto room = [this] {
    return abandoned_ || valuesHeld_ + static_cast<std::size_t>(stride_) <= MostValuesAhead;
  };
  WaitUntilReadyOrStopped(taken_, lock, room);
  if (abandoned_ || !part.findings.Push(from, result, offsets)) return false;
  valuesHeld_ += static_cast<std::size_t>(stride_);
  part.reached = next;
  return true;
}

bool SearchAhead::SearchPart(Part& part) {
  const std::int32_t vectorSize = 3 * (stride_ - HeaderValues) / 2;
  std::vector<std::int32_t> vector(static_cast<std::size_t>(vectorSize));
  const pcre* pattern = reinterpret_cast<const pcre*>(pattern_.get());
  const pcre_extra* study = study_.get();
  // The scan makes no search from the subject's end: nor does the helper (no part ends
  // past it).
  for (std::int32_t position = part.start; position < part.end;) {
    // Past this point the scan has searched on its own: what comes next is behind it.
    if (scanPosition_.load(std::memory_order_relaxed) > position) return true;
    const int result = ExecuteMatch(pattern, study, subject_.get(), length_, position, vector);
    // A failed search tells the scan all there is from here to the end.
    const std::int32_t next =
        result > 0 ? NextScanPosition(subject_.get(), vector.data(), position) : length_;
    if (!Add(part, position, result, vector.data(), next)) return false;
    position = next;
  }
  return true;
}

SearchAhead::Part* SearchAhead::TakeOverNext() {
  std::lock_guard guard(lock_);
  if (abandoned_) return nullptr;
  // The first stretch from the scan's position on that no part has findings for.
  std::int32_t from = scanPosition_.load(std::memory_order_relaxed);
  std::int32_t to = length_;
  for (const auto& part : parts_) {
    if (part->start > from) {
      to = part->start;
      break;
    }
    from = std::max(from, part->reached);
  }
  if (to - from < leastTakenOver_) return nullptr;
  const std::int32_t start = LineStartFrom(subject_.get(), from, to, 0.5);
  return start < to ? AddPart(start, to) : nullptr;
}

void SearchAhead::Run() {
  Part* part = nullptr;
  {
    std::lock_guard guard(lock_);
    part = parts_.front().get();
  }
  while (part && SearchPart(*part)) part = TakeOverNext();
}

void SearchAhead::Abandon() {
  std::lock_guard guard(lock_);
  abandoned_ = true;
  for (const auto& part : parts_) part->findings.Clear();
  valuesHeld_ = 0;
  taken_.notify_all();
}

bool SearchAhead::Take(std::int32_t position, int& result, std::int32_t* offsets) {
  std::lock_guard guard(lock_);
  Part* part = PartAt(position);
  if (!part) return false;
  const std::size_t heldBefore = valuesHeld_;
  // Findings of searches the scan went past on its own are of no use any more, nor are
  // those of parts it has left behind.
  if (part != takingFrom_) {
    takingFrom_ = part;
    for (const auto& earlier : parts_) {
      if (earlier.get() == part) break;
      valuesHeld_ -= earlier->findings.Values();
      earlier->findings.Clear();
    }
  }
  while (part->findings.Front() && part->findings.Front()[0] < position) {
    part->findings.PopFront();
    valuesHeld_ -= static_cast<std::size_t>(stride_);
  }
  const std::int32_t* finding = part->findings.Front();
  const bool found = finding && finding[0] == position;
  if (found) {
    result = finding[1];
    std::copy_n(finding + HeaderValues, stride_ - HeaderValues, offsets);
    part->findings.PopFront();
    valuesHeld_ -= static_cast<std::size_t>(stride_);
  }
  if (valuesHeld_ != heldBefore) taken_.notify_all();
  return found;
}

bool TakeFindingAhead(RegexObject& object, int& result) {
  if (!object.ahead) return false;
  SearchAhead& ahead = **object.ahead;
  ahead.NoteScanPosition(object.scanPosition);
  if (object.scanPosition < ahead.Start()) return false;
  return ahead.Take(object.scanPosition, result, object.offsetVector);
}

void ReleaseSearchAhead(RegexObject& object) {
  const std::unique_ptr<std::shared_ptr<SearchAhead>> ahead(object.ahead);
  object.ahead = nullptr;
  if (ahead) (*ahead)->Abandon();
}

std::int64_t RegexSearchAhead(ObjectNumber number, double fraction, std::int64_t leastTakenOver) {
  SharedChangeScope scope;
  RegexObject* object = FindRegex(number);
  if (!object) return 0;
  const auto least = static_cast<std::int32_t>(std::min<std::int64_t>(leastTakenOver, INT32_MAX));
  std::shared_ptr<SearchAhead> ahead = SearchAhead::Make(*object, fraction, least);
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
