#include "engine/streamed_image.h"

#include <algorithm>
#include <span>

#include "engine/binary_image.h"

namespace lw {

StreamedImage::StreamedImage(const HeldFile& file, uint64_t offset, uint64_t length, bool wordReverse)
    : file_(file), base_(offset), length_(size_t(length)), wordReverse_(wordReverse) {}

const uint8_t* StreamedImage::Block(size_t offset, size_t n) {
  if (offset > length_ || n > length_ - offset) {
    failure_ = Status::Error(HeldFile::kEndedEarly, "a block beyond the image was asked for");
    return nullptr;
  }
  const bool held = bufferLength_ > 0 && offset >= bufferStart_ && offset + n <= bufferStart_ + bufferLength_;
  if (!held && !Fill(offset, n)) return nullptr;
  return buffer_.data() + (offset - bufferStart_);
}

Bytes StreamedImage::Head(size_t n) {
  n = std::min(n, length_);
  const uint8_t* bytes = Block(0, n);
  return bytes ? Bytes(bytes, bytes + n) : Bytes();
}

bool StreamedImage::Fill(size_t offset, size_t n) {
  // The descending writer walks the image from its end: a chunk then ends at the block asked
  // for, so that the blocks below it come from the same read.
  const bool backwards = bufferLength_ > 0 && offset < bufferStart_;
  size_t start = backwards && offset + n > kStreamChunk ? offset + n - kStreamChunk : offset;
  if (backwards && offset + n <= kStreamChunk) start = 0;
  start &= ~size_t(1);  // words are counted from the image's first byte
  size_t end = std::min(length_, std::max(start + kStreamChunk, offset + n));
  if (wordReverse_ && (end - start) % 2 == 1 && end < length_) ++end;  // never half a word
  if (buffer_.size() < end - start) buffer_.resize(end - start);
  bufferLength_ = 0;
  const std::span<uint8_t> chunk(buffer_.data(), end - start);
  if (Status read = file_.ReadAt(base_ + start, chunk); !read.ok()) {
    failure_ = read;
    return false;
  }
  // After the read: a file that changed since it was held may have lent some of these bytes.
  if (Status same = file_.Unchanged(); !same.ok()) {
    failure_ = same;
    return false;
  }
  if (wordReverse_) WordReverse(chunk);
  bufferStart_ = start;
  bufferLength_ = chunk.size();
  return true;
}

}  // namespace lw
