#include "records/match_record.h"

#include <initializer_list>

#include "list_internals.h"
#include "runtime/thread_stop.h"

namespace {

constexpr auto kRecordCode = static_cast<std::int64_t>(TypeCode::Record);
constexpr auto kStringCode = static_cast<std::int64_t>(TypeCode::String);

std::array<std::uint8_t, 37> BuildMatchStructDescriptor() {
  const std::uint64_t mapAddress =
      static_cast<std::uint64_t>(layout::Address(MatchRecordLayoutMap.data()));
  std::array<std::uint8_t, 37> bytes{};
  std::size_t at = 0;
  auto put = [&](std::initializer_list<std::uint8_t> values) {
    for (std::uint8_t value : values) bytes.at(at++) = value;
  };
  put({'m', 'a', 't', 'c', 'h', 's', 't', 'r', 'u', 'c', 't', 0});
  put({0});
  for (int i = 0; i < 8; ++i) put({static_cast<std::uint8_t>(mapAddress >> (8 * i))});
  put({static_cast<std::uint8_t>(TypeCode::String), 0, 0, 0, 0, 'm', 0});
  put({descriptor::kList, static_cast<std::uint8_t>(TypeCode::String), 8, 0, 0, 0, 'g', 0});
  put({descriptor::kEnd});
  return bytes;
}

}  // namespace

const std::array<std::int64_t, 2> GroupListLayoutMap = {0, layout::kEnd};

const std::array<std::int64_t, 7> MatchRecordLayoutMap = {
    0, layout::kList, 8, 8, layout::Address(GroupListLayoutMap.data()), kStringCode, layout::kEnd,
};

const std::array<std::uint8_t, 37> MatchStructDescriptor = BuildMatchStructDescriptor();

RecordList* CreateMatchRecordList(ListSlot* slot) {
  return ListCreate(sizeof(MatchRecord), slot, MatchRecordLayoutMap.data(),
                    static_cast<std::int32_t>(kRecordCode));
}

RecordList* CreateLazyMatchRecordList(ListSlot* slot) {
  RecordList* list = CreateMatchRecordList(slot);
  // The layout map still releases the group lists that were made.
  if (list) list->needsInitialise = 0;
  return list;
}

RecordList* MatchGroupList(MatchRecord& record) {
  if (record.g.list) return record.g.list;
  SharedChangeScope scope;
  return CreateList(8, &record.g, GroupListLayoutMap.data(), static_cast<std::int32_t>(kStringCode),
                    ListHeader::Nested);
}
