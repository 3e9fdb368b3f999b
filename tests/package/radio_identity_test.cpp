#include <gtest/gtest.h>

#include "common/bytes.h"
#include "package/radio_identity.h"
#include "package/rcdb_builder.h"
#include "package/rcdb_records.h"
#include "package/record_list.h"

namespace lw {
namespace {

RadioIdentity Radio(const std::string& version = "A5.00.09.000", int restriction = 3) {
  RadioIdentity id;
  id.modelNumber = "KX412-000G0000-M00000-U1-0-F";
  id.serialNumber = "1234567890";
  id.softwareVersion = version;
  id.variantCode = "EU";
  id.restrictionCode = restriction;
  return id;
}

TEST(RadioType, FromTheModelNumber) {
  struct Case {
    const char* model;
    RadioType type;
  } cases[] = {
      {"", RadioType::None},
      {"KV620-T00", RadioType::MobileTrunking},
      {"KV620-000", RadioType::Mobile},
      {"KQ600-T00", RadioType::Repeater},
      {"KX412-T", RadioType::PortableTrunking},
      {"KX412-", RadioType::Portable},  // no character at index 6
      {"ZZ", RadioType::Portable},
  };
  for (const auto& c : cases) EXPECT_EQ(RadioTypeOf(c.model), c.type) << c.model;
  EXPECT_STREQ(RadioTypeName(RadioType::PortableTrunking), "Portable_trunking");
  EXPECT_STREQ(RadioTypeName(RadioType::None), "");
}

TEST(ImageIdentity, RcdbImageGivesTheHeaderTexts) {
  for (bool wide : {false, true}) {
    RadioIdentity radio = Radio();
    radio.packageCheckText = "PKG-CHECK";
    auto image = BuildRcdbImage(SampleRcdbSpec(radio, wide)).value();
    ImageIdentity read = ReadIdentityFromImage(image);
    ASSERT_TRUE(read.identity.has_value());
    EXPECT_TRUE(read.rcdb);
    EXPECT_EQ(read.formatKind, 2);
    EXPECT_EQ(read.identity->formatVersion, "2.0");
    EXPECT_EQ(read.identity->modelNumber, radio.modelNumber);
    EXPECT_EQ(read.identity->serialNumber, radio.serialNumber);
    EXPECT_EQ(read.identity->softwareVersion, radio.softwareVersion);
    EXPECT_EQ(read.identity->variantCode, "EU");
    EXPECT_EQ(read.identity->restrictionCode, 3);
    EXPECT_EQ(read.identity->packageCheckText, "PKG-CHECK");
  }
}

TEST(ImageIdentity, RestrictionCodeOnlyFromDataVersion4_05_16) {
  struct Case {
    const char* version;
    int code;
  } cases[] = {{"A4.05.15.999", -1}, {"A4.05.16.000", 3}, {"A5.00.00.000", 3}, {"A", -1}, {"", -1}};
  for (const auto& c : cases) {
    auto image = BuildRcdbImage(SampleRcdbSpec(Radio(c.version))).value();
    EXPECT_EQ(ReadIdentityFromImage(image).identity->restrictionCode, c.code) << c.version;
  }
}

TEST(ImageIdentity, FormatKinds) {
  RcdbBuildSpec desc = SampleRcdbSpec(Radio());
  desc.formatNibble = 2;
  auto image = BuildRcdbImage(desc).value();
  EXPECT_EQ(RcdbFormatKind(image), 128);
  ImageIdentity read = ReadIdentityFromImage(image);
  EXPECT_TRUE(read.rcdb);
  EXPECT_FALSE(read.identity.has_value());

  image = BuildRcdbImage(SampleRcdbSpec(Radio())).value();
  image[6] = 0;
  EXPECT_EQ(RcdbFormatKind(image), 144);
  EXPECT_FALSE(ReadIdentityFromImage(image).identity.has_value());
  image[11] = 'a';  // lower case: not an RCDB image any more
  EXPECT_EQ(RcdbFormatKind(image), 0);
}

TEST(ImageIdentity, RecordListGivesFormat1) {
  RadioIdentity radio = Radio();
  auto image = BuildRecordListImage(radio);
  ImageIdentity read = ReadIdentityFromImage(image, 'E');
  ASSERT_TRUE(read.identity.has_value());
  EXPECT_FALSE(read.rcdb);
  EXPECT_EQ(read.identity->formatVersion, "1.0");
  EXPECT_EQ(read.identity->modelNumber, radio.modelNumber);
  EXPECT_EQ(read.identity->serialNumber, radio.serialNumber);
  EXPECT_EQ(read.identity->softwareVersion, radio.softwareVersion);
  EXPECT_EQ(read.identity->variantCode, "E");
  EXPECT_EQ(read.identity->restrictionCode, -1);
  EXPECT_EQ(read.identityRecord.size(), 256u);
  EXPECT_EQ(Le32(read.identityRecord.data()), kIdentityRecordTag);
}

TEST(ImageIdentity, BrokenRcdbFallsBackToTheRecordListAndReportsItsError) {
  auto image = BuildRcdbImage(SampleRcdbSpec(Radio())).value();
  PutLe16(image.data() + 38, 0xFFFF);  // root size past the end: the tree does not open
  ImageIdentity read = ReadIdentityFromImage(image);
  EXPECT_FALSE(read.rcdb);
  EXPECT_FALSE(read.identity.has_value());
  EXPECT_EQ(read.recordListError, kRecordListTooShort);

  Bytes noTag(kRecordListDataStart, 0);  // a sound list without the identity record
  read = ReadIdentityFromImage(noTag);
  EXPECT_EQ(read.recordListError, 0);
  EXPECT_FALSE(read.identity.has_value());
}

TEST(XuidFile, RoundTripAndShortFiles) {
  RadioIdentity radio = Radio();
  radio.formatVersion = "2.0";
  radio.restrictionCode = -2;
  Bytes file = MakeXuidFile(radio);
  ASSERT_EQ(file.size(), 1024u);
  RadioIdentity read = IdentityFromXuid(file);
  EXPECT_EQ(read.modelNumber, radio.modelNumber);
  EXPECT_EQ(read.softwareVersion, radio.softwareVersion);
  EXPECT_EQ(read.formatVersion, "2.0");
  EXPECT_EQ(read.serialNumber, radio.serialNumber);
  EXPECT_EQ(read.restrictionCode, -2);
  EXPECT_EQ(read.variantCode, "2");  // the 5th character of the model number
  EXPECT_EQ(Le16(file.data() + 287), 0xFFFE);  // at the odd offset

  // A file cut inside the serial number: the rest reads as zero.
  Bytes cut(file.begin(), file.begin() + 200);
  read = IdentityFromXuid(cut);
  EXPECT_EQ(read.modelNumber, radio.modelNumber);
  EXPECT_EQ(read.serialNumber, "12");
  EXPECT_EQ(read.restrictionCode, 0);
  EXPECT_EQ(IdentityFromXuid({}).modelNumber, "");
}

TEST(RadioFile, KindIsTakenFromTheContent) {
  RadioIdentity radio = Radio();
  auto rcdb = BuildRcdbImage(SampleRcdbSpec(radio)).value();
  EXPECT_EQ(IdentityFromRadioFile(rcdb).kind, RadioFileKind::RcdbImage);
  EXPECT_EQ(IdentityFromRadioFile(BuildRecordListImage(radio)).kind, RadioFileKind::RecordList);
  auto xuid = IdentityFromRadioFile(MakeXuidFile(radio));
  EXPECT_EQ(xuid.kind, RadioFileKind::IdentityFile);
  EXPECT_EQ(xuid.identity->serialNumber, radio.serialNumber);
  auto junk = IdentityFromRadioFile(Bytes(2000, 0x41));
  EXPECT_EQ(junk.kind, RadioFileKind::RecordList);
  EXPECT_EQ(junk.image.recordListError, kRecordListTooShort);
}

TEST(RcdbRecords, CarryOverCallsOnTheSampleImage) {
  auto image = BuildRcdbImage(SampleRcdbSpec(Radio())).value();
  RcdbRecords records(image);
  ASSERT_TRUE(records.ok()) << records.error();
  EXPECT_EQ(records.RecordCount(3, 91), 2);
  EXPECT_EQ(records.RecordCount(3, 92), -1);
  EXPECT_EQ(records.RecordSize(3, 91, 1), 256);
  EXPECT_EQ(records.Record(3, 91, 1)[0], 0x31);
  EXPECT_EQ(records.Record(2, 85, -1).size(), 96u);
  EXPECT_TRUE(records.Record(3, 91, 2).empty());

  Bytes field;
  ASSERT_TRUE(records.GetVersionedHeader(&field));
  EXPECT_EQ(field, Bytes(32, 0x11));
  EXPECT_TRUE(records.SetVersionedHeader(Bytes(32, 0x77)));
  EXPECT_EQ(records.Record(1, 1, -1)[560], 0x77);
  EXPECT_FALSE(records.SetVersionedHeader(Bytes(31, 0)));

  // Header groups: 1-4 and 10 read and write, 8 and 9 write only, others neither.
  EXPECT_TRUE(records.GetHeaderGroup(10, &field));
  EXPECT_FALSE(records.GetHeaderGroup(8, &field));
  EXPECT_FALSE(records.GetHeaderGroup(11, &field));
  EXPECT_FALSE(records.modified());
  EXPECT_TRUE(records.SetHeaderGroup(9, Bytes{0xE0, 0x07, 5, 4, 0, 0}));
  EXPECT_TRUE(records.modified());
  EXPECT_FALSE(records.SetHeaderGroup(0, Bytes(32, 0)));
  EXPECT_FALSE(records.SetHeaderGroup(3, Bytes(15, 0)));

  Bytes broken = image;
  PutLe16(broken.data() + 38, 0xFFFF);
  RcdbRecords bad(broken);
  EXPECT_FALSE(bad.ok());
  EXPECT_FALSE(bad.error().empty());
  EXPECT_EQ(bad.RecordCount(3, 91), -1);
  EXPECT_FALSE(bad.GetHeaderGroup(1, &field));
}

TEST(RcdbRecords, VersionedHeaderNeedsRoomAt560) {
  RcdbBuildSpec desc = SampleRcdbSpec(Radio());
  desc.trees[0].groups[0].data.resize(591);
  auto image = BuildRcdbImage(desc).value();
  RcdbRecords records(image);
  Bytes field;
  EXPECT_FALSE(records.GetVersionedHeader(&field));
  EXPECT_FALSE(records.SetVersionedHeader(Bytes(32, 0)));
}

}  // namespace
}  // namespace lw
