// Feeds arbitrary text to the language file parser and looks every key up through the
// process-wide table: values never end in a blank, and each key translates to its value.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ui/translate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto table = lw::ParseLanguageText(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const auto& [key, value] : table) {
    if (!value.empty() && (value.back() == ' ' || value.back() == '\t')) __builtin_trap();
    if (key.find('\n') != std::string::npos) __builtin_trap();
  }
  lw::SetTranslationTable(table);
  for (const auto& [key, value] : table)
    if (!key.empty() && lw::Translate(key) != value) __builtin_trap();
  // Leave nothing behind: memory a run keeps would look like a leak to the fuzzer.
  lw::SetTranslationTable({});
  return 0;
}
