// MD5 message digest (RFC 1321). Used to tell whether the conversion library beside the program
// is the build the program was made with, and by the data seal of converted RCDB data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/bytes.h"

namespace lw {

using Md5Digest = std::array<uint8_t, 16>;

// Incremental digest: Update any number of times, then Finish once.
class Md5 {
 public:
  Md5();
  void Update(const uint8_t* data, size_t size);
  void Update(ByteView data) { Update(data.data(), data.size()); }
  Md5Digest Finish();

 private:
  void Transform(const uint8_t* block);

  uint32_t state_[4];
  uint64_t totalBytes_ = 0;
  uint8_t pending_[64];
  size_t pendingSize_ = 0;
};

Md5Digest Md5Of(ByteView data);
// The digest as 32 lowercase hex digits.
std::string Md5Hex(const Md5Digest& digest);

// Digest of a whole file, read in chunks of `chunkSize` bytes. Nothing when the file cannot be
// opened or a read fails.
std::optional<Md5Digest> Md5OfFile(const std::string& path, size_t chunkSize = 1024);

}  // namespace lw
