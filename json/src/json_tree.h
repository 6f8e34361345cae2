// Walking and filling a JSON tree, shared by the library's source files.
#pragma once

#include <cstdint>

#include "json/json.h"

bool IsContainer(const JsonValue& value);

// The first element or member value of an Array or Object, null when it has none.
JsonValue* FirstChild(const JsonValue& container);

// The element or member after child inside its container.
JsonValue* NextSibling(JsonValue* child, bool parentIsArray);

// Sets a String from length units at units (no alignment needed, no terminator read).
void SetStringUnits(JsonValue* value, const void* units, std::int64_t length);

// JsonAddMember with a counted key.
JsonValue* AddMemberWithKey(JsonValue* object, const char16_t* key, std::int64_t length);
