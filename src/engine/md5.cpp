#include "engine/md5.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace lw {
namespace {

inline uint32_t Rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

// The four auxiliary functions of the rounds.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

#define LW_MD5_STEP(f, a, b, c, d, k, s, t) \
  a += f(b, c, d) + w[k] + uint32_t(t);     \
  a = Rotl(a, s) + b

}  // namespace

Md5::Md5() : state_{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u} {}

void Md5::Transform(const uint8_t* block) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = Le32(block + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];

  LW_MD5_STEP(F, a, b, c, d, 0, 7, 0xd76aa478);
  LW_MD5_STEP(F, d, a, b, c, 1, 12, 0xe8c7b756);
  LW_MD5_STEP(F, c, d, a, b, 2, 17, 0x242070db);
  LW_MD5_STEP(F, b, c, d, a, 3, 22, 0xc1bdceee);
  LW_MD5_STEP(F, a, b, c, d, 4, 7, 0xf57c0faf);
  LW_MD5_STEP(F, d, a, b, c, 5, 12, 0x4787c62a);
  LW_MD5_STEP(F, c, d, a, b, 6, 17, 0xa8304613);
  LW_MD5_STEP(F, b, c, d, a, 7, 22, 0xfd469501);
  LW_MD5_STEP(F, a, b, c, d, 8, 7, 0x698098d8);
  LW_MD5_STEP(F, d, a, b, c, 9, 12, 0x8b44f7af);
  LW_MD5_STEP(F, c, d, a, b, 10, 17, 0xffff5bb1);
  LW_MD5_STEP(F, b, c, d, a, 11, 22, 0x895cd7be);
  LW_MD5_STEP(F, a, b, c, d, 12, 7, 0x6b901122);
  LW_MD5_STEP(F, d, a, b, c, 13, 12, 0xfd987193);
  LW_MD5_STEP(F, c, d, a, b, 14, 17, 0xa679438e);
  LW_MD5_STEP(F, b, c, d, a, 15, 22, 0x49b40821);

  LW_MD5_STEP(G, a, b, c, d, 1, 5, 0xf61e2562);
  LW_MD5_STEP(G, d, a, b, c, 6, 9, 0xc040b340);
  LW_MD5_STEP(G, c, d, a, b, 11, 14, 0x265e5a51);
  LW_MD5_STEP(G, b, c, d, a, 0, 20, 0xe9b6c7aa);
  LW_MD5_STEP(G, a, b, c, d, 5, 5, 0xd62f105d);
  LW_MD5_STEP(G, d, a, b, c, 10, 9, 0x02441453);
  LW_MD5_STEP(G, c, d, a, b, 15, 14, 0xd8a1e681);
  LW_MD5_STEP(G, b, c, d, a, 4, 20, 0xe7d3fbc8);
  LW_MD5_STEP(G, a, b, c, d, 9, 5, 0x21e1cde6);
  LW_MD5_STEP(G, d, a, b, c, 14, 9, 0xc33707d6);
  LW_MD5_STEP(G, c, d, a, b, 3, 14, 0xf4d50d87);
  LW_MD5_STEP(G, b, c, d, a, 8, 20, 0x455a14ed);
  LW_MD5_STEP(G, a, b, c, d, 13, 5, 0xa9e3e905);
  LW_MD5_STEP(G, d, a, b, c, 2, 9, 0xfcefa3f8);
  LW_MD5_STEP(G, c, d, a, b, 7, 14, 0x676f02d9);
  LW_MD5_STEP(G, b, c, d, a, 12, 20, 0x8d2a4c8a);

  LW_MD5_STEP(H, a, b, c, d, 5, 4, 0xfffa3942);
  LW_MD5_STEP(H, d, a, b, c, 8, 11, 0x8771f681);
  LW_MD5_STEP(H, c, d, a, b, 11, 16, 0x6d9d6122);
  LW_MD5_STEP(H, b, c, d, a, 14, 23, 0xfde5380c);
  LW_MD5_STEP(H, a, b, c, d, 1, 4, 0xa4beea44);
  LW_MD5_STEP(H, d, a, b, c, 4, 11, 0x4bdecfa9);
  LW_MD5_STEP(H, c, d, a, b, 7, 16, 0xf6bb4b60);
  LW_MD5_STEP(H, b, c, d, a, 10, 23, 0xbebfbc70);
  LW_MD5_STEP(H, a, b, c, d, 13, 4, 0x289b7ec6);
  LW_MD5_STEP(H, d, a, b, c, 0, 11, 0xeaa127fa);
  LW_MD5_STEP(H, c, d, a, b, 3, 16, 0xd4ef3085);
  LW_MD5_STEP(H, b, c, d, a, 6, 23, 0x04881d05);
  LW_MD5_STEP(H, a, b, c, d, 9, 4, 0xd9d4d039);
  LW_MD5_STEP(H, d, a, b, c, 12, 11, 0xe6db99e5);
  LW_MD5_STEP(H, c, d, a, b, 15, 16, 0x1fa27cf8);
  LW_MD5_STEP(H, b, c, d, a, 2, 23, 0xc4ac5665);

  LW_MD5_STEP(I, a, b, c, d, 0, 6, 0xf4292244);
  LW_MD5_STEP(I, d, a, b, c, 7, 10, 0x432aff97);
  LW_MD5_STEP(I, c, d, a, b, 14, 15, 0xab9423a7);
  LW_MD5_STEP(I, b, c, d, a, 5, 21, 0xfc93a039);
  LW_MD5_STEP(I, a, b, c, d, 12, 6, 0x655b59c3);
  LW_MD5_STEP(I, d, a, b, c, 3, 10, 0x8f0ccc92);
  LW_MD5_STEP(I, c, d, a, b, 10, 15, 0xffeff47d);
  LW_MD5_STEP(I, b, c, d, a, 1, 21, 0x85845dd1);
  LW_MD5_STEP(I, a, b, c, d, 8, 6, 0x6fa87e4f);
  LW_MD5_STEP(I, d, a, b, c, 15, 10, 0xfe2ce6e0);
  LW_MD5_STEP(I, c, d, a, b, 6, 15, 0xa3014314);
  LW_MD5_STEP(I, b, c, d, a, 13, 21, 0x4e0811a1);
  LW_MD5_STEP(I, a, b, c, d, 4, 6, 0xf7537e82);
  LW_MD5_STEP(I, d, a, b, c, 11, 10, 0xbd3af235);
  LW_MD5_STEP(I, c, d, a, b, 2, 15, 0x2ad7d2bb);
  LW_MD5_STEP(I, b, c, d, a, 9, 21, 0xeb86d391);

  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

#undef LW_MD5_STEP

void Md5::Update(const uint8_t* data, size_t size) {
  totalBytes_ += size;
  if (pendingSize_ > 0) {
    const size_t take = std::min(size, sizeof pending_ - pendingSize_);
    std::memcpy(pending_ + pendingSize_, data, take);
    pendingSize_ += take;
    data += take;
    size -= take;
    if (pendingSize_ < sizeof pending_) return;
    Transform(pending_);
    pendingSize_ = 0;
  }
  for (; size >= 64; data += 64, size -= 64) Transform(data);
  if (size > 0) {
    std::memcpy(pending_, data, size);
    pendingSize_ = size;
  }
}

Md5Digest Md5::Finish() {
  // Padding: a 1 bit, zeros up to 56 bytes mod 64, then the message length in bits.
  const uint64_t bits = totalBytes_ * 8;
  uint8_t tail[72] = {0x80};
  const size_t padding = (pendingSize_ < 56 ? 56 : 120) - pendingSize_;
  for (int i = 0; i < 8; ++i) tail[padding + i] = uint8_t(bits >> (8 * i));
  Update(tail, padding + 8);
  Md5Digest digest;
  for (int i = 0; i < 4; ++i) PutLe32(&digest[4 * i], state_[i]);
  return digest;
}

Md5Digest Md5Of(ByteView data) {
  Md5 md5;
  md5.Update(data);
  return md5.Finish();
}

std::string Md5Hex(const Md5Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(32);
  for (uint8_t b : digest) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

std::optional<Md5Digest> Md5OfFile(const std::string& path, size_t chunkSize) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return std::nullopt;
  if (chunkSize == 0) chunkSize = 1024;
  std::vector<uint8_t> chunk(chunkSize);
  Md5 md5;
  for (;;) {
    const size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
    md5.Update(chunk.data(), got);
    if (got < chunk.size()) {
      if (std::ferror(file.get())) return std::nullopt;
      break;
    }
  }
  return md5.Finish();
}

}  // namespace lw
