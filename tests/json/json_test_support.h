#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json.h"
#include "runtime/strings.h"

// One document per test, created with the fixture's flags; every document is freed after
// the test, so the sanitizer build sees anything a tree failed to release.
class JsonDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    JsonInit();
    document = JsonCreate(AnyHandle, 0);
    ASSERT_NE(document, 0);
    root = JsonRoot(document);
  }
  void TearDown() override { JsonFree(AnyHandle); }

  std::u16string Compose(std::int32_t flags = 0) const {
    String text = TakeResult([&](std::int64_t at) { JsonCompose(document, flags, at); });
    return std::u16string(text.view());
  }

  ObjectNumber document = 0;
  JsonValue* root = nullptr;
};

// Descriptor bytes spelled out field by field, as a record type's static table holds them.
class Descriptor {
 public:
  explicit Descriptor(const char* name) {
    Text(name);
    Text("");
    Word(0);  // no layout map: the insertion never reads it
  }
  Descriptor& Simple(std::uint8_t typeByte, std::int32_t offset, const char* name) {
    Byte(typeByte);
    Int32(offset);
    return Text(name);
  }
  Descriptor& FixedArray(std::uint8_t typeByte, std::int32_t offset, std::int32_t count,
                         std::int32_t stride, const char* name) {
    Byte(descriptor::kFixedArray);
    Byte(typeByte);
    Int32(offset).Int32(count).Int32(stride);
    return Text(name);
  }
  Descriptor& Container(std::uint8_t marker, std::uint8_t typeCode, std::int32_t offset,
                        const char* name) {
    Byte(marker);
    Byte(typeCode);
    if (marker == descriptor::kDynamicArray) Byte(0);
    Int32(offset);
    return Text(name);
  }
  Descriptor& Int32(std::int32_t value) {
    for (int i = 0; i < 4; ++i)
      Byte(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i)));
    return *this;
  }
  RecordDescriptor Finish() {
    Byte(descriptor::kEnd);
    return bytes_.data();
  }

 private:
  Descriptor& Byte(std::uint8_t value) {
    bytes_.push_back(value);
    return *this;
  }
  Descriptor& Text(const char* text) {
    while (*text) Byte(static_cast<std::uint8_t>(*text++));
    return Byte(0);
  }
  void Word(std::uint64_t value) {
    for (int i = 0; i < 8; ++i) Byte(static_cast<std::uint8_t>(value >> (8 * i)));
  }

  std::vector<std::uint8_t> bytes_;
};
