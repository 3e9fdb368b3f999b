// Binary images: an entry's bytes read from the package, or a whole extern file, as the image
// to burn; the byte swap of "swapped binary" kinds; and the limits of the work buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "common/bytes.h"
#include "common/text.h"

namespace lw {

// The upgrade works in fixed buffers: nothing larger is loaded.
inline constexpr size_t kImageBufferSize = 40'000'000;
inline constexpr size_t kSegmentTableBufferSize = 2'000'000;

// Bytes that are not cleared when they are made, for an image read from a file right after.
// A large one comes from the kernel with its pages already in place: neither a fill with zeros
// nor a page fault for each 4 KiB is paid for bytes that are about to be overwritten.
class ImageBuffer {
 public:
  ImageBuffer() = default;
  explicit ImageBuffer(size_t size);  // throws std::bad_alloc when there is no room
  ~ImageBuffer() { Release(); }
  ImageBuffer(ImageBuffer&& other) noexcept { *this = std::move(other); }
  ImageBuffer& operator=(ImageBuffer&& other) noexcept;
  ImageBuffer(const ImageBuffer&) = delete;
  ImageBuffer& operator=(const ImageBuffer&) = delete;

  uint8_t* data() { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::span<uint8_t> bytes() { return {data_, size_}; }
  std::span<const uint8_t> bytes() const { return {data_, size_}; }

 private:
  void Release();
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;  // from mmap (else new[])
};

enum class BinaryLoadResult {
  Ok,
  CannotOpen,  // the file does not exist or cannot be read
  TooLarge,    // more than kImageBufferSize bytes
  ShortRead,   // the file ends before the entry does, or a read failed
};

// Reads `length` bytes at `offset` of the file (a package entry) into `image`. A failed load
// leaves `image` as it was.
BinaryLoadResult LoadBinaryEntry(const std::string& path, uint64_t offset, uint64_t length, ImageBuffer& image);
// Reads a whole file (an extern image file) into `image`.
BinaryLoadResult LoadBinaryFile(const std::string& path, ImageBuffer& image);

// The operator text for an image file that cannot be opened ("%s": its path).
inline constexpr const char* kImageTextCannotOpen = TextKey("Cannot open image file %s.");

// A one-line operator text, translated, for a failed load of `path`; empty for Ok.
std::string BinaryLoadMessage(BinaryLoadResult result, const std::string& path);

// Swaps the two bytes of every 16-bit word in place; a last odd byte stays.
void WordReverse(std::span<uint8_t> buffer);

}  // namespace lw
