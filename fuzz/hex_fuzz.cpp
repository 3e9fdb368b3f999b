// Feeds arbitrary text to the Intel HEX reader, then packs it and builds its segment table:
// neither may read or write outside their buffers, whatever the text.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "engine/hex_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One reader for all inputs, as an upgrade reuses its buffers: each load must start clean.
  static lw::HexImage hex;
  hex.LoadFromText(std::string_view(reinterpret_cast<const char*>(data), size));
  const size_t packedSize = hex.PackedSize();
  // Pack into a buffer that is sometimes just too small, which must be refused untouched.
  static lw::Bytes packed(1 << 20);
  const size_t room = packedSize > 0 && size % 3 == 0 ? packedSize - 1 : packed.size();
  const size_t got = hex.ReadPacked(std::span<uint8_t>(packed.data(), std::min(room, packed.size())));
  if (got != 0 && got != packedSize) __builtin_trap();
  uint8_t table[64];
  hex.BuildSegmentTable(table, size % 100, 0x20000);
  return 0;
}
