#include <gtest/gtest.h>

#include "package/fud_manifest.h"
#include "package/fud_reader.h"
#include "package/rcdb_manifest.h"
#include "package/rcdb_tree.h"
#include "support/temp_dir.h"

namespace lw {
namespace {

using test::TempDir;

const char* kFudManifest = R"(// a comment
[package]
producerVersion = V7.06.01.003
targetVersion = A5.00.09.000
keepCpsData = 0x1
forRepeater = 1
[versionList]
record = A5.00.07.000
[modelList]
record = <All Version> KQ60X-000G0000-M00000-U1-0-F
[tunerList]
record = <All Version>  <Address=256> <Length=64> <LowHigh=0>
[entry]
kindName = english language package
source = img/en.bin
origin = 0x600000
[entry]
kindName = cps_data
externFlag = 1
extendName = V1
dataLength = 77
)";

TEST(FudManifest, BuildsThePackageItDescribes) {
  TempDir dir;
  dir.Write("img/en.bin", {9, 8, 7});
  auto desc = ReadFudManifest(dir.WriteText("m.ini", kFudManifest));
  ASSERT_TRUE(desc.ok()) << desc.status().message();
  const Status written = WritePackage(*desc, dir.File("out.fud"));
  ASSERT_TRUE(written.ok()) << written.message();
  PackageFile p = ReadPackage(dir.File("out.fud"));
  ASSERT_TRUE(p.ok()) << p.error;
  EXPECT_EQ(p.header.producerVersion, "V7.06.01.003");
  EXPECT_EQ(p.header.keepCpsData, 1u);
  EXPECT_EQ(p.header.forRepeater, 1u);
  EXPECT_EQ(p.versionRecords, std::vector<std::string>{"A5.00.07.000"});
  EXPECT_EQ(p.tunerRecords, std::vector<std::string>{"<All Version>  <Address=256> <Length=64> <LowHigh=0>"});
  ASSERT_EQ(p.entries.size(), 2u);
  EXPECT_EQ(p.entries[0], (DirectoryEntry{"english language package", "en.bin", 3, 0x600000, 0, 0, ""}));
  EXPECT_EQ(p.entries[1], (DirectoryEntry{"cps_data", "", 77, 0, 0, 1, "V1"}));
  EXPECT_EQ(p.fileSize, p.dataStart + 3);
}

TEST(FudManifest, FaultsNameTheirPlace) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"[package]\nkeepCpsData = yes\n", "keepCpsData"},
      {"[package]\nsize = 1\n", "unknown key size"},
      {"[entries]\n", "unknown section [entries]"},
      {"[entry]\nkindName = arm_main\n", "has no source"},
      {"[entry]\nkindName = arm_main\nsource = none.bin\n", "cannot read source"},
      {"[entry]\nsource = a.bin\n", "no kindName"},
      {"[modelList]\nmodel = x\n", "expects record"},
      {"[package]\nforOther = 4294967296\n", "not a number"},
      {"producerVersion = V1\n", "outside a section"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    const Status status = ReadFudManifest(dir.WriteText("bad.ini", c.text)).status();
    EXPECT_FALSE(status.ok()) << c.text;
    EXPECT_NE(status.message().find(c.message), std::string::npos) << status.message();
  }
  const Status missing = ReadFudManifest(dir.File("missing.ini")).status();
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.message().find("cannot read manifest"), std::string::npos);
}

TEST(RcdbManifest, BuildsTreesGroupsAndRecords) {
  TempDir dir;
  dir.Write("blob.bin", {0xDE, 0xAD});
  auto desc = ReadRcdbManifest(dir.WriteText("r.ini", R"([image]
layout = wide
model = KX412-000G0000-M00000-U1-0-F
restrictionCode = -1
header.10 = hex:01 02 03 04
[tree 1]
extraTable = 1
[group 1/7]
data = hex:00 11
data = file:blob.bin
data = text:AB
size = 8
elements = 2
[tree 3]
[records 3/91]
[record 3/91/0]
data = fill:4:0x30
[record 3/91/1]
data = fill:0x10:255
elements = 4
)"));
  ASSERT_TRUE(desc.ok()) << desc.status().message();
  auto image = BuildRcdbImage(*desc);
  ASSERT_TRUE(image.ok()) << image.status().message();
  auto tree = RcdbTree::Open(*image).value();
  EXPECT_TRUE(tree.wide());
  EXPECT_TRUE(tree.FindNode("root/1")->extraTable);
  auto bytes = tree.NodeBytes({1, 7});
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()),
            (std::vector<uint8_t>{0x00, 0x11, 0xDE, 0xAD, 'A', 'B', 0, 0}));
  EXPECT_EQ(tree.NodeSize("root/1/7/1"), 4);
  EXPECT_EQ(tree.NodeSize("root/3/91/1/3"), 4);
  std::vector<uint8_t> group;
  tree.GetHeaderGroup(10, &group);
  EXPECT_EQ(group, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(desc->identity->restrictionCode, -1);
}

TEST(RcdbManifest, FaultsNameTheirPlace) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"[tree 8]\n", "tree number"},
      {"[record 3/91/0]\n", "must follow"},
      {"[records 3/91]\n[record 3/91/1]\n", "numbered from 0"},
      {"[group 1/1]\ndata = 00 11\n", "hex:, fill:, text: or file:"},
      {"[group 1/1]\ndata = hex:0\n", "odd number"},
      {"[group 1/1]\ndata = file:none.bin\n", "cannot read"},
      {"[image]\nlayout = tall\n", "narrow or wide"},
      {"[image]\nheader.12 = hex:00\n", "header groups"},
      {"[records 3/91]\n[tree 5]\n[record 3/91/0]\n", "must follow"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    const Status status = ReadRcdbManifest(dir.WriteText("bad.ini", c.text)).status();
    EXPECT_FALSE(status.ok()) << c.text;
    EXPECT_NE(status.message().find(c.message), std::string::npos) << c.text << ": " << status.message();
  }
}

TEST(RcdbBuilder, NarrowImagesRefuseOffsetsBeyond16Bits) {
  RcdbBuildSpec desc;
  desc.trees = {{1, {{1, false, std::vector<uint8_t>(70000, 0), 0, {}, false}}, false}};
  const Status narrow = BuildRcdbImage(desc).status();
  EXPECT_FALSE(narrow.ok());
  EXPECT_NE(narrow.message().find("narrow"), std::string::npos);
  desc.wide = true;
  auto image = BuildRcdbImage(desc);
  ASSERT_TRUE(image.ok()) << image.status().message();
  EXPECT_EQ(RcdbTree::Open(*image)->NodeSize("root/1/1"), 70000);
}

}  // namespace
}  // namespace lw
