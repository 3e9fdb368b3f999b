// USB vendor:product pairs by which the libusb backend recognises a radio of each class. The
// built-in values are kept here and nowhere else; set.ini may replace them ("USB Primary IDs",
// "USB Fallback IDs": blank- or comma-separated "vvvv:pppp" pairs in hexadecimal).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"

namespace lw {

struct UsbId {
  uint16_t vendor = 0;
  uint16_t product = 0;
  bool operator==(const UsbId&) const = default;
};

struct UsbIdConfig {
  std::vector<UsbId> primary;
  std::vector<UsbId> fallback;
};

// The built-in pairs: the radio's driver publishes the primary class; older firmware shows the
// fallback class.
UsbIdConfig DefaultUsbIds();

// Parses "1209:0001, 1209:0002". nullopt when any pair is malformed (the caller reports it and
// keeps the built-in pairs); an empty or blank text gives an empty list.
std::optional<std::vector<UsbId>> ParseUsbIdList(std::string_view text);

// The built-in pairs with each class replaced by the settings' text when that text is not
// blank. An error naming the setting whose text does not parse (the fallback's when neither
// does).
Result<UsbIdConfig> UsbIdsFromSettings(const std::string& primaryText, const std::string& fallbackText);

std::string UsbIdText(const UsbId& id);  // "1209:0001"

}  // namespace lw
