#include "engine/binary_image.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace lw {
namespace {

TEST(WordReverseTest, SwapsWordsAndKeepsALastOddByte) {
  Bytes odd{1, 2, 3, 4, 5};
  WordReverse(odd);
  EXPECT_EQ(odd, (Bytes{2, 1, 4, 3, 5}));
  Bytes even{0xA0, 0xB0};
  WordReverse(even);
  EXPECT_EQ(even, (Bytes{0xB0, 0xA0}));
  Bytes none;
  WordReverse(none);
  EXPECT_TRUE(none.empty());
}

class BinaryImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 100; ++i) content_.push_back(uint8_t(i));
    dir_.Write("p.fud", content_);
  }
  test::TempDir dir_;
  Bytes content_;
};

TEST_F(BinaryImageTest, EntryBytesComeFromTheirOffset) {
  Bytes image{9, 9};
  ASSERT_EQ(LoadBinaryEntry(dir_.File("p.fud"), 10, 5, image), BinaryLoadResult::Ok);
  EXPECT_EQ(image, (Bytes{10, 11, 12, 13, 14}));
  ASSERT_EQ(LoadBinaryEntry(dir_.File("p.fud"), 100, 0, image), BinaryLoadResult::Ok);
  EXPECT_TRUE(image.empty());
}

TEST_F(BinaryImageTest, EntryRunningPastTheFileEndIsAShortRead) {
  Bytes image{7};
  EXPECT_EQ(LoadBinaryEntry(dir_.File("p.fud"), 90, 11, image), BinaryLoadResult::ShortRead);
  EXPECT_EQ(image, Bytes{7}) << "a failed load leaves the image alone";
  EXPECT_EQ(LoadBinaryEntry(dir_.File("p.fud"), 1000, 1, image), BinaryLoadResult::ShortRead);
}

TEST_F(BinaryImageTest, WholeFileAndItsFailures) {
  Bytes image;
  ASSERT_EQ(LoadBinaryFile(dir_.File("p.fud"), image), BinaryLoadResult::Ok);
  EXPECT_EQ(image, content_);
  EXPECT_EQ(LoadBinaryFile(dir_.File("none.bin"), image), BinaryLoadResult::CannotOpen);
  EXPECT_EQ(LoadBinaryFile(dir_.path(), image), BinaryLoadResult::CannotOpen);
  EXPECT_EQ(LoadBinaryEntry(dir_.File("none.bin"), 0, 1, image), BinaryLoadResult::CannotOpen);
}

TEST_F(BinaryImageTest, ImagesLargerThanTheImageBufferAreRefused) {
  // A sparse file: the size counts, not the bytes on disk.
  const std::string big = dir_.Write("big.bin", Bytes{1});
  std::filesystem::resize_file(big, kImageBufferSize + 1);
  Bytes image;
  EXPECT_EQ(LoadBinaryFile(big, image), BinaryLoadResult::TooLarge);
  EXPECT_EQ(LoadBinaryEntry(big, 0, kImageBufferSize + 1, image), BinaryLoadResult::TooLarge);
  EXPECT_NE(BinaryLoadMessage(BinaryLoadResult::TooLarge, big).find("40000000"), std::string::npos);

  std::filesystem::resize_file(big, kImageBufferSize);
  EXPECT_EQ(LoadBinaryFile(big, image), BinaryLoadResult::Ok);
  EXPECT_EQ(image.size(), kImageBufferSize);
}

}  // namespace
}  // namespace lw
