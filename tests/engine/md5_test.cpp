#include "engine/md5.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/temp_dir.h"

namespace lw {
namespace {

ByteView View(const std::string& s) { return ByteView(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

struct Rfc1321Case {
  const char* input;
  const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const Rfc1321Case kRfcSuite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5Test, Rfc1321Suite) {
  for (const auto& c : kRfcSuite) EXPECT_EQ(Md5Hex(Md5Of(View(c.input))), c.digest) << '"' << c.input << '"';
}

// Padding boundaries (55, 56, 63, 64 bytes) and pieces that straddle blocks give the same digest
// as one call over the whole message.
TEST(Md5Test, PiecewiseUpdatesEqualOneCall) {
  Bytes data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31 + 7);
  for (size_t total : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 300u}) {
    const ByteView whole(data.data(), total);
    for (size_t piece : {1u, 7u, 63u, 64u, 100u}) {
      Md5 md5;
      for (size_t at = 0; at < total; at += piece) md5.Update(whole.subspan(at, std::min(piece, total - at)));
      EXPECT_EQ(Md5Hex(md5.Finish()), Md5Hex(Md5Of(whole))) << total << "/" << piece;
    }
  }
  // Known value across the 56-byte boundary: 56 times "a".
  EXPECT_EQ(Md5Hex(Md5Of(View(std::string(56, 'a')))), "3b0c8ac703f828b04c6c197006d17218");
}

TEST(Md5Test, FileDigestInChunksAndUnreadableFiles) {
  test::TempDir dir;
  Bytes data(1024 * 3 + 5);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i ^ (i >> 8));
  dir.Write("lib.so", data);

  const auto digest = Md5OfFile(dir.File("lib.so"));
  ASSERT_TRUE(digest.has_value());
  EXPECT_EQ(Md5Hex(*digest), Md5Hex(Md5Of(data)));
  EXPECT_FALSE(Md5OfFile(dir.File("missing.so")).has_value());
  EXPECT_FALSE(Md5OfFile(dir.path()).has_value()) << "a folder is not a readable file";
}

}  // namespace
}  // namespace lw
