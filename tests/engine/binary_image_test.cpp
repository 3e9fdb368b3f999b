#include "engine/binary_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "engine/operation_state.h"
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

Bytes Contents(const ImageBuffer& image) { return Bytes(image.bytes().begin(), image.bytes().end()); }

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
  ImageBuffer image;
  ASSERT_EQ(LoadBinaryEntry(dir_.File("p.fud"), 20, 2, image), BinaryLoadResult::Ok);
  ASSERT_EQ(LoadBinaryEntry(dir_.File("p.fud"), 10, 5, image), BinaryLoadResult::Ok);
  EXPECT_EQ(Contents(image), (Bytes{10, 11, 12, 13, 14}));
  ASSERT_EQ(LoadBinaryEntry(dir_.File("p.fud"), 100, 0, image), BinaryLoadResult::Ok);
  EXPECT_TRUE(image.empty());
}

TEST_F(BinaryImageTest, EntryRunningPastTheFileEndIsAShortRead) {
  ImageBuffer image;
  ASSERT_EQ(LoadBinaryEntry(dir_.File("p.fud"), 7, 1, image), BinaryLoadResult::Ok);
  EXPECT_EQ(LoadBinaryEntry(dir_.File("p.fud"), 90, 11, image), BinaryLoadResult::ShortRead);
  EXPECT_EQ(Contents(image), Bytes{7}) << "a failed load leaves the image alone";
  EXPECT_EQ(LoadBinaryEntry(dir_.File("p.fud"), 1000, 1, image), BinaryLoadResult::ShortRead);
}

TEST_F(BinaryImageTest, WholeFileAndItsFailures) {
  ImageBuffer image;
  ASSERT_EQ(LoadBinaryFile(dir_.File("p.fud"), image), BinaryLoadResult::Ok);
  EXPECT_EQ(Contents(image), content_);
  EXPECT_EQ(LoadBinaryFile(dir_.File("none.bin"), image), BinaryLoadResult::CannotOpen);
  EXPECT_EQ(LoadBinaryFile(dir_.path(), image), BinaryLoadResult::CannotOpen);
  EXPECT_EQ(LoadBinaryEntry(dir_.File("none.bin"), 0, 1, image), BinaryLoadResult::CannotOpen);
}

TEST_F(BinaryImageTest, ImagesLargerThanTheImageBufferAreRefused) {
  // A sparse file: the size counts, not the bytes on disk.
  const std::string big = dir_.Write("big.bin", Bytes{1});
  std::filesystem::resize_file(big, kImageBufferSize + 1);
  ImageBuffer image;
  EXPECT_EQ(LoadBinaryFile(big, image), BinaryLoadResult::TooLarge);
  EXPECT_EQ(LoadBinaryEntry(big, 0, kImageBufferSize + 1, image), BinaryLoadResult::TooLarge);
  EXPECT_NE(BinaryLoadMessage(BinaryLoadResult::TooLarge, big).find("40000000"), std::string::npos);

  std::filesystem::resize_file(big, kImageBufferSize);
  EXPECT_EQ(LoadBinaryFile(big, image), BinaryLoadResult::Ok);
  ASSERT_EQ(image.size(), kImageBufferSize);
  // A large image's buffer is not cleared before the read: every byte must be the file's.
  EXPECT_EQ(image.data()[0], 1);
  EXPECT_EQ(std::count(image.data() + 1, image.data() + image.size(), 0), std::ptrdiff_t(kImageBufferSize - 1));
}

// The loaded image and the plain one stand in for each other in the operation's state: the one
// set last counts, and releasing lets go of both.
TEST(OperationStateImageTest, LoadedAndPlainImagesReplaceEachOther) {
  OperationState state;
  ImageBuffer loaded(3 << 20);  // a mapped one
  std::fill(loaded.data(), loaded.data() + loaded.size(), 0xA5);
  state.SetImage(std::move(loaded));
  EXPECT_TRUE(loaded.empty()) << "moved from";
  ASSERT_EQ(state.ImageBytes().size(), size_t(3 << 20));
  EXPECT_EQ(state.ImageBytes()[12345], 0xA5);
  state.imageLength = 10;  // the counted part only
  EXPECT_EQ(state.ImageBytes().size(), 10u);
  EXPECT_EQ(state.ImageSize(), 10u);

  state.SetImage(Bytes{1, 2, 3});
  EXPECT_TRUE(state.loadedImage.empty());
  EXPECT_EQ(Bytes(state.ImageBytes().begin(), state.ImageBytes().end()), (Bytes{1, 2, 3}));

  state.SetImage(ImageBuffer(4));
  EXPECT_TRUE(state.image.empty());
  EXPECT_EQ(state.ImageSize(), 4u);
  state.ReleaseImage();
  EXPECT_EQ(state.ImageSize(), 0u);
  EXPECT_TRUE(state.ImageBytes().empty());
}

}  // namespace
}  // namespace lw
