// Feeds arbitrary text to the burn script reader and queries the result the way the script
// runner does: nothing may crash or read outside the text, and every entry must be findable.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/burn_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  lw::BurnScript script;
  script.LoadBurnScriptText(text);
  for (const auto& entry : script.Entries()) {
    if (script.FindEntry(entry.name) == nullptr) __builtin_trap();
    for (const auto& line : script.CommandLines(entry.name)) {
      if (line.kind != entry.name) __builtin_trap();
      for (const auto& token : line.tokens) script.LookupValue(entry.name, token);
    }
  }
  lw::ParseNumber(text);
  lw::SplitScriptTokens(text);
  return 0;
}
