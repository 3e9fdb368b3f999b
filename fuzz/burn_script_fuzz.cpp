// Feeds arbitrary text to the burn script reader and queries the result the way the script
// runner does: nothing may crash or read outside the text, and every entry must be findable.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "config/burn_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  lw::BurnScript script;
  script.LoadBurnScriptText(text);
  // Each kind once: a text of many equal sections would otherwise make this loop, not the
  // reader, the slow part.
  std::set<std::string> kinds;
  for (const auto& entry : script.Entries()) {
    if (script.FindEntry(entry.name) == nullptr) __builtin_trap();
    kinds.insert(entry.name);
  }
  for (const auto& kind : kinds) {
    for (const auto& line : script.CommandLines(kind)) {
      if (line.kind != kind) __builtin_trap();
      if (!line.tokens.empty()) script.LookupValue(kind, line.tokens[0]);
    }
  }
  lw::ParseNumber(text);
  lw::SplitScriptTokens(text);
  return 0;
}
