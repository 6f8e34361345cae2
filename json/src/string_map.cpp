#include "string_map.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace {

// Up to this many members a search simply walks the chain.
constexpr std::int64_t kIndexedFrom = 8;

char16_t Folded(char16_t unit, bool noCase) {
  return noCase && unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + (u'a' - u'A'))
                                                : unit;
}

std::uint32_t HashOf(const char16_t* key, std::int64_t length, bool noCase) {
  std::uint32_t hash = 0;
  for (std::int64_t i = 0; i < length; ++i) hash = hash * 65599u + Folded(key[i], noCase);
  return hash;
}

std::uint32_t BucketOf(std::uint32_t hash) { return hash % StringMap::kBuckets; }

bool KeyMatches(const MapMember& member, const char16_t* key, std::int64_t length, bool noCase) {
  if (member.keyLength != static_cast<std::uint64_t>(length)) return false;
  const char16_t* own = member.Key();
  for (std::int64_t i = 0; i < length; ++i) {
    if (Folded(own[i], noCase) != Folded(key[i], noCase)) return false;
  }
  return true;
}

MapMember* Find(const StringMap& map, std::uint32_t hash, const char16_t* key,
                std::int64_t length) {
  const std::uint32_t bucket = BucketOf(hash);
  if (map.bucketFirst) {
    for (MapMember* m = map.bucketFirst[bucket]; m && BucketOf(m->hash) == bucket; m = m->next) {
      if (m->hash == hash && KeyMatches(*m, key, length, map.noCase)) return m;
    }
    return nullptr;
  }
  for (MapMember* m = map.first; m; m = m->next) {
    if (m->hash == hash && KeyMatches(*m, key, length, map.noCase)) return m;
  }
  return nullptr;
}

// The member after which a new head of bucket goes: the last member of the nearest
// non-empty bucket below it, or null for the front of the chain.
MapMember* PredecessorOfBucket(const StringMap& map, std::uint32_t bucket) {
  if (map.bucketFirst) {
    for (std::uint32_t lower = bucket; lower-- > 0;) {
      MapMember* m = map.bucketFirst[lower];
      if (!m) continue;
      while (m->next && BucketOf(m->next->hash) == lower) m = m->next;
      return m;
    }
    return nullptr;
  }
  MapMember* previous = nullptr;
  for (MapMember* m = map.first; m && BucketOf(m->hash) < bucket; m = m->next) previous = m;
  return previous;
}

// Without memory for the index the map keeps working by walking its chain.
void BuildIndex(StringMap& map) {
  map.bucketFirst.reset(new (std::nothrow) MapMember*[StringMap::kBuckets]());
  if (!map.bucketFirst) return;
  for (MapMember* m = map.first; m; m = m->next) {
    MapMember*& head = map.bucketFirst[BucketOf(m->hash)];
    if (!head) head = m;
  }
}

MapMember* NewMember(const char16_t* key, std::int64_t length, std::uint32_t hash) {
  const auto bytes = sizeof(MapMember) + static_cast<std::size_t>(length + 1) * sizeof(char16_t);
  auto* member = static_cast<MapMember*>(std::calloc(1, bytes));
  if (!member) return nullptr;
  member->hash = hash;
  member->keyLength = static_cast<std::uint32_t>(length);
  auto* ownKey = reinterpret_cast<char16_t*>(member + 1);
  if (length > 0) std::memcpy(ownKey, key, static_cast<std::size_t>(length) * sizeof(char16_t));
  return member;
}

}  // namespace

StringMap* NewStringMap(bool noCase) {
  auto* map = new (std::nothrow) StringMap;
  if (map) map->noCase = noCase;
  return map;
}

MapMember* FindOrAddMember(StringMap& map, const char16_t* key, std::int64_t length,
                           bool* existed) {
  if (!key) length = 0;
  if (length < 0 || length > std::numeric_limits<std::uint32_t>::max()) return nullptr;
  const std::uint32_t hash = HashOf(key, length, map.noCase);
  if (MapMember* found = Find(map, hash, key, length)) {
    *existed = true;
    return found;
  }
  *existed = false;
  MapMember* member = NewMember(key, length, hash);
  if (!member) return nullptr;
  const std::uint32_t bucket = BucketOf(hash);
  MapMember* previous = PredecessorOfBucket(map, bucket);
  MapMember*& link = previous ? previous->next : map.first;
  member->next = link;
  link = member;
  if (map.bucketFirst) map.bucketFirst[bucket] = member;
  if (++map.count == kIndexedFrom) BuildIndex(map);
  return member;
}

void DeleteStringMap(StringMap* map) {
  if (!map) return;
  for (MapMember* m = map->first; m;) {
    MapMember* next = m->next;
    std::free(m);
    m = next;
  }
  delete map;
}
