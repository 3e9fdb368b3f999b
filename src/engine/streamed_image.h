// A binary image that is burned straight from the package (or an extern file) it is held in.
//
// The write and read-back loops take its blocks as they reach them; each is read from the held
// file into one reusable buffer of kStreamChunk bytes, word-swapped there for a swapped kind,
// and handed out. So a 16 MB firmware image costs 64 KiB of memory instead of 16 MB of fresh
// pages, and the requests the radio sees are byte for byte those of the image read whole.
//
// Every refill checks, after its read, that the held file is unchanged: bytes read from a file
// that changed since its rules were checked are never handed out. A refill that fails keeps
// why (failure()) and gives null, which the loops turn into kImageUnreadable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/bytes.h"
#include "common/held_file.h"
#include "common/status.h"
#include "link/block_source.h"

namespace lw {

inline constexpr size_t kStreamChunk = 64 * 1024;

class StreamedImage final : public BlockSource {
 public:
  // `length` bytes from `offset` of `file`, which must outlive this image. `wordReverse` swaps
  // the two bytes of every 16-bit word counted from the image's first byte (a last odd byte
  // stays).
  StreamedImage(const HeldFile& file, uint64_t offset, uint64_t length, bool wordReverse);

  size_t size() const override { return length_; }
  const uint8_t* Block(size_t offset, size_t n) override;

  // The first `n` bytes (fewer when the image is shorter); empty when they cannot be read.
  Bytes Head(size_t n);
  // The file the image is read from.
  const std::string& path() const { return file_.path(); }
  // Why the last block could not be had; ok while every block could.
  const Status& failure() const { return failure_; }

 private:
  bool Fill(size_t offset, size_t n);

  const HeldFile& file_;
  uint64_t base_;
  size_t length_;
  bool wordReverse_;
  Bytes buffer_;
  size_t bufferStart_ = 0;
  size_t bufferLength_ = 0;
  Status failure_;
};

}  // namespace lw
