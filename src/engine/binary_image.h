// Binary images: an entry's bytes read from the package, or a whole extern file, as the image
// to burn; the byte swap of "swapped binary" kinds; and the limits of the work buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "common/bytes.h"
#include "common/text.h"

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

// The operator text for an image file that cannot be opened ("%s": its path).
inline constexpr const char* kImageTextCannotOpen = TextKey("Cannot open image file %s.");

// A one-line operator text, translated, for a failed load of `path`; empty for Ok.
std::string BinaryLoadMessage(BinaryLoadResult result, const std::string& path);

// Swaps the two bytes of every 16-bit word in place; a last odd byte stays.
void WordReverse(std::span<uint8_t> buffer);

}  // namespace lw
