#include <gtest/gtest.h>

#include "common/bytes.h"
#include "package/rcdb_builder.h"
#include "package/rcdb_tree.h"

namespace lw {
namespace {

// Two trees: tree 1 holds a plain group 5 of 4 elements and a record array 7 of three records
// (the middle one split into 4 elements); tree 2 holds a plain group 0 without elements.
RcdbBuildSpec TwoTrees(bool wide) {
  RcdbBuildSpec desc;
  desc.wide = wide;
  RcdbBuildGroup plain{5, false, Bytes(40, 0xA5), 4, {}, false};
  RcdbBuildGroup records;
  records.number = 7;
  records.recordArray = true;
  Bytes r1(64);
  for (size_t i = 0; i < r1.size(); ++i) r1[i] = uint8_t(i);
  records.records = {{Bytes(8, 1), 0, false}, {r1, 4, true}, {Bytes(3, 3), 0, false}};
  desc.trees = {{1, {plain, records}, false}, {2, {{0, false, Bytes(10, 9), 0, {}, false}}, true}};
  desc.headerGroups[1] = Bytes(16, 0x01);
  desc.headerGroups[11] = Bytes(32, 0xBB);
  return desc;
}

class RcdbLayouts : public ::testing::TestWithParam<bool> {};

TEST_P(RcdbLayouts, NavigatesTreesGroupsRecordsAndElements) {
  auto image = BuildRcdbImage(TwoTrees(GetParam())).value();
  auto tree = RcdbTree::Open(image).value();
  EXPECT_EQ(tree.wide(), GetParam());
  EXPECT_EQ(tree.NodeCount("root"), 2);
  EXPECT_EQ(tree.NodeCount("root/1"), 2);
  EXPECT_EQ(tree.NodeCount("root/1/5"), 4);
  EXPECT_EQ(tree.NodeCount("root/1/7"), 3);
  EXPECT_EQ(tree.NodeCount("root/1/7/1"), 4);
  EXPECT_EQ(tree.NodeSize("root/1/7/0"), 8);
  EXPECT_EQ(tree.NodeSize("root/1/7/2"), 3);
  EXPECT_EQ(tree.NodeSize("root/1/5/3"), 10);  // 40 bytes over 4 declared elements
  EXPECT_EQ(tree.NodeSize("root/1/7/1/2"), 16);  // a 64-byte record of 4 elements

  auto element = tree.FindNode("root/1/7/1/2").value();
  EXPECT_EQ(element.kind, RcdbNodeKind::Element);
  EXPECT_EQ(image[element.dataOffset], 32);
  auto record = tree.FindNode("root/1/7/1").value();
  EXPECT_TRUE(record.extraTable);
  EXPECT_TRUE(tree.FindNode("root/1/7")->recordArray);
  EXPECT_FALSE(tree.FindNode("root/1/5")->recordArray);
  EXPECT_TRUE(tree.FindNode("root/2")->extraTable);

  // Past the last child, unknown numbers and malformed paths name no node.
  for (const char* path : {"root/1/7/3", "root/1/7/1/4", "root/1/5/4", "root/3", "root/1/6", "root/2/0/0",
                           "root/", "root/1/x", "root//1", "ROOT", "root/8", "root/1/2048", "root/1/7/1/2/0"}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(tree.FindNode(path).has_value());
    EXPECT_EQ(tree.NodeSize(path), -1);
    EXPECT_EQ(tree.NodeCount(path), -1);
    uint8_t* data = nullptr;
    EXPECT_EQ(tree.NodeData(path, &data), kRcdbNoNode);
  }
}

TEST_P(RcdbLayouts, WritesThroughNodeDataChangeTheCallersImage) {
  auto image = BuildRcdbImage(TwoTrees(GetParam())).value();
  auto tree = RcdbTree::Open(image).value();
  uint8_t* data = nullptr;
  ASSERT_EQ(tree.NodeData("root/1/7/0", &data), kRcdbOk);
  data[0] = 0x5A;
  auto bytes = tree.NodeBytes({1, 7, 0, -1});
  ASSERT_EQ(bytes.size(), 8u);
  EXPECT_EQ(bytes[0], 0x5A);
  EXPECT_EQ(bytes.data(), data);
  EXPECT_GE(data, image.data());
  EXPECT_LE(data + 8, image.data() + image.size());
  EXPECT_FALSE(tree.modified());  // only header-group writes mark the tree
}

TEST_P(RcdbLayouts, HeaderGroupsReadAndWriteInPlaceWithElevenOverlappingTen) {
  auto image = BuildRcdbImage(TwoTrees(GetParam())).value();
  auto tree = RcdbTree::Open(image).value();
  Bytes out;
  ASSERT_EQ(tree.GetHeaderGroup(1, &out), kRcdbOk);
  EXPECT_EQ(out, Bytes(16, 0x01));
  ASSERT_EQ(tree.GetHeaderGroup(11, &out), kRcdbOk);
  EXPECT_EQ(out, Bytes(32, 0xBB));

  EXPECT_EQ(tree.SetHeaderGroup(10, Bytes{1, 2, 3, 4}), kRcdbOk);
  EXPECT_TRUE(tree.modified());
  size_t block = GetParam() ? 42 : 40;
  EXPECT_EQ(image[block + 118], 1);
  EXPECT_EQ(image[block + 121], 4);
  ASSERT_EQ(tree.GetHeaderGroup(11, &out), kRcdbOk);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes{1, 2, 3, 4, 0xBB}));

  // Group 0 is the identity block at image offset 6.
  EXPECT_EQ(tree.SetHeaderGroup(0, Bytes(32, 0xEE)), kRcdbOk);
  EXPECT_EQ(image[6], 0xEE);
  EXPECT_EQ(image[37], 0xEE);
  EXPECT_NE(image[38 + (GetParam() ? 4 : 2)], 0xEE);

  EXPECT_EQ(tree.GetHeaderGroup(12, &out), kRcdbNoNode);
  EXPECT_EQ(tree.SetHeaderGroup(-1, Bytes(4)), kRcdbNoNode);
  EXPECT_EQ(tree.SetHeaderGroup(8, Bytes(5)), kRcdbNoNode);  // group 8 is 6 bytes
}

TEST_P(RcdbLayouts, TotalLengthAddsTheHeaderAndTreesOneAndTwo) {
  auto image = BuildRcdbImage(TwoTrees(GetParam())).value();
  auto tree = RcdbTree::Open(image).value();
  EXPECT_EQ(tree.TotalLength(), 38 + 154 + 4 + tree.NodeSize("root/1") + tree.NodeSize("root/2"));

  // A missing tree adds nothing (rather than its -1 "not found").
  RcdbBuildSpec one = TwoTrees(GetParam());
  one.trees.pop_back();
  one.headerBlockLength = 150;
  auto image1 = BuildRcdbImage(one).value();
  auto tree1 = RcdbTree::Open(image1).value();
  EXPECT_EQ(tree1.TotalLength(), 38 + 150 + 4 + tree1.NodeSize("root/1"));
}

TEST_P(RcdbLayouts, WalkListsEveryNodeWithItsPath) {
  auto image = BuildRcdbImage(TwoTrees(GetParam())).value();
  auto tree = RcdbTree::Open(image).value();
  std::vector<std::string> paths;
  for (const auto& e : tree.Walk())
    paths.push_back(MakePath(e.path.tree, e.path.group, e.path.index, e.path.element).value());
  std::vector<std::string> expected = {"root", "root/1", "root/1/5", "root/1/5/0", "root/1/5/1", "root/1/5/2",
                                       "root/1/5/3", "root/1/7", "root/1/7/0", "root/1/7/1", "root/1/7/1/0",
                                       "root/1/7/1/1", "root/1/7/1/2", "root/1/7/1/3", "root/1/7/2", "root/2",
                                       "root/2/0"};
  EXPECT_EQ(paths, expected);
}

INSTANTIATE_TEST_SUITE_P(NarrowAndWide, RcdbLayouts, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Wide" : "Narrow"; });

TEST(RcdbTree, NarrowImageWithTwoTreesFromTheFlagsWord) {
  auto image = BuildRcdbImage(TwoTrees(false)).value();
  EXPECT_EQ(Le16(image.data()) & 0x10F, 0x0004);  // two trees, no extra table, narrow
  EXPECT_TRUE(IsRcdbImage(image));
}

TEST(RcdbTree, FindTakesTheFirstTreeAndGroupWithTheNumber) {
  RcdbBuildSpec desc;
  desc.trees = {{4, {{9, false, Bytes{1}, 0, {}, false}, {9, false, Bytes{2, 2}, 0, {}, false}}, false},
                {4, {{9, false, Bytes(3), 0, {}, false}}, false}};
  auto image = BuildRcdbImage(desc).value();
  auto tree = RcdbTree::Open(image).value();
  EXPECT_EQ(tree.NodeCount("root"), 2);
  EXPECT_EQ(tree.NodeCount("root/4"), 2);
  EXPECT_EQ(tree.NodeSize("root/4/9"), 1);
}

TEST(RcdbTree, ElementsOfAParentDeclaringNoCountAreEmpty) {
  auto image = BuildRcdbImage(TwoTrees(false)).value();
  auto tree = RcdbTree::Open(image).value();
  auto group = tree.FindNode("root/1/5").value();
  // Clear the declared count (bits 16-26 of word0) but keep the table's count of 4.
  image[group.offset + 2] = 0;
  image[group.offset + 3] &= 0xF8;
  auto reopened = RcdbTree::Open(image).value();
  EXPECT_EQ(reopened.NodeCount("root/1/5"), 4);
  EXPECT_EQ(reopened.NodeSize("root/1/5/0"), 0);
}

TEST(RcdbPaths, MakePathNamesAndLimits) {
  struct Case {
    int t, g, i, e;
    const char* path;  // nullptr = refused
  } cases[] = {
      {3, 91, 2, -1, "root/3/91/2"}, {-1, -1, -1, -1, "root"},   {3, -1, 5, 5, "root/3"},
      {-1, 4, 4, 4, "root"},         {3, 91, -1, 2, "root/3/91/2"}, {7, 2047, 2047, 2047, "root/7/2047/2047/2047"},
      {0, 0, 0, 0, "root/0/0/0/0"},   {8, 1, -1, -1, nullptr},    {1, 2048, -1, -1, nullptr},
      {-2, -1, -1, -1, nullptr},      {1, 1, -2, -1, nullptr},    {1, 1, 1, 2048, nullptr},
  };
  for (const auto& c : cases) {
    auto path = MakePath(c.t, c.g, c.i, c.e);
    SCOPED_TRACE(c.path ? c.path : "refused");
    if (!c.path) {
      EXPECT_FALSE(path.has_value());
      continue;
    }
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(*path, c.path);
    EXPECT_EQ(MakePath(ParsePath(*path)->tree, ParsePath(*path)->group, ParsePath(*path)->index,
                       ParsePath(*path)->element),
              *path);
  }
}

}  // namespace
}  // namespace lw
