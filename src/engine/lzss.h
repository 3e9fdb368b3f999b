// LZSS coding of arm_main images: the widely used public-domain format (Okumura, 1989), which
// the radio's boot code unpacks. The coder must give exactly the reference coder's bytes for
// every input, so its match search and its choice among equal matches follow that coder.
//
// Stream format: groups of one flag byte followed by up to eight items; flag bits are used from
// bit 0 upwards, a set bit marks a literal byte, a clear bit a two-byte reference into a
// 4,096-byte ring: first byte = low 8 bits of the ring position, second byte = high 4 bits of
// the position * 16 + (match length - 3). Matches of 2 bytes or fewer are sent as literals, the
// longest match is 18 bytes. The ring starts with spaces in positions 0..4,077 (and zeros
// after them) and coding starts at position 4,078. The last group is written only when it
// holds at least one item.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "common/bytes.h"

namespace lw {

inline constexpr size_t kLzssRingSize = 4096;
inline constexpr size_t kLzssMaxMatch = 18;
inline constexpr size_t kLzssThreshold = 2;  // matches this long or shorter go as literals

// Compresses `input` in memory. An empty input gives an empty output.
Bytes LzssCompress(ByteView input);

// Expands an LZSS stream. Returns nothing when the stream ends inside a two-byte reference
// (a cut stream) or when the output would grow beyond `maxOutput` bytes.
std::optional<Bytes> LzssDecompress(ByteView input, size_t maxOutput);

// The compression step of the upgrade for an arm_main image. Nothing for an empty kind name
// or no data. The work happens in memory, so nothing can be left behind in the program
// directory (which need not be writable).
std::optional<Bytes> CompressImage(std::string_view kindName, ByteView data);

}  // namespace lw
