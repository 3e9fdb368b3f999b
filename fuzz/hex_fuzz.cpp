// Feeds arbitrary text to the Intel HEX reader, then packs it and builds its segment table:
// neither may read or write outside their buffers, whatever the text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/hex_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lw::HexImage hex;
  hex.LoadFromText(std::string_view(reinterpret_cast<const char*>(data), size));
  const size_t packedSize = hex.PackedSize();
  if (packedSize <= (64u << 20)) {
    lw::Bytes packed(packedSize);
    if (hex.ReadPacked(packed) != packedSize && packedSize != 0) __builtin_trap();
  }
  uint8_t table[64];
  hex.BuildSegmentTable(table, size % 100, 0x20000);
  return 0;
}
