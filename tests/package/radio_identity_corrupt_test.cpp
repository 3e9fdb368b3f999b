// Radio data as a radio or a backup may really hold them when something went wrong: cut short,
// bytes flipped, records that lie. The identity reader must never read outside the data and
// must say why it found no identity.
#include <gtest/gtest.h>

#include <string>

#include "common/bytes.h"
#include "package/radio_identity.h"
#include "package/rcdb_builder.h"
#include "package/record_list.h"

namespace lw {
namespace {

RadioIdentity Radio() {
  RadioIdentity id;
  id.modelNumber = "KX412-000G0000-M00000-U1-0-F";
  id.serialNumber = "SN0001";
  id.softwareVersion = "A5.00.09.000";
  return id;
}

TEST(IdentityFromCorruptData, FailureTextCarriesTheParserCode) {
  EXPECT_EQ(RecordListFailureText(0), "");
  EXPECT_EQ(RecordListFailureText(3),
            "Failed to parse RCDB data.\nError Code=3\t\t\t\t\nOnly simple format for output.");

  for (size_t size : {size_t(0), size_t(1), kRecordListDataStart - 1}) {
    Bytes data(size, 0);
    ImageIdentity read = ReadIdentityFromImage(data);
    EXPECT_FALSE(read.identity);
    EXPECT_EQ(read.recordListError, kRecordListTooShort) << size;
  }
}

TEST(IdentityFromCorruptData, TruncatedRcdbImagesNeverReadPastTheData) {
  Bytes image = BuildRcdbImage(SampleRcdbSpec(Radio())).value();
  for (size_t cut = 0; cut < image.size(); cut += 3) {
    // A copy of exactly `cut` bytes, so that the sanitizer sees any read past it.
    Bytes data(image.begin(), image.begin() + long(cut));
    ImageIdentity read = ReadIdentityFromImage(data);
    if (read.identity) {
      EXPECT_EQ(read.identity->formatVersion, read.rcdb ? "2.0" : "1.0") << cut;
    } else {
      EXPECT_TRUE(read.rcdb || read.recordListError != 0) << cut;
    }
  }
}

TEST(IdentityFromCorruptData, FlippedBytesGiveAnAnswerOrAReason) {
  Bytes image = BuildRcdbImage(SampleRcdbSpec(Radio())).value();
  for (size_t at = 0; at < image.size(); ++at) {
    Bytes data = image;
    data[at] ^= 0xFF;
    ImageIdentity read = ReadIdentityFromImage(data);
    // Either the tree still opens (the flip hit a text or a record's bytes), or the data are
    // taken for a record list, which an RCDB image never is.
    if (!read.rcdb) {
      EXPECT_NE(read.recordListError, 0) << at;
    }
  }
}

TEST(IdentityFromCorruptData, RecordListsThatLie) {
  Bytes list = BuildRecordListImage(Radio());
  ASSERT_TRUE(ReadIdentityFromImage(list).identity);

  struct Case {
    const char* name;
    size_t entryField;  // offset inside the second directory entry
    uint32_t value;
    bool wide;          // 32-bit field
    int error;
  } cases[] = {
      {"record elsewhere", 4, 5000, true, kRecordListMisplaced},
      {"record past the end", 8, 0xFFFF, false, kRecordListPastEnd},
      {"unequal sub-records", 10, 7, false, kRecordListUnequal},
  };
  for (const Case& c : cases) {
    Bytes data = list;
    uint8_t* field = data.data() + kRecordListHeaderSize + kRecordListEntrySize + c.entryField;
    if (c.wide) {
      PutLe32(field, c.value);
    } else {
      PutLe16(field, uint16_t(c.value));
    }
    ImageIdentity read = ReadIdentityFromImage(data);
    EXPECT_FALSE(read.identity) << c.name;
    EXPECT_EQ(read.recordListError, c.error) << c.name;
    EXPECT_NE(RecordListFailureText(read.recordListError).find("Error Code=" + std::to_string(c.error)),
              std::string::npos);
  }

  // An identity record shorter than its 256 bytes reads as if zero-padded.
  Bytes shortList(kRecordListDataStart, 0);
  uint8_t* entry = shortList.data() + kRecordListHeaderSize;
  PutLe32(entry + 4, uint32_t(kRecordListDataStart));
  PutLe16(entry + 8, 120);
  PutLe16(entry + 10, 1);
  Bytes record(120, 0);
  PutLe32(record.data(), kIdentityRecordTag);
  record[100] = 'V';
  shortList.insert(shortList.end(), record.begin(), record.end());
  ImageIdentity read = ReadIdentityFromImage(shortList, 'P');
  ASSERT_TRUE(read.identity);
  EXPECT_EQ(read.identity->softwareVersion, "V");
  EXPECT_EQ(read.identity->modelNumber, "");
  EXPECT_EQ(read.identity->variantCode, "P");
  EXPECT_EQ(read.identityRecord.size(), kIdentityRecordSize);
}

}  // namespace
}  // namespace lw
