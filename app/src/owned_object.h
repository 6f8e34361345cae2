// A runtime object that belongs to one owner: made under AnyHandle, so that its library
// picks a number no other feature uses, and freed through Free when the owner is done.
// Without it two features that each took the static number 0 of the same library (the
// input file and the export file are both file streams) would close each other's object.
#pragma once

#include <utility>

#include "runtime/object_registry.h"

namespace evaluator {

template <void (*Free)(ObjectNumber)>
class OwnedObject {
 public:
  OwnedObject() = default;
  // Takes over number, as a library's creation returned it for AnyHandle; 0 owns nothing.
  explicit OwnedObject(ObjectNumber number) : number_(number) {}
  OwnedObject(OwnedObject&& other) noexcept : number_(std::exchange(other.number_, 0)) {}
  OwnedObject(const OwnedObject&) = delete;
  OwnedObject& operator=(const OwnedObject&) = delete;
  OwnedObject& operator=(OwnedObject&&) = delete;
  // An owner that ends normally calls Release itself, where freeing may be a stop point of
  // its thread; the destructor frees what is left when a stopped worker's stack unwinds,
  // where the runtime lets the thread's last changes through.
  ~OwnedObject() { Release(); }

  ObjectNumber Number() const { return number_; }
  explicit operator bool() const { return number_ != 0; }

  void Release() {
    if (const ObjectNumber number = std::exchange(number_, 0); number != 0) Free(number);
  }

 private:
  ObjectNumber number_ = 0;
};

}  // namespace evaluator
