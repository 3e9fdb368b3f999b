// Little-endian field access for the binary formats (packages, RCDB images, frames, InfoBlock).
// Every read is bounds-checked: formats come from files and radios we do not control, so a
// reader must never trust an offset or a count it has not checked against the buffer length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lw {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// True when [offset, offset + length) lies inside a buffer of `size` bytes, without overflow.
constexpr bool InBounds(size_t size, uint64_t offset, uint64_t length) {
  return offset <= size && length <= size - offset;
}

inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// Checked reads: nullopt when the field does not fit in the view.
std::optional<uint8_t> ReadU8(ByteView data, uint64_t offset);
std::optional<uint16_t> ReadLe16(ByteView data, uint64_t offset);
std::optional<uint32_t> ReadLe32(ByteView data, uint64_t offset);

// Appending writers for building images and frames.
void AppendLe16(Bytes& out, uint16_t v);
void AppendLe32(Bytes& out, uint32_t v);

// A NUL-terminated 8-bit text in a fixed-width field: cut at the first NUL or at the width,
// whichever comes first (a field without NUL is cut at its width, never read past).
std::string FixedText(ByteView data, uint64_t offset, size_t width);
// Writes text into a fixed-width field, NUL-padded; a longer text is cut at the width.
void PutFixedText(uint8_t* field, size_t width, const std::string& text);

// "%2.2X" per byte, separated by `separator`.
std::string HexString(ByteView data, const char* separator = " ");

}  // namespace lw
