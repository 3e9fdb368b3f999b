#include "link/usb_ids.h"

#include <cctype>

#include "common/text.h"

namespace lw {

namespace {
// pid.codes test identifiers; a site with radios under other identifiers lists them in set.ini.
constexpr UsbId kPrimaryIds[] = {{0x1209, 0x0001}};
constexpr UsbId kFallbackIds[] = {{0x1209, 0x0002}};

std::optional<uint16_t> ParseHex16(std::string_view text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 16 + uint32_t(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10));
  }
  return uint16_t(value);
}
}  // namespace

UsbIdConfig DefaultUsbIds() {
  UsbIdConfig ids;
  ids.primary.assign(std::begin(kPrimaryIds), std::end(kPrimaryIds));
  ids.fallback.assign(std::begin(kFallbackIds), std::end(kFallbackIds));
  return ids;
}

std::optional<std::vector<UsbId>> ParseUsbIdList(std::string_view text) {
  std::string normalized(text);
  for (char& c : normalized)
    if (c == ',' || c == ';' || c == '\t') c = ' ';
  std::vector<UsbId> ids;
  for (const std::string& raw : Split(normalized, ' ')) {
    std::string item = Trim(raw);
    if (item.empty()) continue;
    auto colon = item.find(':');
    if (colon == std::string::npos) return std::nullopt;
    std::string_view v(item.data(), colon), p(item.data() + colon + 1, item.size() - colon - 1);
    if (StartsWith(v, "0x") || StartsWith(v, "0X")) v.remove_prefix(2);
    if (StartsWith(p, "0x") || StartsWith(p, "0X")) p.remove_prefix(2);
    auto vendor = ParseHex16(v), product = ParseHex16(p);
    if (!vendor || !product) return std::nullopt;
    ids.push_back({*vendor, *product});
  }
  return ids;
}

Result<UsbIdConfig> UsbIdsFromSettings(const std::string& primaryText, const std::string& fallbackText) {
  UsbIdConfig ids = DefaultUsbIds();
  std::string problem;
  auto apply = [&](const std::string& text, std::vector<UsbId>& target, const char* key) {
    if (Trim(text).empty()) return;
    if (auto parsed = ParseUsbIdList(text)) {
      target = *parsed;
    } else {
      problem = Format("\"%s\" is not a list of vvvv:pppp pairs: %s", key, text.c_str());
    }
  };
  apply(primaryText, ids.primary, "USB Primary IDs");
  apply(fallbackText, ids.fallback, "USB Fallback IDs");
  if (!problem.empty()) return Status::Error(problem);
  return ids;
}

std::string UsbIdText(const UsbId& id) { return Format("%04x:%04x", id.vendor, id.product); }

}  // namespace lw
