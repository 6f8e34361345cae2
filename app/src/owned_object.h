// A runtime object that belongs to one feature: made under AnyHandle, so that its library
// picks a number no other feature uses, and freed through Free by whichever of its users
// is done with it first. Without it two features that each took the static number 0 of
// the same library (the input file and the export file are both file streams) would close
// each other's object.
//
// It lives outside the worker's stack, in the application state: a stopped worker changes
// nothing shared any more, not even from a destructor, so what it made is freed by the
// thread that stopped it.
#pragma once

#include <atomic>

#include "runtime/object_registry.h"
#include "runtime/thread_stop.h"

namespace evaluator {

template <void (*Free)(ObjectNumber)>
class OwnedObject {
 public:
  OwnedObject() = default;
  OwnedObject(const OwnedObject&) = delete;
  OwnedObject& operator=(const OwnedObject&) = delete;
  ~OwnedObject() { Release(); }

  // Makes the object with make, which returns the number a library's creation gave for
  // AnyHandle (0 for none), and takes it over, freeing what was held before; all in one
  // change, so that a stop comes before or after it, never between. make must not wait
  // for anything (an open that may block goes through Adopt instead). False for none.
  template <typename Make>
  [[nodiscard]] bool Create(Make make) {
    SharedChangeScope change;
    Adopt(make());
    return number_.load() != 0;
  }
  // Takes number over, freeing what was held before.
  void Adopt(ObjectNumber number) {
    SharedChangeScope change;
    if (const ObjectNumber before = number_.exchange(number); before != 0) Free(before);
  }

  [[nodiscard]] ObjectNumber Number() const { return number_.load(); }

  // Frees the object if it is still held, in one change.
  void Release() {
    if (number_.load() == 0) return;  // nothing to free, also at exit after the libraries
    SharedChangeScope change;
    if (const ObjectNumber number = number_.exchange(0); number != 0) Free(number);
  }

 private:
  std::atomic<ObjectNumber> number_{0};
};

}  // namespace evaluator
