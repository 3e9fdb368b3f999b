#include <gtest/gtest.h>

#include <random>

#include "common/bytes.h"
#include "package/fud_reader.h"
#include "package/fud_writer.h"
#include "support/package_fixture.h"
#include "support/temp_dir.h"
#include "ui/translate.h"

namespace lw {
namespace {

using test::SamplePackageSpec;
using test::TempDir;

class FudTest : public ::testing::Test {
 protected:
  void SetUp() override { SetTranslationTable({}); }
  void TearDown() override { SetTranslationTable({}); }
  std::string WriteSpec(const PackageSpec& desc, const std::string& name = "p.fud") {
    return dir.Write(name, EncodePackage(desc).value());
  }
  TempDir dir;
};

TEST_F(FudTest, WrittenPackageReadsBackAsDescribed) {
  PackageSpec desc = SamplePackageSpec();
  std::string path = WriteSpec(desc);
  PackageFile p = ReadPackage(path);
  ASSERT_TRUE(p.ok()) << p.error;

  PackageHeader expected = desc.header;
  expected.magic = "Vantor Upgrade Fud Files5";
  expected.entryCount = 3;
  expected.versionCount = 1;
  expected.modelCount = 2;
  expected.serialCount = 1;
  expected.tunerCount = 1;
  EXPECT_EQ(p.header, expected);
  EXPECT_EQ(p.modelRecords, desc.modelRecords);
  EXPECT_EQ(p.tunerRecords, desc.tunerRecords);
  ASSERT_EQ(p.entries.size(), 3u);
  EXPECT_EQ(p.entries[0].dataLength, 16u);
  EXPECT_EQ(p.entries[1], desc.entries[1].entry);  // extern: its length stays as written

  // Extern entries take no room: offsets base, base + 16, base + 16.
  uint64_t base = 484 + 200 * 5 + 564 * 3;
  EXPECT_EQ(p.dataStart, base);
  EXPECT_EQ(p.dataOffsets, (std::vector<uint64_t>{base, base + 16, base + 16}));
  Bytes file = test::ReadFileBytes(path);
  EXPECT_EQ(file.size(), base + 21);
  EXPECT_EQ(file[base], 0xC5);
  EXPECT_EQ(file[base + 16], 1);

  // The upgrade's read skips the lists but sees the same directory.
  PackageFile contents = ReadPackageContents(path);
  ASSERT_TRUE(contents.ok());
  EXPECT_TRUE(contents.modelRecords.empty());
  EXPECT_EQ(contents.entries, p.entries);
  EXPECT_EQ(contents.dataOffsets, p.dataOffsets);
}

TEST_F(FudTest, LoadFillsEveryRestriction) {
  PackageRestrictions r;
  ASSERT_EQ(LoadPackage(WriteSpec(SamplePackageSpec()), r), PackageStatus::Ok);
  EXPECT_EQ(r.forRadioText, "Portable Mobile");
  EXPECT_EQ(r.targetVersion, "A5.00.09.000");
  EXPECT_EQ(r.versionList, (std::vector<std::string>{"A5.00.07.000", "A5.00.09.000"}));
  ASSERT_EQ(r.modelList.size(), 3u);
  EXPECT_EQ(r.modelList[0], (ModelEntry{"KX41X", "KX41X-000G0000-M00000-U1-0-F", "A5.00.07.000"}));
  EXPECT_TRUE(r.modelList[1].IsMarker());
  EXPECT_EQ(r.modelList[2], (ModelEntry{"KV620", "KV620-000G0000-M00000-U1-0-F", "All Version"}));
  EXPECT_EQ(r.serialList, (std::vector<std::string>{"1234567890"}));
  ASSERT_EQ(r.tunerList.size(), 1u);
  EXPECT_EQ(r.tunerList[0], (TunerChangeEntry{"All Version", kAllRadioTypes, 256, 64, 1, ""}));
  EXPECT_EQ(r.contentsText, "[ cps_data * arm_main * english language package *  ]");
  EXPECT_TRUE(r.headInfoIndicator);
  EXPECT_TRUE(r.cpsDataIndicator);
  EXPECT_EQ(r.headerBytes.size(), 484u);
}

TEST_F(FudTest, ForRadioTextFromTheTypeFlags) {
  SetTranslationTable({{"All", "全部"}, {"Mobile", "车台"}});
  struct Case {
    uint32_t all, portable, mobile, repeater, ptrunk, mtrunk, other;
    const char* text;
  } cases[] = {
      {1, 0, 0, 0, 0, 0, 0, "全部"},
      {7, 1, 1, 0, 0, 0, 0, "全部"},  // the type flags are not looked at
      {0, 0, 0, 0, 0, 0, 0, ""},
      {0, 1, 1, 1, 1, 1, 1, "Portable 车台 Repeater Portable_trunking Mobile_trunking Other"},
      {0, 0, 0, 0, 1, 0, 1, "Portable_trunking Other"},
      {0, 2, 0, 0, 0, 0, 0, ""},  // only the value 1 admits
  };
  for (const auto& c : cases) {
    PackageHeader h;
    h.allRadios = c.all;
    h.forPortable = c.portable;
    h.forMobile = c.mobile;
    h.forRepeater = c.repeater;
    h.forPortableTrunking = c.ptrunk;
    h.forMobileTrunking = c.mtrunk;
    h.forOther = c.other;
    EXPECT_EQ(ForRadioTextOf(h), c.text);
  }
}

TEST_F(FudTest, VersionListLetterVariantsAndTarget) {
  EXPECT_EQ(VersionListOf({"A5.00.09.000"}, true, ""),
            (std::vector<std::string>{"A5.00.09.000", "C5.00.09.000", "S5.00.09.000", "N5.00.09.000",
                                      "T5.00.09.000"}));
  // The record's own letter is not repeated; the target is always last.
  EXPECT_EQ(VersionListOf({"T5.00.09.100", "V1.20"}, true, "A5.00.09.000"),
            (std::vector<std::string>{"T5.00.09.100", "A5.00.09.100", "C5.00.09.100", "S5.00.09.100",
                                      "N5.00.09.100", "V1.20", "AV1.20", "CV1.20", "SV1.20", "NV1.20", "TV1.20",
                                      "A5.00.09.000"}));
  EXPECT_EQ(VersionListOf({"A5.00.07.000"}, false, "A5.00.09.000"),
            (std::vector<std::string>{"A5.00.07.000", "A5.00.09.000"}));
}

TEST_F(FudTest, ModelRecordsAndFamilyMarkers) {
  auto list = ModelListOf({"<A5.00.08.002>  KX412-000G0000-M00000-U1-0-F", "<All Version>KX620-000G0000-M00000-U1-0-F",
                           "<V1> [KV62 x]", "<V2> KQ600-1"});
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(list[0], (ModelEntry{"KX412", "KX412-000G0000-M00000-U1-0-F", "A5.00.08.002"}));
  EXPECT_EQ(list[1], (ModelEntry{"KX620", "KX620-000G0000-M00000-U1-0-F", "All Version"}));  // same family
  EXPECT_TRUE(list[2].IsMarker());
  EXPECT_EQ(list[3], (ModelEntry{"[KV62", "[KV62 x]", "V1"}));  // a bracketed part is one token
  EXPECT_TRUE(list[4].IsMarker());
  EXPECT_EQ(list[5].modelNumber, "KQ600-1");
}

TEST_F(FudTest, TunerRecords) {
  auto list = TunerListOf({"<A5.00.07.000> <Address=512> <Length=32> <LowHigh=7>", "<All Version> <Address=x>"});
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], (TunerChangeEntry{"A5.00.07.000", kAllRadioTypes, 512, 32, 7, ""}));
  EXPECT_EQ(list[1], (TunerChangeEntry{"All Version", kAllRadioTypes, 0, 0, 0, ""}));
}

TEST_F(FudTest, ContentsTextShortensLanguageNamesOnlyForLongDirectories) {
  auto entries = [](std::vector<std::string> names) {
    std::vector<DirectoryEntry> out;
    for (auto& n : names) out.push_back({n, "", 0, 0, 0, 0, ""});
    return out;
  };
  EXPECT_EQ(ContentsTextOf(entries({"arm_main", "english language package", "other language package"})),
            "[ arm_main * english language package * other language package *  ]");
  EXPECT_EQ(ContentsTextOf(entries({"arm_main", "dsp_main", "english language package", "other language package"})),
            "[ arm_main * dsp_main * english * other *  ]");
  EXPECT_EQ(ContentsTextOf(entries({"arm_main", "dsp_main", "cps_data", "english language package"})),
            "[ arm_main * dsp_main * cps_data * english language package *  ]");
  EXPECT_EQ(ContentsTextOf(entries({"a", "b", "c", "d", "e", "english language package"})),
            "[ a * b * c * d * e * english *  ]");
  EXPECT_EQ(ContentsTextOf({}), "[  ]");
}

TEST_F(FudTest, FailedLoadsClearTheDisplayButKeepTargetAndHeader) {
  std::string good = WriteSpec(SamplePackageSpec(), "good.fud");
  Bytes wrong = EncodePackage(SamplePackageSpec()).value();
  wrong[0] = 'v';
  Bytes many = EncodePackage(SamplePackageSpec()).value();
  PutLe32(many.data() + 60, 101);
  Bytes shortData = EncodePackage(SamplePackageSpec()).value();
  shortData.pop_back();
  struct Case {
    const char* name;
    std::string path;
    PackageStatus status;
  } cases[] = {
      {"missing", dir.File("none.fud"), PackageStatus::OpenFailed},
      {"a folder", dir.path(), PackageStatus::OpenFailed},
      {"wrong magic", dir.Write("wrong.fud", wrong), PackageStatus::WrongMagic},
      {"101 entries", dir.Write("many.fud", many), PackageStatus::TooManyEntries},
      {"data area one byte short", dir.Write("short.fud", shortData), PackageStatus::Truncated},
      {"empty file", dir.Write("empty.fud", {}), PackageStatus::WrongMagic},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PackageRestrictions r;
    ASSERT_EQ(LoadPackage(good, r), PackageStatus::Ok);
    EXPECT_EQ(LoadPackage(c.path, r), c.status);
    EXPECT_TRUE(r.versionList.empty());
    EXPECT_TRUE(r.modelList.empty());
    EXPECT_TRUE(r.serialList.empty());
    EXPECT_TRUE(r.tunerList.empty());
    EXPECT_EQ(r.forRadioText, "");
    EXPECT_EQ(r.contentsText, "");
    EXPECT_FALSE(r.headInfoIndicator);
    EXPECT_FALSE(r.cpsDataIndicator);
    EXPECT_EQ(r.targetVersion, "A5.00.09.000");
    EXPECT_EQ(r.header.producerVersion, "V7.06.01.003");
    EXPECT_EQ(PackageErrorPayload(c.status), c.status == PackageStatus::OpenFailed ? 0 : 1);
  }
}

TEST_F(FudTest, TextFieldsWithoutNulAreCutAtTheirWidth) {
  PackageSpec desc = SamplePackageSpec();
  Bytes bytes = EncodePackage(desc).value();
  size_t entry0 = 484 + 200 * 5;
  std::fill_n(bytes.begin() + long(entry0), 100, 'k');        // kindName, no NUL
  std::fill_n(bytes.begin() + 72, 20, '9');                   // targetVersion, no NUL
  std::fill_n(bytes.begin() + 484 + 200 * 4, 200, 'z');       // the tuner record, no NUL
  PackageFile p = ReadPackage(dir.Write("nonul.fud", bytes));
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p.entries[0].kindName, std::string(100, 'k'));
  EXPECT_EQ(p.entries[0].fileName, "cps.bin");
  EXPECT_EQ(p.header.targetVersion, std::string(20, '9'));
  EXPECT_EQ(p.tunerRecords[0], std::string(200, 'z'));
}

TEST_F(FudTest, HugeCountsAreRefusedBeforeAnythingIsAllocated) {
  for (size_t field : {92u, 96u, 100u, 104u}) {
    Bytes bytes = EncodePackage(SamplePackageSpec()).value();
    PutLe32(bytes.data() + field, 0x80000000u);
    PackageFile p = ReadPackage(dir.Write("huge.fud", bytes));
    EXPECT_EQ(p.status, PackageStatus::Truncated) << field;
    EXPECT_TRUE(p.entries.empty());
  }
  // All four at 2^32 - 1: the sum must not wrap around to a small number.
  Bytes bytes = EncodePackage(SamplePackageSpec()).value();
  for (size_t field : {92u, 96u, 100u, 104u}) PutLe32(bytes.data() + field, 0xFFFFFFFFu);
  EXPECT_EQ(ReadPackage(dir.Write("huge.fud", bytes)).status, PackageStatus::Truncated);
  // An extern entry's length counts for nothing, a data entry's length must be in the file.
  Bytes ext = EncodePackage(SamplePackageSpec()).value();
  PutLe32(ext.data() + 484 + 1000 + 564 + 204, 0xFFFFFFFFu);
  EXPECT_TRUE(ReadPackage(dir.Write("ext.fud", ext)).ok());
  PutLe32(ext.data() + 484 + 1000 + 204, 0xFFFFFFFFu);
  EXPECT_EQ(ReadPackage(dir.Write("ext.fud", ext)).status, PackageStatus::Truncated);
}

TEST_F(FudTest, TruncatedAndBitFlippedPackagesNeverCrash) {
  Bytes good = EncodePackage(SamplePackageSpec()).value();
  // Every length through the header, then both sides of each section boundary and a stride.
  std::vector<size_t> lengths;
  for (size_t len = 0; len <= 485; ++len) lengths.push_back(len);
  for (size_t edge : {684u, 1484u, 2048u, 2612u, 3176u, 3192u, 3196u})
    for (size_t len = edge - 2; len <= edge + 2 && len < good.size(); ++len) lengths.push_back(len);
  for (size_t len = 486; len < good.size(); len += 37) lengths.push_back(len);
  for (size_t len : lengths) {
    PackageFile p = ReadPackage(dir.Write("cut.fud", Bytes(good.begin(), good.begin() + long(len))));
    EXPECT_EQ(p.status, len < 25 ? PackageStatus::WrongMagic : PackageStatus::Truncated) << len;
    EXPECT_FALSE(p.error.empty());
  }
  std::mt19937 rng(7);
  std::string path = dir.File("flip.fud");
  for (int round = 0; round < 200; ++round) {
    Bytes bytes = good;
    for (int f = 0; f < 3; ++f) bytes[rng() % 484] ^= uint8_t(1u << (rng() % 8));
    dir.Write("flip.fud", bytes);
    PackageRestrictions r;
    PackageStatus status = LoadPackage(path, r);
    if (status == PackageStatus::Ok) {
      EXPECT_LE(r.versionList.size(), bytes.size() / 200 * 6 + 1);
    }
  }
}

TEST_F(FudTest, WriterRefusesWhatCannotReadBackIdentically) {
  PackageSpec desc = SamplePackageSpec();
  desc.header.targetVersion = std::string(20, '1');  // 19 characters fit
  const Status target = EncodePackage(desc).status();
  EXPECT_FALSE(target.ok());
  EXPECT_NE(target.message().find("targetVersion"), std::string::npos);
  desc = SamplePackageSpec();
  desc.serialRecords.push_back(std::string(200, 's'));
  EXPECT_FALSE(EncodePackage(desc).ok());
  desc = SamplePackageSpec();
  desc.entries.resize(101);
  EXPECT_FALSE(EncodePackage(desc).ok());
}

}  // namespace
}  // namespace lw
