// The simple record list: the older plain layout of radio data that is read when an image is
// not an RCDB tree.
//   0     list header: four 32-bit values and one 16-bit value (kept, not interpreted)
//   18    directory: 200 entries of 14 bytes
//           +0 32-bit value (kept), +4 32-bit record offset, +8 16-bit length,
//           +10 16-bit sub-record count
//   2818  the records, back to back in directory order
// An entry with length 0 or sub-record count 0 is unused. A record starts with a 4-byte tag;
// with fewer than 2 sub-records the record is one sub-record of its whole length (tag
// included), with n >= 2 the bytes after the tag are n sub-records of equal size.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace lw {

inline constexpr size_t kRecordListHeaderSize = 18;
inline constexpr size_t kRecordListEntries = 200;
inline constexpr size_t kRecordListEntrySize = 14;
inline constexpr size_t kRecordListDataStart = 2818;

// ParseRecordList error codes; the identity reader shows them to the operator.
inline constexpr int kRecordListTooShort = 1;    // data shorter than 2818 bytes
inline constexpr int kRecordListMisplaced = 2;   // record not where the running position is
inline constexpr int kRecordListPastEnd = 3;     // record runs past the end of the data
inline constexpr int kRecordListUnequal = 4;     // sub-records of unequal size

struct ListRecord {
  int entry = 0;           // directory position, 0..199
  uint32_t value = 0;      // the entry's first 32-bit value, not interpreted
  uint32_t offset = 0;
  uint16_t length = 0;
  uint16_t subCount = 0;
  uint32_t tag = 0;        // the first 4 bytes read as one 32-bit value
  std::vector<uint8_t> bytes;                     // the whole record, tag included
  std::vector<std::vector<uint8_t>> subRecords;   // copies
};

struct RecordList {
  std::array<uint32_t, 4> headerWords{};
  uint16_t headerHalf = 0;
  std::vector<ListRecord> records;  // used entries, in directory order
};

struct RecordListResult {
  int error = 0;  // 0 = success, else 1..4
  RecordList list;
  bool ok() const { return error == 0; }
};

RecordListResult ParseRecordList(std::span<const uint8_t> data);

}  // namespace lw
