// Feeds arbitrary bytes to the LZSS decoder, and checks that coding any input and decoding it
// gives the input back.
#include <cstddef>
#include <cstdint>

#include "engine/lzss.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const lw::ByteView input(data, size);
  lw::LzssDecompress(input, 1 << 20);
  const lw::Bytes packed = lw::LzssCompress(input);
  const auto back = lw::LzssDecompress(packed, size);
  if (!back || *back != lw::Bytes(data, data + size)) __builtin_trap();
  return 0;
}
