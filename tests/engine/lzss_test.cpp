#include "engine/lzss.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/temp_dir.h"

namespace lw {
namespace {

std::string VectorPath(const std::string& name) { return std::string(LW_SOURCE_DIR) + "/tests/data/lzss/" + name; }

class LzssVectorTest : public ::testing::TestWithParam<const char*> {};

// The reference coder's output for each input, byte for byte, and the way back.
TEST_P(LzssVectorTest, MatchesReferenceCoderAndDecodesBack) {
  const Bytes input = test::ReadFileBytes(VectorPath(std::string(GetParam()) + ".in"));
  const Bytes expected = test::ReadFileBytes(VectorPath(std::string(GetParam()) + ".lzss"));
  ASSERT_TRUE(expected.size() > 0 || input.empty()) << "vector missing: " << GetParam();

  const Bytes packed = LzssCompress(input);
  ASSERT_EQ(packed.size(), expected.size());
  EXPECT_TRUE(packed == expected);

  const auto unpacked = LzssDecompress(expected, input.size());
  ASSERT_TRUE(unpacked.has_value());
  EXPECT_TRUE(*unpacked == input);
}

INSTANTIATE_TEST_SUITE_P(Vectors, LzssVectorTest,
                         ::testing::Values("empty", "one_byte", "spaces20", "zeros4096",
                                           "random100k", "period17_300k"));

TEST(LzssTest, SpacesAtTheStartAreReferencesIntoTheInitialRing) {
  const Bytes packed = LzssCompress(Bytes(20, ' '));
  ASSERT_GE(packed.size(), 3u);
  EXPECT_EQ(packed[0] & 1, 0) << "first item must be a reference, not a literal";
}

// Inputs that cross the ring size several times, with long runs, short repeats and noise, so
// that deletions, full-length replacements and the end-of-input slide all happen.
TEST(LzssTest, RoundTripsMixedData) {
  std::mt19937 rng(7);
  for (size_t size : {2u, 17u, 18u, 19u, 4095u, 4096u, 4097u, 70000u}) {
    Bytes data;
    while (data.size() < size) {
      switch (rng() % 3) {
        case 0: data.insert(data.end(), rng() % 40, uint8_t(rng())); break;
        case 1: for (int i = 0; i < 30; ++i) data.push_back(uint8_t("loftwise"[i % 8])); break;
        default: for (int i = 0; i < 25; ++i) data.push_back(uint8_t(rng())); break;
      }
    }
    data.resize(size);
    const Bytes packed = LzssCompress(data);
    const auto back = LzssDecompress(packed, size);
    ASSERT_TRUE(back.has_value()) << size;
    EXPECT_TRUE(*back == data) << size;
  }
}

TEST(LzssTest, DecoderRefusesCutStreamsAndOversizedOutput) {
  const Bytes packed = LzssCompress(Bytes(4096, 0));
  // Cut inside the final two-byte reference.
  Bytes cut(packed.begin(), packed.end() - 1);
  EXPECT_FALSE(LzssDecompress(cut, 1 << 20).has_value());
  // The output may not grow beyond the limit given.
  EXPECT_FALSE(LzssDecompress(packed, 4095).has_value());
  EXPECT_TRUE(LzssDecompress(packed, 4096).has_value());
  // A stream of one flag byte and nothing else holds no items: an empty result.
  const auto empty = LzssDecompress(Bytes{0x00}, 10);
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
}

TEST(LzssTest, CompressImageRefusesMissingInputAndOtherwiseCompresses) {
  const Bytes data(100, 0x5A);
  EXPECT_FALSE(CompressImage("", data).has_value());
  EXPECT_FALSE(CompressImage("arm_main", Bytes{}).has_value());
  const auto packed = CompressImage("arm_main", data);
  ASSERT_TRUE(packed.has_value());
  EXPECT_TRUE(*packed == LzssCompress(data));
}

}  // namespace
}  // namespace lw
