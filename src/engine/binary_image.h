// Binary images: an entry's bytes read from the package, or a whole extern file, as the image
// to burn; the byte swap of "swapped binary" kinds; and the limits of the work buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "common/bytes.h"

namespace lw {

// The upgrade works in fixed buffers: nothing larger is loaded.
inline constexpr size_t kImageBufferSize = 40'000'000;
inline constexpr size_t kSegmentTableBufferSize = 2'000'000;

enum class BinaryLoadResult {
  Ok,
  CannotOpen,  // the file does not exist or cannot be read
  TooLarge,    // more than kImageBufferSize bytes
  ShortRead,   // the file ends before the entry does, or a read failed
};

// Reads `length` bytes at `offset` of the file (a package entry) into `image`.
BinaryLoadResult LoadBinaryEntry(const std::string& path, uint64_t offset, uint64_t length,
                                 Bytes& image);
// Reads a whole file (an extern image file) into `image`.
BinaryLoadResult LoadBinaryFile(const std::string& path, Bytes& image);

// A one-line operator text for a failed load of `path`.
std::string BinaryLoadMessage(BinaryLoadResult result, const std::string& path);

// Swaps the two bytes of every 16-bit word in place; a last odd byte stays.
void WordReverse(std::span<uint8_t> buffer);

}  // namespace lw
