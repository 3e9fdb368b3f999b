// The conversion of a radio's configuration data to the layout of new firmware: the customer's
// programming (channels, contacts, zones...) kept in the radio's old RCDB data is moved into
// the new firmware's RCDB image, which keeps its own layout. The rules are in docs/conversion.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lw::conversion {

struct ConversionCounts {
  int copied = 0;     // units copied whole
  int padded = 0;     // old unit shorter: the rest keeps the new image's bytes
  int truncated = 0;  // old unit longer: cut at the new size
  int dropped = 0;    // old units the new layout has no place for
  int kept = 0;       // new units the old data lack (they keep the new image's defaults)
};

// Converts in place: `image` holds the new image and receives the result; `old` is the radio's
// previous data. False, with `image` untouched, when either is not RCDB data that opens as a
// tree of an identifiable format.
bool ConvertRcdbData(std::span<uint8_t> image, std::span<const uint8_t> old, ConversionCounts* counts = nullptr);

}  // namespace lw::conversion
