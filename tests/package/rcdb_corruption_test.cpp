// Corrupt RCDB images: every offset, count and size Open follows is checked against the image
// length, so a bad image fails to open (with a reason) instead of reading outside the buffer.
#include <gtest/gtest.h>

#include <random>

#include "common/bytes.h"
#include "package/rcdb_builder.h"
#include "package/rcdb_tree.h"

namespace lw {
namespace {

RcdbBuildSpec Sample(bool wide) {
  RcdbBuildSpec desc;
  desc.wide = wide;
  RcdbBuildGroup records;
  records.number = 91;
  records.recordArray = true;
  records.records = {{Bytes(16, 1), 2, false}, {Bytes(24, 2), 3, true}};
  desc.trees = {{1, {{1, false, Bytes(40, 7), 4, {}, true}, records}, false}, {2, {}, false}};
  return desc;
}

// Every node a successful Open reports must lie inside the image.
void ExpectNodesInside(const RcdbTree& tree, size_t length) {
  for (const auto& e : tree.Walk()) {
    ASSERT_LE(e.info.dataOffset, length);
    ASSERT_LE(e.info.size, length - e.info.dataOffset);
  }
}

TEST(RcdbCorruption, EveryTruncationFailsToOpen) {
  for (bool wide : {false, true}) {
    Bytes image = BuildRcdbImage(Sample(wide)).value();
    ASSERT_TRUE(RcdbTree::Open(image).ok());
    for (size_t len = 0; len < image.size(); ++len) {
      Bytes cut(image.begin(), image.begin() + long(len));
      const Status status = RcdbTree::Open(cut).status();
      EXPECT_FALSE(status.ok()) << "length " << len;
      EXPECT_FALSE(status.message().empty());
    }
  }
}

TEST(RcdbCorruption, OutOfRangeFieldsFailTheOpenWithAReason) {
  Bytes good = BuildRcdbImage(Sample(false)).value();
  auto tree = RcdbTree::Open(good).value();
  auto t1 = tree.FindNode("root/1").value();
  auto g1 = tree.FindNode("root/1/1").value();
  auto g91 = tree.FindNode("root/1/91").value();
  auto r0 = tree.FindNode("root/1/91/0").value();
  size_t rootTable = Le16(good.data() + 194);

  struct Case {
    const char* name;
    size_t at;
    uint16_t value;
    const char* reason;
  } cases[] = {
      {"root data size", 38, 0xFFFF, "root data size"},
      {"root table offset", 194, 0xFFF0, "child table"},
      {"tree offset", rootTable + 1, 0xFFF0, "node header"},
      {"tree size", t1.offset + 12, 0xFFFF, "node size"},
      {"tree table offset", t1.offset + 14, 0xFFFF, "child table"},
      {"tree group count", t1.offset + 2, 0x07FF, "child table"},
      {"group element count", g1.offset + 4, 0x07FF, "child table"},
      {"element offset", g1.childTableOffset + 2, 0xFFF0, "element"},
      {"record count", g91.offset + 4, 0x0700, "child table"},
      {"record offset", g91.childTableOffset + 6, 0xFFF0, "node header"},
      {"record size", r0.offset + 6, 0xFFFF, "node size"},
      {"record element count", r0.offset + 4, 0x0400, "child table"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes image = good;
    PutLe16(image.data() + c.at, c.value);
    const Status status = RcdbTree::Open(image).status();
    EXPECT_FALSE(status.ok());
    EXPECT_NE(status.message().find(c.reason), std::string::npos) << status.message();
  }
}

TEST(RcdbCorruption, SharedTablesCannotMultiplyNodesBeyondTheImage) {
  // One tree whose 2047 group entries all point at one record array, whose 2047 record
  // entries all point at one record of 2047 elements: 24 KB that would unfold into 8.5
  // billion nodes.
  Bytes image(196, 0);
  PutLe16(image.data(), 0x0012);  // one tree, identifiable nibble
  std::copy_n("RCDB", 4, image.begin() + 2);
  auto appendTable = [&image](size_t count) {
    for (size_t i = 0; i < count; ++i) AppendLe32(image, 0);  // 2 lead bytes + offset 0
  };
  size_t tree = image.size();
  image.resize(tree + 16, 0);
  PutLe32(image.data() + tree, 0x07FF0000 | (1 << 5));
  size_t group = image.size();  // the tree's data area starts here
  image.resize(group + 18, 0);
  PutLe32(image.data() + group, 0x80000000u | 3);
  PutLe32(image.data() + group + 4, 0x7FF);
  size_t record = image.size();
  image.resize(record + 10, 0);
  PutLe32(image.data() + record, 0x07FF0000);
  PutLe16(image.data() + record + 4, 0x7FF);
  size_t recordTable = image.size();
  appendTable(2047);
  size_t groupTable = image.size();
  appendTable(2047);
  size_t treeTable = image.size();
  appendTable(2047);
  size_t rootTable = image.size();
  image.insert(image.end(), {1, 0, 0});
  PutLe16(image.data() + record + 8, uint16_t(recordTable - record));
  PutLe16(image.data() + group + 16, uint16_t(groupTable - group));
  PutLe16(image.data() + tree + 14, uint16_t(treeTable - tree));
  PutLe16(image.data() + tree + 12, uint16_t(image.size() - (tree + 16)));
  PutLe16(image.data() + group + 14, uint16_t(image.size() - (group + 18)));
  PutLe16(image.data() + 194, uint16_t(rootTable));
  PutLe16(image.data() + 38, uint16_t(image.size() - 196));

  const Status status = RcdbTree::Open(image).status();
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find("more nodes than the image can hold"), std::string::npos) << status.message();
}

TEST(RcdbCorruption, ZeroFilledImagesOpenEmptyOrFailButNeverReadOutside) {
  for (size_t len : {0, 3, 4, 195, 196, 199, 200, 4096}) {
    Bytes image(len, 0);
    auto tree = RcdbTree::Open(image);
    EXPECT_EQ(tree.ok(), len >= 196) << len;
    if (tree) {
      EXPECT_EQ(tree->NodeCount("root"), 0);
      EXPECT_FALSE(IsRcdbImage(image));
    }
  }
}

TEST(RcdbCorruption, RandomBitFlipsNeverCrash) {
  std::mt19937 rng(20240611);
  for (bool wide : {false, true}) {
    Bytes good = BuildRcdbImage(Sample(wide)).value();
    int opened = 0;
    for (int round = 0; round < 3000; ++round) {
      Bytes image = good;
      int flips = 1 + int(rng() % 4);
      for (int f = 0; f < flips; ++f) image[rng() % image.size()] ^= uint8_t(1u << (rng() % 8));
      auto tree = RcdbTree::Open(image);
      if (!tree) continue;
      ++opened;
      ExpectNodesInside(*tree, image.size());
      Bytes group;
      for (int g = 0; g < kRcdbHeaderGroups; ++g) tree->GetHeaderGroup(g, &group);
      tree->TotalLength();
    }
    EXPECT_GT(opened, 0);  // flips in data bytes leave the image sound
  }
}

}  // namespace
}  // namespace lw
