// Where the bytes of an area being written come from, one block at a time.
//
// The write and read-back loops ask for each block as they reach it, so an image need not be
// whole in memory: a firmware image can be read from the package block by block into one small
// buffer. A source that cannot give a block (its file changed or ended) says so with a null
// pointer, and the loop stops before sending anything of that block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/bytes.h"

namespace lw {

class BlockSource {
 public:
  virtual ~BlockSource() = default;
  virtual size_t size() const = 0;
  // The `n` bytes from `offset` (offset + n <= size()), valid until the next call; null when
  // they cannot be had.
  virtual const uint8_t* Block(size_t offset, size_t n) = 0;
};

// Bytes already in memory.
class MemoryBlocks final : public BlockSource {
 public:
  explicit MemoryBlocks(ByteView data = {}) : data_(data) {}
  size_t size() const override { return data_.size(); }
  const uint8_t* Block(size_t offset, size_t) override { return data_.data() + offset; }

 private:
  ByteView data_;
};

}  // namespace lw
