#include <gtest/gtest.h>

#include "common/bytes.h"
#include "package/record_list.h"

namespace lw {
namespace {

struct Entry {
  size_t index;
  uint32_t offset;
  uint16_t length;
  uint16_t subCount;
};

Bytes ListImage(const std::vector<Entry>& entries, size_t dataBytes) {
  Bytes image(kRecordListDataStart + dataBytes, 0);
  for (size_t i = 0; i < image.size(); ++i)
    if (i >= kRecordListDataStart) image[i] = uint8_t(i);
  PutLe32(image.data(), 0x11111111);
  PutLe16(image.data() + 16, 0x2222);
  for (const auto& e : entries) {
    uint8_t* p = image.data() + kRecordListHeaderSize + e.index * kRecordListEntrySize;
    PutLe32(p, 0xCAFE0000u + uint32_t(e.index));
    PutLe32(p + 4, e.offset);
    PutLe16(p + 8, e.length);
    PutLe16(p + 10, e.subCount);
  }
  return image;
}

TEST(RecordList, AllUnusedEntriesParseToNoRecords) {
  Bytes image = ListImage({}, 0);
  ASSERT_EQ(image.size(), 2818u);
  auto result = ParseRecordList(image);
  ASSERT_TRUE(result.ok());
  EXPECT_TRUE(result.list.records.empty());
  EXPECT_EQ(result.list.headerWords[0], 0x11111111u);
  EXPECT_EQ(result.list.headerHalf, 0x2222);
}

TEST(RecordList, SubRecordsSplitTheBytesAfterTheTag) {
  const uint32_t at = kRecordListDataStart;
  // Entry 3 is unused (count 0) and sits between two used ones; its offset is never checked.
  Bytes image = ListImage({{0, at, 36, 4}, {3, 999, 10, 0}, {5, at + 36, 6, 1}}, 42);
  auto result = ParseRecordList(image);
  ASSERT_TRUE(result.ok()) << result.error;
  ASSERT_EQ(result.list.records.size(), 2u);
  const auto& four = result.list.records[0];
  EXPECT_EQ(four.tag, Le32(image.data() + at));
  ASSERT_EQ(four.subRecords.size(), 4u);
  for (size_t s = 0; s < 4; ++s) {
    EXPECT_EQ(four.subRecords[s].size(), 8u);
    EXPECT_EQ(four.subRecords[s][0], image[at + 4 + 8 * s]);
  }
  const auto& one = result.list.records[1];
  EXPECT_EQ(one.entry, 5);
  EXPECT_EQ(one.value, 0xCAFE0005u);
  ASSERT_EQ(one.subRecords.size(), 1u);
  EXPECT_EQ(one.subRecords[0], Bytes(image.begin() + at + 36, image.begin() + at + 42));  // tag included
}

TEST(RecordList, ErrorsStopAtTheFirstFault) {
  const uint32_t at = kRecordListDataStart;
  struct Case {
    const char* name;
    std::vector<Entry> entries;
    size_t data;
    int error;
  } cases[] = {
      {"shorter than the directory", {}, 0, 1},
      {"first record not at 2818", {{0, at + 1, 4, 1}}, 8, 2},
      {"gap between records", {{0, at, 4, 1}, {1, at + 5, 4, 1}}, 16, 2},
      {"record past the end", {{0, at, 9, 1}}, 8, 3},
      {"36 bytes in 5 sub-records", {{0, at, 36, 5}}, 36, 4},
      {"record shorter than its tag", {{0, at, 2, 2}}, 2, 4},
      {"position error before size error", {{0, at, 4, 1}, {1, at, 400, 1}}, 8, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes image = ListImage(c.entries, c.data);
    if (c.error == 1) image.pop_back();
    EXPECT_EQ(ParseRecordList(image).error, c.error);
  }
}

}  // namespace
}  // namespace lw
