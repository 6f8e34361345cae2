// Shared pieces of the XML tests: documents that free themselves, lists of MatchRecord as the
// evaluator fills them, and composing to a std::u16string.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include "records/match_record.h"

#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "xml/xml.h"

namespace xml_test {

class Document {
 public:
  explicit Document(ObjectNumber number = AnyHandle, std::int32_t encoding = XmlEncodingUtf8) {
    XmlInit();
    number_ = XmlCreate(number, encoding);
    if (number != AnyHandle && number_) number_ = number;
  }
  ~Document() { XmlFree(number_); }
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  ObjectNumber number() const { return number_; }
  XmlNode* root() const { return XmlRootNode(number_); }

 private:
  ObjectNumber number_;
};

// The composed text, with the number of characters written as U+FFFD.
struct Composed {
  std::u16string text;
  std::int64_t replaced;
};

inline Composed ComposeCounting(ObjectNumber document) {
  Composed composed{{}, 0};
  composed.replaced = XmlCompose(document, [&](std::u16string_view piece) {
    EXPECT_FALSE(piece.empty());
    EXPECT_FALSE(IsHighSurrogate(piece.back()));
    composed.text += piece;
  });
  return composed;
}

inline std::u16string Compose(ObjectNumber document) { return ComposeCounting(document).text; }

// The composed text without the declaration.
inline std::u16string ComposeContent(ObjectNumber document) {
  const std::u16string text = Compose(document);
  return text.substr(std::min(text.size(), text.find(u"?>") + 2));
}

// Lines joined with CR LF, each one ended by it.
inline std::u16string CrLfLines(std::initializer_list<std::u16string_view> lines) {
  std::u16string text;
  for (std::u16string_view line : lines) (text += line) += u"\r\n";
  return text;
}

inline constexpr char16_t Declaration[] = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

using Match = std::pair<std::u16string, std::vector<std::u16string>>;

class MatchList {
 public:
  explicit MatchList(std::initializer_list<Match> matches) : list_(CreateMatchRecordList(nullptr)) {
    for (const Match& match : matches) {
      auto* record = static_cast<MatchRecord*>(ListInsert(list_));
      AssignString(record->m, match.first.c_str());
      for (const std::u16string& group : match.second) {
        AssignString(*static_cast<StringVar*>(ListInsert(record->g.list)), group.c_str());
      }
    }
  }
  ~MatchList() { ListDestroy(list_); }
  MatchList(const MatchList&) = delete;
  MatchList& operator=(const MatchList&) = delete;

  const RecordList* list() const { return list_; }

 private:
  RecordList* list_;
};

// Builds a record descriptor byte by byte.
class DescriptorBytes {
 public:
  explicit DescriptorBytes(const char* name) {
    Text(name);
    bytes_.push_back(0);                              // empty second name
    bytes_.insert(bytes_.end(), 8, std::uint8_t{0});  // no layout map
  }
  DescriptorBytes& Byte(std::uint8_t value) {
    bytes_.push_back(value);
    return *this;
  }
  DescriptorBytes& Int32(std::int32_t value) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return *this;
  }
  DescriptorBytes& Text(const char* text) {
    for (; *text; ++text) bytes_.push_back(static_cast<std::uint8_t>(*text));
    bytes_.push_back(0);
    return *this;
  }
  DescriptorBytes& Address(const void* pointer) {
    const auto value = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pointer));
    for (int i = 0; i < 8; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return *this;
  }
  // A simple field of this type byte at offset.
  DescriptorBytes& Field(std::uint8_t type, std::int32_t offset, const char* name) {
    return Byte(type).Int32(offset).Text(name);
  }
  // Room for the descriptor's own address, filled in by End: a record type that refers to
  // itself.
  DescriptorBytes& OwnAddress() {
    ownAddressAt_ = bytes_.size();
    return Address(nullptr);
  }
  RecordDescriptor End() {
    bytes_.push_back(descriptor::kEnd);
    if (ownAddressAt_) {
      const auto value =
          static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(bytes_.data()));
      for (int i = 0; i < 8; ++i)
        bytes_[ownAddressAt_ + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return bytes_.data();
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t ownAddressAt_ = 0;
};

}  // namespace xml_test
