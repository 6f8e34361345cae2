#include "json/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>
#include <vector>

#include "json_tree.h"
#include "runtime/strings.h"
#include "string_map.h"

namespace {

constexpr std::int64_t kReserveStep = 2048;  // units
// Large enough for any 64-bit integer and any "%.10g" text.
constexpr std::size_t kNumberBuffer = 32;

// Writes the text straight into the calling thread's string buffer, one unit at a time,
// reserving room in steps. Every pointer into the area is derived again after a
// reservation, which may move the area.
class TextSink {
 public:
  explicit TextSink(std::int64_t at) : at_(at) {
    next_ = ReserveTemp(kReserveStep, at_);
    end_ = next_ + kReserveStep;
  }

  void Put(char16_t unit) {
    if (next_ == end_) Grow();
    *next_++ = unit;
  }
  void Put(const char* ascii) {
    while (*ascii) Put(static_cast<char16_t>(*ascii++));
  }
  // Copies units that need no escaping, as much at a time as the reserve allows.
  void PutRun(const char16_t* units, std::int64_t count) {
    while (count > 0) {
      if (next_ == end_) Grow();
      const std::int64_t part = std::min<std::int64_t>(count, end_ - next_);
      next_ = std::copy_n(units, part, next_);
      units += part;
      count -= part;
    }
  }
  void Spaces(std::int64_t count) {
    while (count > 0) {
      if (next_ == end_) Grow();
      const std::int64_t part = std::min<std::int64_t>(count, end_ - next_);
      next_ = std::fill_n(next_, part, u' ');
      count -= part;
    }
  }

  // Terminates the text and gives back the unused reserve.
  char16_t* Finish() {
    *next_ = 0;
    GiveBackTemp(end_ - next_);
    return TempAt(at_);
  }

 private:
  // Reserves at least half of what the text holds already: the area is reallocated as it
  // grows, and a fixed step would resize a long text thousands of times.
  void Grow() {
    const std::int64_t written = next_ - TempAt(at_);
    const std::int64_t step = std::max(kReserveStep, written / 2 / kReserveStep * kReserveStep);
    ReserveTemp(step, -1);
    next_ = TempAt(at_) + written;
    end_ = TempAt(TempPosition());
  }

  std::int64_t at_;
  char16_t* next_;
  char16_t* end_;
};

void PutEscaped(TextSink& sink, char16_t unit) {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (unit) {
    case 8:
      return sink.Put("\\b");
    case 9:
      return sink.Put("\\t");
    case 10:
      return sink.Put("\\n");
    case 12:
      return sink.Put("\\f");
    case 13:
      return sink.Put("\\r");
    case u'"':
      return sink.Put("\\\"");
    case u'\\':
      return sink.Put("\\\\");
    default:
      sink.Put("\\u00");
      sink.Put(static_cast<char16_t>(kHex[unit >> 4]));
      sink.Put(static_cast<char16_t>(kHex[unit & 15]));
  }
}

bool NeedsEscape(char16_t unit) { return unit < 32 || unit == u'"' || unit == u'\\'; }

void PutString(TextSink& sink, const char16_t* text, std::int64_t length) {
  sink.Put(u'"');
  std::int64_t runStart = 0;
  for (std::int64_t i = 0; i < length; ++i) {
    if (!NeedsEscape(text[i])) continue;
    sink.PutRun(text + runStart, i - runStart);
    PutEscaped(sink, text[i]);
    runStart = i + 1;
  }
  sink.PutRun(text + runStart, length - runStart);
  sink.Put(u'"');
}

void PutNumberText(TextSink& sink, const char* first, const char* last) {
  while (first != last) sink.Put(static_cast<char16_t>(*first++));
}

// to_chars is locale-independent; with a precision it writes what "%.10g" writes in the
// C locale.
void PutNumber(TextSink& sink, JsonValue& value) {
  char buffer[kNumberBuffer];
  std::to_chars_result result{};
  if (value.numberForm != JsonFloating) {
    result = std::to_chars(buffer, buffer + kNumberBuffer, value.integer);
  } else if (!std::isfinite(value.real)) {
    return sink.Put("null");
  } else {
    if (value.real == 0) value.real = 0.0;  // -0 is stored back as +0
    result =
        std::to_chars(buffer, buffer + kNumberBuffer, value.real, std::chars_format::general, 10);
  }
  PutNumberText(sink, buffer, result.ptr);
}

// Writes a value that has no children; false for a container that has some, or for a
// value of an unknown kind (then *known is false).
bool PutLeaf(TextSink& sink, JsonValue& value, bool* known) {
  *known = true;
  switch (value.kind) {
    case JsonKindNull:
      sink.Put("null");
      return true;
    case JsonKindBoolean:
      sink.Put(value.integer ? "true" : "false");
      return true;
    case JsonKindNumber:
      PutNumber(sink, value);
      return true;
    case JsonKindString:
      PutString(sink, value.text ? value.text : u"", StringLength(value.text));
      return true;
    case JsonKindArray:
    case JsonKindObject:
      if (FirstChild(value)) return false;
      sink.Put(value.kind == JsonKindArray ? "[]" : "{}");
      return true;
    default:
      *known = false;
      return false;
  }
}

std::int64_t LongestKey(const StringMap& map) {
  std::int64_t longest = 0;
  for (const MapMember* m = map.first; m; m = m->next) {
    longest = std::max<std::int64_t>(longest, m->keyLength);
  }
  return longest;
}

// One open Array or Object: the child to write next and the layout of its children.
struct Frame {
  JsonValue* next;
  bool isArray;
  bool first;
  std::int64_t indent;      // of the container itself
  std::int64_t longestKey;  // Objects, pretty: keys are padded to this length
};

class Composer {
 public:
  Composer(TextSink& sink, bool pretty) : sink_(sink), pretty_(pretty) {}

  // Depth first without recursion, so that documents of any depth compose; false for an
  // unknown kind or when no memory for the open containers was left.
  bool Compose(JsonValue& root) {
    try {
      if (!Open(root, 0)) return false;
      while (!open_.empty()) {
        if (!Step(open_.back())) return false;
      }
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

 private:
  bool Open(JsonValue& value, std::int64_t indent) {
    bool known = false;
    if (PutLeaf(sink_, value, &known)) return true;
    if (!known) return false;
    const bool isArray = value.kind == JsonKindArray;
    sink_.Put(isArray ? u'[' : u'{');
    const std::int64_t longestKey = !isArray && pretty_ ? LongestKey(*value.members) : 0;
    open_.push_back(Frame{FirstChild(value), isArray, true, indent, longestKey});
    return true;
  }

  void LineEnd(std::int64_t indent) {
    if (!pretty_) return;
    sink_.Put(u'\r');
    sink_.Put(u'\n');
    sink_.Spaces(indent);
  }

  // Writes the frame's next child, or closes the frame when none is left.
  bool Step(Frame& frame) {
    JsonValue* child = frame.next;
    if (!child) {
      LineEnd(frame.indent);
      sink_.Put(frame.isArray ? u']' : u'}');
      open_.pop_back();
      return true;
    }
    frame.next = NextSibling(child, frame.isArray);
    if (!frame.first) sink_.Put(u',');
    frame.first = false;
    LineEnd(frame.indent + 2);
    if (frame.isArray) return Open(*child, frame.indent + 2);
    const MapMember* member = MemberOf(child);
    PutString(sink_, member->Key(), member->keyLength);
    if (pretty_) sink_.Spaces(frame.longestKey - member->keyLength);
    sink_.Put(u':');
    if (pretty_) sink_.Put(u' ');
    // Open may grow the stack, which moves frame: nothing of it is used afterwards.
    return Open(*child, frame.indent + 4);
  }

  TextSink& sink_;
  const bool pretty_;
  std::vector<Frame> open_;
};

}  // namespace

char16_t* JsonCompose(ObjectNumber number, std::int32_t flags, std::int64_t at) {
  if (at < 0) at = TempPosition();
  JsonValue* root = JsonRoot(number);
  if (root) {
    TextSink sink(at);
    if (Composer(sink, (flags & JsonPrettyPrint) != 0).Compose(*root)) return sink.Finish();
  }
  ReturnEmptyTemp(at);
  return TempAt(at);
}
