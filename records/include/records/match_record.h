// The record of one match: m, the whole match text, and g, the list of its group texts
// (a list of String references), with the static tables that describe it: the layout maps
// that create and release the group list and the strings, and the matchstruct descriptor
// through which export walks a list of these records.
//
// The tables are complete before main runs; don't read them from another static
// initialiser.
//
// The evaluator's record lives here rather than in app/: the JSON and XML libraries, their
// tests and benches and the list tests all walk lists of exactly this layout, and none of
// them may depend on the application. Nothing here knows the evaluator's workings: the
// evaluator makes and fills these records itself, through the operations below.
#pragma once

#include <array>
#include <cstdint>

#include "records/record_descriptor.h"
#include "records/record_list.h"
#include "runtime/strings.h"

struct MatchRecord {
  StringVar m;
  ListSlot g;
};

static_assert(sizeof(MatchRecord) == 24);
static_assert(offsetof(MatchRecord, g) == 8);

// Each group-list element is one String reference at offset 0.
extern const std::array<std::int64_t, 2> GroupListLayoutMap;

// m at offset 0; the group list at offset 8 (record size 8, type code String).
extern const std::array<std::int64_t, 7> MatchRecordLayoutMap;

// "matchstruct": the 37 bytes that name m (String at 0) and g (list of String at 8).
extern const std::array<std::uint8_t, 37> MatchStructDescriptor;

// A list of MatchRecord in slot (or its own slot when slot is null); every inserted record
// gets its own empty group list.
[[nodiscard]] RecordList* CreateMatchRecordList(ListSlot* slot);

// The same, except that an inserted record gets no group list until MatchGroupList makes
// it: most results never have a group, and an empty list costs a header and a pool lookup
// per record. A record whose g holds a null list has an empty group list; every reader
// (ListCount gives -1, ListNext null, DestroyList ignores it) copes with that.
[[nodiscard]] RecordList* CreateLazyMatchRecordList(ListSlot* slot);

// The record's group list, made on first demand; null when memory ran out.
[[nodiscard]] RecordList* MatchGroupList(MatchRecord& record);
