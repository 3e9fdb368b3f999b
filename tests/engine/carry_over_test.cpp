// Data carry-over on RCDB and plain images built with the RCDB builder.
#include "engine/carry_over.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/text.h"
#include "engine/image_test_util.h"
#include "engine/runner_test_util.h"
#include "package/rcdb_builder.h"
#include "package/rcdb_records.h"
#include "package/rcdb_tree.h"

namespace lw {
namespace {

constexpr const char* kPortableModel = "KX412-000G0000-M00000-U1-0-F";

RadioIdentity Radio(const std::string& model = kPortableModel, const std::string& version = "A5.00.09.000") {
  RadioIdentity id;
  id.formatVersion = "2.0";
  id.modelNumber = model;
  id.softwareVersion = version;
  id.serialNumber = "SN0001";
  return id;
}

TunerRule Rule(const std::string& version, const std::string& types, uint32_t offset, uint32_t length,
               uint32_t key = 0, const std::string& mode = "Equal") {
  TunerRule rule;
  rule.version = version;
  rule.radioTypes = types;
  rule.offset = offset;
  rule.length = length;
  rule.segmentKey = key;
  rule.comparison = mode;
  return rule;
}

Bytes Build(const RcdbBuildSpec& desc) {
  auto image = BuildRcdbImage(desc);
  EXPECT_TRUE(image.ok()) << image.status().message();
  return std::move(image).value_or(Bytes{});
}

// The data of the plain group or record (index -1: the group) as a copy.
Bytes RecordOf(Bytes& image, int tree, int group, int index = -1) {
  RcdbRecords records(image);
  std::span<uint8_t> r = records.Record(tree, group, index);
  return Bytes(r.begin(), r.end());
}

Bytes HeaderGroupOf(Bytes& image, int group) {
  auto tree = RcdbTree::Open(image);
  std::vector<uint8_t> bytes;
  if (tree) tree->GetHeaderGroup(group, &bytes);
  return bytes;
}

RcdbBuildGroup Plain(int number, Bytes data) {
  RcdbBuildGroup g;
  g.number = number;
  g.data = std::move(data);
  return g;
}

// The sample image with every tuning segment (root/3/91/i) filled with `fill + i`.
RcdbBuildSpec Segmented(const RadioIdentity& id, uint8_t fill) {
  RcdbBuildSpec desc = SampleRcdbSpec(id);
  for (auto& tree : desc.trees)
    for (auto& group : tree.groups)
      for (size_t i = 0; i < group.records.size(); ++i) group.records[i].data.assign(256, uint8_t(fill + i));
  return desc;
}

// --- Settings --------------------------------------------------------------------------------------

// The shipped set.ini names every carry-over key as the reader spells it.
TEST(CarryOverSettingsKeys, ShippedFileAndEdits) {
  ProgramSettings settings;
  settings.headAreaByte = "X";
  settings.clearOldDataBit = true;
  ASSERT_TRUE(ReadProgramSettings(std::string(LW_BIN_DIR) + "/set.ini", settings));
  CarryOverSettings shipped = CarryOverSettings::From(settings);
  EXPECT_EQ(shipped.areaByte, 'P');
  EXPECT_FALSE(shipped.clearOldDataBit);
  EXPECT_EQ(shipped.headDate, "");

  test::ScratchDir dir;
  test::WriteAll(dir.File("set.ini"), std::string(
      "[PROGRAM SET]\nHead Area Byte= Q \nHead Text=HT\nHead Date=20240102\nClear Old Data Bit=TRUE\n"
      "Head Region Override=0\nHead Mode Override=T\nESN Data Write=TRUE\nMAC Address Write=TRUE\n"
      "[LANGUAGE FILE]\nSetModeStandard=2\n"));
  ASSERT_TRUE(ReadProgramSettings(dir.File("set.ini"), settings));
  CarryOverSettings edited = CarryOverSettings::From(settings);
  EXPECT_EQ(edited.areaByte, 'Q');
  EXPECT_EQ(edited.headText, "HT");
  EXPECT_EQ(edited.headDate, "20240102");
  EXPECT_TRUE(edited.clearOldDataBit);
  EXPECT_EQ(edited.regionOverride, "0");
  EXPECT_EQ(edited.modeOverride, "T");
  EXPECT_TRUE(edited.modelFields);
  EXPECT_TRUE(edited.serialFields);
  EXPECT_EQ(edited.airInterface, 2u);
}

// --- Rules ---------------------------------------------------------------------------------------

TEST(TuningRules, VersionTypeAndKeyTests) {
  struct Case {
    const char* name;
    TunerRule rule;
    std::string model;
    std::string version;
    uint32_t key;
    bool applies;
  } cases[] = {
      {"less-equal, lower", Rule("V1.20", "Portable", 0, 1, 0, "Less_Equal"), kPortableModel, "A1.10", 0, true},
      {"less-equal, same", Rule("V1.20", "Portable", 0, 1, 0, "Less_Equal"), kPortableModel, "A1.20", 0, true},
      {"less-equal, higher", Rule("V1.20", "Portable", 0, 1, 0, "Less_Equal"), kPortableModel, "A1.30", 0, false},
      {"equal, lower", Rule("V1.20", "Portable", 0, 1), kPortableModel, "A1.10", 0, false},
      {"equal, same", Rule("V1.20", "Portable", 0, 1), kPortableModel, "A1.20", 0, true},
      {"all versions", Rule("All Version", "Portable", 0, 1), kPortableModel, "Z9.99", 0, true},
      {"bracketed list, repeater", Rule("All Version", "[Portable Mobile]", 0, 1), "KQ600-000G", "A1", 0, false},
      {"bracketed list, mobile", Rule("All Version", "[Portable Mobile]", 0, 1), "KV620-000G", "A1", 0, true},
      {"repeater whatever char 7", Rule("All Version", "Repeater", 0, 1), "KQ600-T00G", "A1", 0, true},
      {"KV with T", Rule("All Version", "Mobile_trunking", 0, 1), "KV620-T00G", "A1", 0, true},
      {"KV with T is not Mobile", Rule("All Version", "Mobile", 0, 1), "KV620-T00G", "A1", 0, false},
      {"names match whole", Rule("All Version", "Portable", 0, 1), "KX412-T00G", "A1", 0, false},
      {"other key", Rule("All Version", "Portable", 0, 1, 1), kPortableModel, "A1", 0, false},
      {"no model, no type", Rule("All Version", "Portable", 0, 1), "", "A1", 0, false},
  };
  for (const Case& c : cases) EXPECT_EQ(RuleApplies(c.rule, Radio(c.model, c.version), c.key), c.applies) << c.name;
}

TEST(TuningRules, ApplyCopiesOnlyInsideBothBuffers) {
  std::vector<TunerRule> rules = {Rule("All Version", "Portable", 2, 3), Rule("All Version", "Portable", 6, 10),
                                  Rule("All Version", "Mobile", 0, 2)};
  Bytes target(8, 0), source(10, 0xEE);
  ApplyRules(rules, Radio(), target, source, 0);
  EXPECT_EQ(target, (Bytes{0, 0, 0xEE, 0xEE, 0xEE, 0, 0xEE, 0xEE}));
  EXPECT_TRUE(AnyRuleFor(rules, Radio(), 0));
  EXPECT_FALSE(AnyRuleFor(rules, Radio(), 1));
}

// --- cps_data ------------------------------------------------------------------------------------

class CpsCarryOver : public ::testing::Test {
 protected:
  void SetUp() override {
    state.identity = Radio();
    state.tunerRules = &rules;
    state.port = &port;
  }
  std::vector<TunerRule> rules = {Rule("All Version", "[Portable Mobile Repeater]", 16, 8, 0),
                                  Rule("All Version", "Portable", 32, 4, 1)};
  test::AnsweringPort port;
  OperationState state;
};

TEST_F(CpsCarryOver, PlainIntoPlainKeepsTheRuleAreasOfTheNewImage) {
  Bytes old(kPlainSegmentOffset + kPlainSegmentSize, 0xAA);
  Bytes image(kPlainSegmentOffset + kPlainSegmentSize + 16, 0x55);

  EXPECT_TRUE(CarryOverCpsData(state, old, image));

  Bytes expected(image.size(), 0x55);
  std::fill_n(expected.begin() + kPlainSegmentOffset, kPlainSegmentSize, 0xAA);
  std::fill_n(expected.begin() + kPlainSegmentOffset + 16, 8, 0x55);
  EXPECT_EQ(image, expected);
  EXPECT_TRUE(port.questions.empty());
}

TEST_F(CpsCarryOver, RcdbIntoRcdbCopiesEverySegmentButItsRuleAreas) {
  Bytes old = Build(Segmented(Radio(), 0x40));
  Bytes image = Build(Segmented(Radio(), 0x30));

  EXPECT_TRUE(CarryOverCpsData(state, old, image));

  Bytes first = RecordOf(image, 3, 91, 0), second = RecordOf(image, 3, 91, 1);
  Bytes expectFirst(256, 0x40), expectSecond(256, 0x41);
  std::fill_n(expectFirst.begin() + 16, 8, 0x30);   // key 0 rule
  std::fill_n(expectSecond.begin() + 32, 4, 0x31);  // key 1 rule
  EXPECT_EQ(first, expectFirst);
  EXPECT_EQ(second, expectSecond);
}

TEST_F(CpsCarryOver, MixedContainers) {
  // RCDB data never go into a plain image.
  Bytes rcdbOld = Build(Segmented(Radio(), 0x40));
  Bytes plain(kPlainSegmentOffset + kPlainSegmentSize, 0x55);
  Bytes untouched = plain;
  EXPECT_TRUE(CarryOverCpsData(state, rcdbOld, plain));
  EXPECT_EQ(plain, untouched);

  // A plain segment goes into the first RCDB segment, as far as the record reaches.
  Bytes plainOld(kPlainSegmentOffset + kPlainSegmentSize, 0xAA);
  Bytes image = Build(Segmented(Radio(), 0x30));
  EXPECT_TRUE(CarryOverCpsData(state, plainOld, image));
  Bytes expected(256, 0xAA);
  std::fill_n(expected.begin() + 16, 8, 0x30);
  EXPECT_EQ(RecordOf(image, 3, 91, 0), expected);
  EXPECT_EQ(RecordOf(image, 3, 91, 1), Bytes(256, 0x31));

  // Old data too short for a plain segment carry nothing.
  Bytes shortOld(100, 0xAA);
  Bytes before = image;
  EXPECT_TRUE(CarryOverCpsData(state, shortOld, image));
  EXPECT_EQ(image, before);
}

TEST_F(CpsCarryOver, UnidentifiableFormatAsksAndCancelChangesNothing) {
  RcdbBuildSpec oldSpec = Segmented(Radio(), 0x40);
  oldSpec.formatNibble = 2;  // format kind 128
  Bytes old = Build(oldSpec);
  ASSERT_EQ(RcdbFormatKind(old), 128);
  Bytes image = Build(Segmented(Radio(), 0x30));
  const Bytes before = image;

  port.answer = false;
  EXPECT_FALSE(CarryOverCpsData(state, old, image));
  EXPECT_EQ(image, before);
  ASSERT_EQ(port.questions.size(), 1u);
  EXPECT_EQ(port.questions[0], kUnidentifiableFormatText);

  port.answer = true;
  EXPECT_TRUE(CarryOverCpsData(state, old, image));
  Bytes expected(256, 0x41);
  std::fill_n(expected.begin() + 32, 4, 0x31);
  EXPECT_EQ(RecordOf(image, 3, 91, 1), expected);
}

// --- Model and serial fields -----------------------------------------------------------------------

TEST(ModelFields, FromTheModelNumberAndTheEquipmentCode) {
  struct Case {
    const char* model;
    uint8_t b498, b499, b500, b520;
  } cases[] = {
      {"KX622-00EG0000-M00000-U1-U3-0-F", 0x46, 2, 1, 1},  // "E" after KX62; U3 after U1
      {"KV628-000G0000-M00000-V1-0-F", 2, 3, 4, 2},
      {"KX410-000G0000-M00000-U5-0-F", 0x3D, 4, 0, 0},
      {"KW419-000G0000-M00000-0-F", 0, 0, 0, 0},  // no band tag, unknown variant digit
  };
  std::vector<SerialEntry> equipment = {{"SN0001", 0x00ABCDEF, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    OperationState state;
    state.identity = Radio(c.model);
    state.equipmentTable = &equipment;
    Bytes image = Build(SampleRcdbSpec(*state.identity));

    ApplyModelFields(state, image);

    Bytes r = RecordOf(image, 1, 1);
    ASSERT_EQ(r.size(), 600u);
    EXPECT_EQ(Le16(&r[496]), 1);
    EXPECT_EQ(r[498], c.b498);
    EXPECT_EQ(r[499], c.b499);
    EXPECT_EQ(r[500], c.b500);
    EXPECT_EQ(Le32(&r[504]), 0x00ABCDEFu);
    EXPECT_EQ(Le32(&r[508]), 0u);
    EXPECT_EQ(r[512], 1);
    EXPECT_EQ(Le32(&r[516]), 0x00ABCDEFu & 0x3FFFF);
    EXPECT_EQ(r[520], c.b520);
    EXPECT_EQ(r[521], 0);
    EXPECT_EQ(r[495], 0x11);
    EXPECT_EQ(r[524], 0x11);
  }
}

TEST(ModelFields, LeftAloneWithoutAUsableEquipmentEntry) {
  struct Case {
    const char* name;
    std::string format;
    SerialEntry entry;
  } cases[] = {
      {"serial not listed", "2.0", {"OTHER", 1, 2}},
      {"first code -1", "2.0", {"SN0001", -1, 2}},
      {"second code -1", "2.0", {"SN0001", 1, -1}},
      {"record-list radio", "1.0", {"SN0001", 1, 2}},
  };
  for (const Case& c : cases) {
    OperationState state;
    state.identity = Radio();
    state.identity->formatVersion = c.format;
    std::vector<SerialEntry> equipment = {c.entry};
    std::vector<MacEntry> units = {{"SN0001", {1, 2, 3, 4, 5, 6}}};
    state.equipmentTable = &equipment;
    if (c.format == "1.0") state.unitTable = &units;
    Bytes image = Build(SampleRcdbSpec(*state.identity));
    const Bytes before = image;
    ApplyModelFields(state, image);
    ApplySerialFields(state, image);
    EXPECT_EQ(image, before) << c.name;
  }
}

// "ESN Data Write" with the table as the program loads it: a code of -1 in EquipmentSn.txt
// leaves the model fields alone; a listed radio with two real codes gets its fields.
TEST(ModelFields, EquipmentFileCodesAsReadFromTheFile) {
  struct Case {
    const char* line;
    bool written;
  } cases[] = {
      {"[SN0001][-1][2]", false},
      {"[SN0001][11259375][-1]", false},
      {"[SN0001][ -1 ][ -1 ]", false},
      {"[SN0001][11259375][7]", true},
  };
  test::ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    test::WriteAll(dir.File("EquipmentSn.txt"), std::string(c.line) + "\r\n");
    std::vector<SerialEntry> equipment = ReadSerialList(dir.File("EquipmentSn.txt"));
    OperationState state;
    state.identity = Radio();
    state.equipmentTable = &equipment;
    Bytes image = Build(SampleRcdbSpec(*state.identity));
    const Bytes before = image;
    ApplyModelFields(state, image);
    if (!c.written) {
      EXPECT_EQ(image, before);
    } else {
      Bytes r = RecordOf(image, 1, 1);
      ASSERT_EQ(r.size(), 600u);
      EXPECT_EQ(Le32(&r[504]), 0x00ABCDEFu);
    }
  }
}

TEST(SerialFields, UnitBytesGoToRecord85) {
  OperationState state;
  state.identity = Radio();
  std::vector<MacEntry> units = {{"OTHER", {9, 9, 9, 9, 9, 9}}, {"SN0001", {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}}};
  state.unitTable = &units;
  Bytes image = Build(SampleRcdbSpec(*state.identity));

  ApplySerialFields(state, image);

  Bytes r = RecordOf(image, 2, 85);
  EXPECT_EQ(Bytes(r.begin() + 72, r.begin() + 80), (Bytes{1, 2, 3, 4, 5, 6, 0, 0}));
  EXPECT_EQ(r[71], 0x22);
  EXPECT_EQ(r[80], 0x22);
}

// --- Header ------------------------------------------------------------------------------------------

TEST(HeaderCarryOver, RecordListRadiosGetTheConfiguredValues) {
  OperationState state;
  state.identity = Radio();
  state.identity->formatVersion = "1.0";
  state.carryOver.areaByte = 'Q';
  state.carryOver.headText = "HEADTEXT";
  state.carryOver.headDate = "20240315";
  RcdbBuildSpec desc = SampleRcdbSpec(RadioIdentity{});
  desc.headerGroups[8] = {0, 0, 0, 0, 0xAB, 0xCD};
  Bytes image = Build(desc);
  Bytes old(10, 0);

  CarryOverHeader(state, old, image);

  EXPECT_EQ(HeaderGroupOf(image, 1).at(4), 'Q');
  EXPECT_EQ(HeaderGroupOf(image, 2).at(4), 'Q');
  EXPECT_EQ(HeaderGroupOf(image, 10).at(0), 'Q');
  Bytes text(16, 0);
  std::copy_n("HEADTEXT", 8, text.begin());
  EXPECT_EQ(HeaderGroupOf(image, 3), text);
  EXPECT_EQ(HeaderGroupOf(image, 8), (Bytes{0xE8, 0x07, 3, 15, 0xAB, 0xCD}));
  EXPECT_EQ(HeaderGroupOf(image, 9), (Bytes{0xE8, 0x07, 3, 15, 0, 0}));

  // A date that is not eight digits leaves the date groups as they are.
  state.carryOver.headDate = "2024-3-15";
  Bytes second = Build(desc);
  CarryOverHeader(state, old, second);
  EXPECT_EQ(HeaderGroupOf(second, 8), (Bytes{0, 0, 0, 0, 0xAB, 0xCD}));
}

TEST(HeaderCarryOver, ParsesTheHeadDate) {
  HeadDate date;
  ASSERT_TRUE(ParseHeadDate("19991231", &date));
  EXPECT_EQ(date.year, 1999);
  EXPECT_EQ(date.month, 12);
  EXPECT_EQ(date.day, 31);
  EXPECT_TRUE(ParseHeadDate("", &date));
  EXPECT_GE(date.year, 2024);
  EXPECT_FALSE(ParseHeadDate("1999123", &date));
  EXPECT_FALSE(ParseHeadDate("1999123x", &date));
}

// The sample with root/1/1 and root/2/* filled as given (a missing fill leaves the group out).
RcdbBuildSpec Records(const RadioIdentity& id, int fill11, int fill85, int fill93, int fill200) {
  RcdbBuildSpec desc = SampleRcdbSpec(id);
  desc.trees[0].groups.clear();
  if (fill11 >= 0) desc.trees[0].groups.push_back(Plain(1, Bytes(600, uint8_t(fill11))));
  desc.trees[1].groups.clear();
  if (fill85 >= 0) desc.trees[1].groups.push_back(Plain(85, Bytes(96, uint8_t(fill85))));
  if (fill93 >= 0) desc.trees[1].groups.push_back(Plain(93, Bytes(32, uint8_t(fill93))));
  if (fill200 >= 0) desc.trees[1].groups.push_back(Plain(200, Bytes(4, uint8_t(fill200))));
  return desc;
}

TEST(HeaderCarryOver, TrunkingAndRepeaterFieldsComeFromTheOldData) {
  struct Case {
    const char* name;
    std::string model;
    bool oldHasRecords;
    uint8_t b496, b27, b200, b72;
  } cases[] = {
      {"trunking portable", "KX412-T00G0000-M00000-U1-0-F", true, 0x77, 0x77, 0x25, 0x11},
      {"trunking, old records missing", "KX412-T00G0000-M00000-U1-0-F", false, 0x00, 2, 0x22, 0x11},
      {"repeater", "KQ600-000G0000-M00000-U1-0-F", true, 0x11, 0x11, 0x24, 0x99},
      {"repeater, old records missing", "KQ600-000G0000-M00000-U1-0-F", false, 0x11, 0x11, 0x24, 0x00},
      {"plain portable", kPortableModel, true, 0x11, 0x11, 0x24, 0x11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OperationState state;
    state.identity = Radio(c.model);
    Bytes old = Build(c.oldHasRecords ? Records(*state.identity, 0x77, 0x99, 0xFF, 0x05)
                                      : Records(*state.identity, -1, -1, -1, -1));
    Bytes image = Build(Records(*state.identity, 0x11, 0x11, 0x11, 0x24));

    CarryOverHeader(state, old, image);

    Bytes r = RecordOf(image, 1, 1);
    EXPECT_EQ(r[496], c.b496);
    EXPECT_EQ(r[523], c.b496);
    EXPECT_EQ(r[27], c.b27);
    EXPECT_EQ(r[495], 0x11);
    EXPECT_EQ(r[524], 0x11);
    EXPECT_EQ(RecordOf(image, 2, 200).at(0), c.b200);
    Bytes unit = RecordOf(image, 2, 85);
    EXPECT_EQ(unit[72], c.b72);
    EXPECT_EQ(unit[79], c.b72);
    EXPECT_EQ(unit[80], 0x11);
  }
}

TEST(HeaderCarryOver, ClearsTheOldDataBitOnlyWhenSwitchedOn) {
  for (bool on : {false, true}) {
    OperationState state;
    state.identity = Radio();
    state.carryOver.clearOldDataBit = on;
    Bytes old = Build(Records(*state.identity, 0x77, 0x99, 0xFF, 0x05));
    Bytes image = Build(Records(*state.identity, 0x11, 0x11, 0x11, 0x24));
    CarryOverHeader(state, old, image);
    Bytes r = RecordOf(old, 2, 93);
    EXPECT_EQ(r[15], on ? 0xF7 : 0xFF);
    EXPECT_EQ(r[14], 0xFF);
  }
}

// The head text moves between header group 1 (data versions below 4.05, 8-bit) and the 32
// bytes at 560 of root/1/1 (UTF-16), with the region (4) and mode (5) bytes adjusted.
TEST(HeaderCarryOver, HeadTextBetweenDataVersions) {
  struct Case {
    const char* name;
    std::string model;
    std::string radioVersion;
    std::string target;
    uint32_t airInterface;
    std::string regionOverride;
    std::string expected;  // the head text written
    bool extraCopy;
  } cases[] = {
      {"old to new, region 0 becomes P", kPortableModel, "A4.00.10.000", "A5.00.09.000", 0, "", "ABCDP0GH", false},
      {"new to new keeps the bytes", kPortableModel, "A5.00.01.000", "A5.00.09.000", 0, "", "WXYZ00UV", false},
      {"from 6.00 mode 0 follows the air interface", kPortableModel, "A5.00.01.000", "A6.00.01.000", 1, "",
       "WXYZ0PUV", false},
      {"air interface DMR", kPortableModel, "A5.00.01.000", "A6.00.01.000", 2, "", "WXYZ00UV", false},
      {"override", kPortableModel, "A5.00.01.000", "A5.00.09.000", 0, "T", "WXYZT0UV", false},
      {"old to old stays 8-bit", kPortableModel, "A4.00.10.000", "A4.00.12.000", 0, "", "ABCDP0GH", false},
      {"no target version counts as 4.05", kPortableModel, "A4.00.10.000", "", 0, "", "ABCDP0GH", false},
      {"KW gets a further copy", "KW419-000G0000-M00000-U1-0-F", "A5.00.01.000", "A5.00.09.000", 0, "", "WXYZ00UV",
       true},
      {"KX62 with region T gets a further copy", "KX622-000G0000-M00000-U1-0-F", "A5.00.01.000", "A5.00.09.000", 0,
       "T", "WXYZT0UV", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OperationState state;
    state.identity = Radio(c.model, c.radioVersion);
    state.carryOver.airInterface = c.airInterface;
    state.carryOver.regionOverride = c.regionOverride;
    PackageHeader header;
    header.targetVersion = c.target;
    state.packageHeader = header;
    // Old data: "ABCD00GH" in header group 1, "WXYZ00UV" (UTF-16) at 560 of root/1/1.
    RcdbBuildSpec oldSpec = Records(*state.identity, 0x00, 0x99, 0xFF, 0x05);
    oldSpec.headerGroups[1] = {'A', 'B', 'C', 'D', '0', '0', 'G', 'H'};
    Bytes versioned = Utf8ToUtf16Le("WXYZ00UV");
    std::copy(versioned.begin(), versioned.end(), oldSpec.trees[0].groups[0].data.begin() + 560);
    Bytes old = Build(oldSpec);
    Bytes image = Build(Records(*state.identity, 0x00, 0x11, 0x11, 0x24));

    CarryOverHeader(state, old, image);

    Bytes narrow(16, 0);
    std::copy(c.expected.begin(), c.expected.end(), narrow.begin());
    Bytes wide = Utf8ToUtf16Le(c.expected);
    wide.resize(32, 0);
    const bool newLayout = c.target.empty() || c.target.substr(1, 4) >= "4.05";
    Bytes r = RecordOf(image, 1, 1);
    // The text goes where the new data version keeps it; the further copy to the other place.
    EXPECT_EQ(Bytes(r.begin() + 560, r.begin() + 592), newLayout || c.extraCopy ? wide : Bytes(32, 0));
    EXPECT_EQ(HeaderGroupOf(image, 1), !newLayout || c.extraCopy ? narrow : Bytes(16, 0));
    // The identity texts that share the header block stay as they were.
    EXPECT_EQ(ReadIdentityFromImage(image).identity->softwareVersion, c.radioVersion);
  }
}

}  // namespace
}  // namespace lw
