#include "package/record_list.h"

#include "common/bytes.h"

namespace lw {

RecordListResult ParseRecordList(std::span<const uint8_t> data) {
  RecordListResult result;
  if (data.size() < kRecordListDataStart) {
    result.error = kRecordListTooShort;
    return result;
  }
  const uint8_t* p = data.data();
  for (size_t i = 0; i < 4; ++i) result.list.headerWords[i] = Le32(p + 4 * i);
  result.list.headerHalf = Le16(p + 16);

  uint64_t position = kRecordListDataStart;
  for (size_t e = 0; e < kRecordListEntries; ++e) {
    const uint8_t* entry = p + kRecordListHeaderSize + e * kRecordListEntrySize;
    ListRecord record;
    record.entry = int(e);
    record.value = Le32(entry);
    record.offset = Le32(entry + 4);
    record.length = Le16(entry + 8);
    record.subCount = Le16(entry + 10);
    if (record.length == 0 || record.subCount == 0) continue;
    if (record.offset != position) {
      result.error = kRecordListMisplaced;
      return result;
    }
    position += record.length;
    if (position > data.size()) {
      result.error = kRecordListPastEnd;
      return result;
    }
    const uint8_t* bytes = p + record.offset;
    record.bytes.assign(bytes, bytes + record.length);
    // A record shorter than its tag keeps the bytes it has; the missing tag bytes read as 0.
    for (size_t k = 0; k < 4 && k < record.length; ++k) record.tag |= uint32_t(bytes[k]) << (8 * k);
    if (record.subCount < 2) {
      record.subRecords.push_back(record.bytes);
    } else {
      if (record.length < 4 || (record.length - 4) % record.subCount != 0) {
        result.error = kRecordListUnequal;
        return result;
      }
      size_t each = (record.length - 4u) / record.subCount;
      for (size_t s = 0; s < record.subCount; ++s) {
        const uint8_t* sub = bytes + 4 + s * each;
        record.subRecords.emplace_back(sub, sub + each);
      }
    }
    result.list.records.push_back(std::move(record));
  }
  return result;
}

}  // namespace lw
