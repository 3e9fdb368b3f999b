// Record list parser: any data gives success or an error 1..4, and every record it returns
// lies inside the data.
#include <cstdint>

#include "package/record_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto result = lw::ParseRecordList({data, size});
  if (result.error < 0 || result.error > 4) __builtin_trap();
  for (const auto& record : result.list.records) {
    if (uint64_t(record.offset) + record.length > size) __builtin_trap();
    size_t total = 0;
    for (const auto& sub : record.subRecords) total += sub.size();
    if (total > record.length) __builtin_trap();
  }
  return 0;
}
