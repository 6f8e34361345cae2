// Searching ahead: a thread of its own scans the far part of a subject while the scan
// works through the near part, and the scan takes up what it found once it gets there.
//
// A scan's next search depends on nothing but the position it starts from, so the helper,
// scanning on from some position as the scan itself would, makes exactly the searches the
// scan would make once the scan starts one from a position the helper started one from.
// Until then the scan searches itself, and skips what the helper found before it.
#pragma once

#include <pcre.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

struct RegexObject;

// Findings in order, each stride values, in blocks mapped on their own: the memory of the
// findings the scan has taken goes back to the system at once, instead of staying with the
// helper's heap while the scan's results grow.
class FindingQueue {
 public:
  void SetStride(std::size_t stride);
  // Appends from, result and stride - 2 offsets; false when memory ran out.
  bool Push(std::int32_t from, std::int32_t result, const std::int32_t* offsets);
  [[nodiscard]] const std::int32_t* Front() const;  // the oldest finding, or null
  void PopFront();
  void Clear();
  [[nodiscard]] std::size_t Values() const { return count_ * stride_; }

 private:
  struct Unmap {
    std::size_t bytes;
    void operator()(std::int32_t* values) const;
  };
  using Block = std::unique_ptr<std::int32_t[], Unmap>;

  std::deque<Block> blocks_;
  std::size_t stride_ = 1;
  std::size_t perBlock_ = 1;    // findings a block holds
  std::size_t frontIndex_ = 0;  // of the oldest finding in blocks_.front()
  std::size_t backCount_ = 0;   // findings in blocks_.back()
  std::size_t count_ = 0;
};

class SearchAhead {
 public:
  // For the scan of object (examined, with a subject) from the first line start at or after
  // the point fraction of the way from its scan position to the subject's end; null when
  // there is nothing to search there or no memory. Once done, the helper takes over the
  // later half of what the scan still has to search itself, while that is at least
  // leastTakenOver bytes.
  static std::shared_ptr<SearchAhead> Make(const RegexObject& object, double fraction,
                                           std::int32_t leastTakenOver);

  SearchAhead(const SearchAhead&) = delete;
  SearchAhead& operator=(const SearchAhead&) = delete;
  ~SearchAhead();

  // Where the earliest part the helper searches starts.
  [[nodiscard]] std::int32_t Start() const {
    return earliestStart_.load(std::memory_order_relaxed);
  }

  // On the helper thread: searches its parts until the subject ends, a search fails, no part
  // is worth taking over, or the scan gives the helper up.
  void Run();
  // The scan needs nothing more from the helper.
  void Abandon();

  // On the scan's thread, before each search: where the scan is.
  void NoteScanPosition(std::int32_t position) {
    scanPosition_.store(position, std::memory_order_relaxed);
  }
  // On the scan's thread, for the search from position: true with pcre_exec's result of
  // that search in result (and a match's offsets in offsets, 2 x (groups + 1) entries)
  // when the helper made it and has its finding ready; false when the scan has to search
  // itself.
  bool Take(std::int32_t position, int& result, std::int32_t* offsets);

 private:
  // A stretch of the subject the helper searches: from start until a search starts at or
  // after end, or the scan overtakes it. Its findings are in order.
  struct Part {
    std::int32_t start;
    std::int32_t end;
    std::int32_t reached;  // the next search the helper would make here
    FindingQueue findings;
  };

  SearchAhead() = default;
  // Searches part; false when the helper is done for good (given up, or no memory).
  bool SearchPart(Part& part);
  // The part to search next: the later half of the first stretch that the scan has to
  // search itself; null when none is worth it.
  Part* TakeOverNext();
  Part* AddPart(std::int32_t start, std::int32_t end);  // under the lock
  Part* PartAt(std::int32_t position);                  // under the lock
  // Adds a finding to part once there is room for it; false when the scan gave the helper
  // up or memory ran out.
  bool Add(Part& part, std::int32_t from, std::int32_t result, const std::int32_t* offsets,
           std::int32_t next);

  struct FreeStudy {
    void operator()(pcre_extra* study) const;
  };

  std::unique_ptr<unsigned char[]> pattern_;      // a copy of the compiled pattern
  std::unique_ptr<pcre_extra, FreeStudy> study_;  // its own study of the copy, if any
  std::shared_ptr<const char> subject_;
  std::int32_t length_ = 0;
  std::int32_t stride_ = 0;  // values per finding: from, result, then the offsets
  std::int32_t leastTakenOver_ = 0;
  std::atomic<std::int32_t> earliestStart_{0};
  std::atomic<std::int32_t> scanPosition_{0};

  std::mutex lock_;  // guards what follows
  std::condition_variable taken_;
  std::vector<std::unique_ptr<Part>> parts_;  // by start; a part stays until the end
  std::size_t valuesHeld_ = 0;                // in all parts' findings
  Part* takingFrom_ = nullptr;                // the part the scan took from last
  bool abandoned_ = false;
};

// On the scan's thread: the finding for the search object is about to make, applied to the
// object as the search itself would have; false when the scan has to search itself.
bool TakeFindingAhead(RegexObject& object, int& result);
