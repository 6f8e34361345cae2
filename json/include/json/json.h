// JSON documents: numbered trees of JsonValue nodes, built value by value or from records
// through their descriptors, and composed to text compact or pretty-printed.
//
// Every value owns what it holds: its string copy, or its element list (a RecordList of
// 16-byte JsonValue records) or member map with everything below. Operations on a null
// value, or on a value of the wrong kind, do nothing and return null. A document is used
// by one thread at a time; only creating and freeing documents are locked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "records/record_descriptor.h"
#include "records/record_list.h"
#include "runtime/object_registry.h"

// Value kinds; the kind field is a plain 32-bit number, so a value of another kind can
// exist (the composer refuses it).
inline constexpr std::int32_t JsonKindNull = 0;
inline constexpr std::int32_t JsonKindString = 1;
inline constexpr std::int32_t JsonKindNumber = 2;
inline constexpr std::int32_t JsonKindBoolean = 3;
inline constexpr std::int32_t JsonKindArray = 4;
inline constexpr std::int32_t JsonKindObject = 5;

// Number forms.
inline constexpr std::uint16_t JsonInteger = 0;
inline constexpr std::uint16_t JsonFloating = 1;

// Document flag, inherited by every value: objects compare keys ignoring the case of A-Z.
inline constexpr std::int32_t JsonNoCase = 2;
// Composer flag.
inline constexpr std::int32_t JsonPrettyPrint = 1;

struct StringMap;

struct JsonValue {
  std::int32_t kind;
  std::uint16_t numberForm;
  std::uint16_t flags;
  union {
    char16_t* text;        // String: owned copy, null for the empty string
    std::int64_t integer;  // Number in integer form; Boolean (non-zero is true)
    double real;           // Number in floating form
    RecordList* elements;  // Array
    StringMap* members;    // Object
  };
};

static_assert(sizeof(JsonValue) == 16);
static_assert(offsetof(JsonValue, kind) == 0);
static_assert(offsetof(JsonValue, numberForm) == 4);
static_assert(offsetof(JsonValue, flags) == 6);
static_assert(offsetof(JsonValue, integer) == 8);

// Start-up creates the document table; shut-down frees every document.
void JsonInit();
void JsonEnd();

// A document with a Null root under number (a static number or AnyHandle); the root takes
// flags AND JsonNoCase. Returns the document's address (for AnyHandle the handle), or 0.
ObjectNumber JsonCreate(ObjectNumber number, std::int32_t flags);

// The root value of a live document, or null.
JsonValue* JsonRoot(ObjectNumber number);

// Frees one document with its whole tree; AnyHandle frees every document.
void JsonFree(ObjectNumber number);

// Releases what the value owns and makes it Null, keeping its flags. Trees of any depth.
void JsonClearValue(JsonValue* value);

// Each of these clears the value first. A string copy that can't be had leaves a String
// with a null payload; an element list or map that can't be had leaves an empty Array or
// Object with a null payload.
void JsonSetString(JsonValue* value, const char16_t* text);
void JsonSetInteger(JsonValue* value, std::int64_t n);
void JsonSetDouble(JsonValue* value, double x);
void JsonSetArray(JsonValue* value);
void JsonSetObject(JsonValue* value);

// A new Null element after the last one, with the array's flags; null when the value is
// no Array or no element can be had.
JsonValue* JsonAppendElement(JsonValue* array);

// The member named key (null: the empty key), with the object's flags: an existing member
// with an equal key is cleared to Null in place, otherwise a new one is added. Null when
// the value is no Object or no member can be had.
JsonValue* JsonAddMember(JsonValue* object, const char16_t* key);

// Sets the value from one datum of a TypeCode at address (which needs no alignment);
// byteLength bounds a FixedString. Other type codes, and a null address, change nothing.
void JsonSetTyped(JsonValue* value, std::int32_t typeCode, std::int64_t byteLength,
                  const void* address);

// Insertion: the value becomes an Object (record) or Array (list) filled from the source
// through the descriptor, even an empty one when the source is null. Elements are records
// by descriptor unless the descriptor is null or the list holds Int (21) elements; then
// each element is converted with JsonSetTyped. A record's dynamic-array and map fields,
// which no record of this system has, become null members.
void JsonInsertRecord(JsonValue* value, const void* address, RecordDescriptor descriptor);
void JsonInsertList(JsonValue* value, const RecordList* list, RecordDescriptor descriptor);

// The document as text, the string result at position at of the calling thread's string
// buffer (-1: the current position). Empty when no document lives under number or the
// tree holds a value of an unknown kind. Composing stores a floating zero back as +0.
char16_t* JsonCompose(ObjectNumber number, std::int32_t flags, std::int64_t at);
