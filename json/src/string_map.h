// The member map of a JSON object. Its order is what a composed object shows, so it is
// fixed: a key hashes as h = h * 65599 + unit (unsigned 32-bit, A-Z folded to lower case
// in a case-insensitive map) into one of 64 buckets; members come bucket by bucket in
// ascending order, newest first within a bucket.
//
// Most objects have a handful of members, and a bucket array per object would cost more
// than the members themselves. So the members form one chain already in that order, and
// only a map that grows past a few members gets an index of each bucket's first member.
#pragma once

#include <cstdint>
#include <memory>

#include "json/json.h"

struct MapMember {
  MapMember* next;  // the next member in the map's order
  std::uint32_t hash;
  std::uint32_t keyLength;
  JsonValue value;
  // The key follows: keyLength units and a terminator.

  [[nodiscard]] const char16_t* Key() const { return reinterpret_cast<const char16_t*>(this + 1); }
};

static_assert(sizeof(MapMember) % alignof(char16_t) == 0);

// 24 bytes: objects with a member or two are the common case, and there are many.
struct StringMap {
  static constexpr std::uint32_t kBuckets = 64;

  MapMember* first = nullptr;
  std::unique_ptr<MapMember*[]> bucketFirst;  // null until the map has grown
  std::uint32_t count = 0;                    // members never near 2^32: each holds a heap block
  bool noCase = false;
};

static_assert(sizeof(StringMap) == 24);

// A new empty map, or null when memory ran out.
StringMap* NewStringMap(bool noCase);

// The member with this key, or a new zero-filled (Null) member linked at the head of its
// bucket; null when a new member can't be had. *existed tells which.
MapMember* FindOrAddMember(StringMap& map, const char16_t* key, std::int64_t length, bool* existed);

// Frees the members and the map; their values must own nothing any more. Null is ignored.
void DeleteStringMap(StringMap* map);

// The member whose value this is.
inline MapMember* MemberOf(JsonValue* value) {
  return reinterpret_cast<MapMember*>(reinterpret_cast<std::byte*>(value) -
                                      offsetof(MapMember, value));
}
