// The conversion library as the program uses it: the component check, loading the built
// conversion.so, converting old RCDB data into a new image, and the check of the result.
#include "engine/conversion_interface.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "common/codes.h"
#include "engine/component_check.h"
#include "engine/data_validation.h"
#include "engine/md5.h"
#include "package/rcdb_builder.h"
#include "package/rcdb_records.h"
#include "package/rcdb_tree.h"
#include "support/temp_dir.h"

namespace lw {
namespace {

const std::string kBinDir = LW_BIN_DIR;

RcdbBuildGroup Plain(int number, Bytes data, int elements = 0) {
  RcdbBuildGroup g;
  g.number = number;
  g.data = std::move(data);
  g.elements = elements;
  return g;
}

RcdbBuildGroup Records(int number, std::vector<Bytes> records, int elements) {
  RcdbBuildGroup g;
  g.number = number;
  g.recordArray = true;
  for (auto& r : records) g.records.push_back({std::move(r), elements, false});
  return g;
}

Bytes Fill(size_t n, uint8_t first, uint8_t step = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(first + i * step);
  return b;
}

RadioIdentity Identity(const std::string& version) {
  RadioIdentity id;
  id.modelNumber = "KX412-000G0000-M00000-U1-0-F";
  id.serialNumber = "SN0001";
  id.softwareVersion = version;
  return id;
}

// The radio's data: channel-like records of 16 bytes in four 4-byte elements, a 600-byte
// settings group whose header-text area (560..591) differs from the new image's, and units the
// new layout no longer has.
Bytes OldImage(bool wide = false) {
  RcdbBuildSpec desc;
  desc.wide = wide;
  desc.identity = Identity("A4.05.10.001");
  Bytes settings(600, 0x11);
  std::fill(settings.begin() + 560, settings.begin() + 592, uint8_t('O'));
  desc.trees = {
      {1, {Plain(1, settings), Plain(5, Fill(8, 0x50), 2)}},
      {2, {Records(10, {Fill(16, 0x00), Fill(16, 0x20), Fill(16, 0x40)}, 4), Plain(20, Fill(32, 0x90))}},
      {4, {Plain(7, Fill(10, 0xC0))}},
  };
  auto image = BuildRcdbImage(desc);
  EXPECT_TRUE(image.ok()) << image.status().message();
  return std::move(image).value_or(Bytes{});
}

// The new firmware's image: elements grew from 4 to 6 bytes, one record fewer, a new group.
Bytes NewImage(bool wide = false) {
  RcdbBuildSpec desc;
  desc.wide = wide;
  desc.identity = Identity("A5.00.01.002");
  Bytes settings(600, 0xAA);
  std::fill(settings.begin() + 560, settings.begin() + 592, uint8_t('N'));
  desc.trees = {
      {1, {Plain(1, settings), Plain(5, Bytes(12, 0xEE), 2)}},
      {2, {Records(10, {Bytes(24, 0xEE), Bytes(24, 0xEE)}, 4), Plain(30, Bytes(16, 0xEE))}},
  };
  auto image = BuildRcdbImage(desc);
  EXPECT_TRUE(image.ok()) << image.status().message();
  return std::move(image).value_or(Bytes{});
}

Bytes Node(const Bytes& image, RcdbPath path) {
  Bytes copy = image;
  auto tree = RcdbTree::Open(copy);
  if (!tree) return {};
  auto bytes = tree->NodeBytes(path);
  return Bytes(bytes.begin(), bytes.end());
}

class ConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(library_.Load(kBinDir, BuiltConversionDigest()), kOk) << library_.error();
  }
  ConversionLibrary library_;
};

TEST_F(ConversionTest, OldRecordsMoveIntoTheNewLayout) {
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "wide" : "narrow");
    const Bytes old = OldImage(wide);
    const Bytes fresh = NewImage(wide);
    Bytes image = fresh;
    ASSERT_EQ(ConvertAndValidate(library_, image, old), kOk);
    ASSERT_EQ(image.size(), fresh.size());

    // Settings: the radio's bytes, except the header-text area written before the conversion.
    const Bytes settings = Node(image, {1, 1});
    ASSERT_EQ(settings.size(), 600u);
    EXPECT_EQ(settings[0], 0x11);
    EXPECT_EQ(settings[559], 0x11);
    EXPECT_EQ(settings[560], 'N');
    EXPECT_EQ(settings[591], 'N');
    EXPECT_EQ(settings[592], 0x11);

    // Grown elements: each keeps its old bytes at its start, the rest the new defaults.
    EXPECT_EQ(Node(image, {1, 5, 0}), (Bytes{0x50, 0x51, 0x52, 0x53, 0xEE, 0xEE}));
    EXPECT_EQ(Node(image, {1, 5, 1}), (Bytes{0x54, 0x55, 0x56, 0x57, 0xEE, 0xEE}));
    EXPECT_EQ(Node(image, {2, 10, 1, 3}), (Bytes{0x2C, 0x2D, 0x2E, 0x2F, 0xEE, 0xEE}));
    // The new group the old data lack keeps its defaults.
    EXPECT_EQ(Node(image, {2, 30}), Bytes(16, 0xEE));

    // The header (identity, version) stays the new image's; only the seal is new.
    const size_t headerEnd = RcdbRootDataOffset(wide);
    const size_t seal = RcdbHeaderBlockOffset(wide) + kSealOffsetInHeaderBlock;
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + long(seal), fresh.begin()));
    EXPECT_TRUE(std::equal(image.begin() + long(seal + kSealSize), image.begin() + long(headerEnd),
                           fresh.begin() + long(seal + kSealSize)));
  }
}

TEST_F(ConversionTest, LongerOldUnitsAreCut) {
  // Converting the other way round: elements shrink from 6 to 4 bytes, one more record.
  Bytes image = OldImage();
  Bytes source = NewImage();
  {
    auto tree = RcdbTree::Open(source);
    ASSERT_TRUE(tree.ok());
    auto element = tree->NodeBytes({2, 10, 0, 0});
    std::copy_n(Fill(6, 0x70).begin(), 6, element.begin());
  }
  ASSERT_EQ(ConvertAndValidate(library_, image, source), kOk);
  EXPECT_EQ(Node(image, {2, 10, 0, 0}), (Bytes{0x70, 0x71, 0x72, 0x73}));
  EXPECT_EQ(Node(image, {2, 10, 2}), Fill(16, 0x40)) << "a record the old data lack keeps its bytes";
  EXPECT_EQ(Node(image, {4, 7}), Fill(10, 0xC0));
}

TEST_F(ConversionTest, DataThatAreNotRcdbAreRefusedAndLeftAlone) {
  const Bytes good = OldImage();
  Bytes notRcdb(4096, 0x5A);
  Bytes damaged = good;
  damaged[2] = 'X';  // "RCDB" text gone
  Bytes cut(good.begin(), good.begin() + 300);  // tree offsets point past the end

  for (const Bytes* source : {&notRcdb, &damaged, &cut}) {
    Bytes image = NewImage();
    const Bytes before = image;
    EXPECT_EQ(ConvertAndValidate(library_, image, *source), kConversionFailed);
    EXPECT_EQ(image, before);
  }
  Bytes target = notRcdb;
  EXPECT_EQ(library_.Convert(target, good), kConversionFailed);
  EXPECT_EQ(target, notRcdb);
  EXPECT_EQ(library_.Convert({}, good), kConversionFailed);
}

TEST(DataValidationTest, AcceptsSealedDataAndRejectsTheRest) {
  Bytes sealed = NewImage();
  ASSERT_TRUE(SealRcdbData(sealed));
  EXPECT_TRUE(ValidateConvertedData(sealed).ok());

  struct Case {
    const char* what;
    std::function<void(Bytes&)> change;
    bool passes;
  };
  const Case cases[] = {
      {"record contents changed after the check", [](Bytes& b) {
         auto t = RcdbTree::Open(b);
         t->NodeBytes({2, 30})[0] ^= 0xFF;
       }, true},
      {"never sealed", [](Bytes& b) { b = NewImage(); }, false},
      {"model number in the header changed", [](Bytes& b) { b[kImageModelAt] ^= 1; }, false},
      {"seal changed", [](Bytes& b) { b[RcdbHeaderBlockOffset(false) + kSealOffsetInHeaderBlock] ^= 1; }, false},
      {"layout changed (a size field)", [](Bytes& b) {
         auto t = RcdbTree::Open(b);
         auto info = t->FindNode(RcdbPath{2, 30});
         PutLe16(b.data() + info->offset + 14, 8);  // size field of the plain group
       }, false},
      {"cut short", [](Bytes& b) { b.resize(b.size() / 2); }, false},
      {"not RCDB data", [](Bytes& b) { b.assign(b.size(), 0); }, false},
  };
  for (const auto& c : cases) {
    Bytes data = sealed;
    c.change(data);
    const Status valid = ValidateConvertedData(data);
    EXPECT_EQ(valid.ok(), c.passes) << c.what << ": " << valid.message();
  }
  Bytes notRcdb(100, 0);
  EXPECT_FALSE(SealRcdbData(notRcdb));
  EXPECT_EQ(notRcdb, Bytes(100, 0));
}

TEST(ComponentCheckTest, TheBuiltLibraryMatchesTheEmbeddedDigest) {
  const auto digest = FileDigestText(ConversionLibraryPath(kBinDir));
  ASSERT_TRUE(digest.has_value()) << "conversion.so missing from " << kBinDir;
  EXPECT_EQ(*digest, BuiltConversionDigest());
  EXPECT_EQ(CheckConversionComponent(kBinDir, BuiltConversionDigest()), kOk);
}

TEST(ComponentCheckTest, ChangedMissingOrUnreadableLibrariesFail) {
  test::TempDir dir;
  const std::string copy = ConversionLibraryPath(dir.path());
  std::filesystem::copy_file(ConversionLibraryPath(kBinDir), copy);
  const std::string digest(BuiltConversionDigest());
  EXPECT_EQ(CheckConversionComponent(dir.path(), digest), kOk);
  EXPECT_EQ(CheckConversionComponent(dir.path(), ""), kComponentCheckFailed);
  {
    ConversionLibrary library;  // a copy with the right digest loads from anywhere
    EXPECT_EQ(library.Load(dir.path(), digest), kOk) << library.error();
    EXPECT_TRUE(library.loaded());
  }

  Bytes bytes = test::ReadFileBytes(copy);
  bytes[bytes.size() / 2] ^= 0x01;
  dir.Write(kConversionLibraryName, bytes);
  EXPECT_EQ(CheckConversionComponent(dir.path(), digest), kComponentCheckFailed);
  ConversionLibrary altered;
  EXPECT_EQ(altered.Load(dir.path(), digest), kComponentCheckFailed);
  EXPECT_FALSE(altered.loaded());
  Bytes image = NewImage();
  EXPECT_EQ(altered.Convert(image, OldImage()), kConversionFailed) << "nothing loaded, nothing converted";

  std::filesystem::remove(copy);
  EXPECT_EQ(CheckConversionComponent(dir.path(), digest), kComponentCheckFailed);
  std::filesystem::create_directory(copy);  // a folder in its place cannot be read
  EXPECT_EQ(CheckConversionComponent(dir.path(), digest), kComponentCheckFailed);
  EXPECT_EQ(altered.Load(dir.path(), digest), kComponentCheckFailed);
}

// Files with the right digest that are no conversion library are not taken either.
TEST(ComponentCheckTest, FilesThatAreNoConversionLibraryFail) {
  test::TempDir dir;
  const Bytes notALibrary = {0x7F, 'E', 'L', 'F', 0, 0};
  dir.Write(kConversionLibraryName, notALibrary);
  ConversionLibrary library;
  EXPECT_EQ(library.Load(dir.path(), Md5Hex(Md5Of(notALibrary))), kComponentCheckFailed);
  EXPECT_FALSE(library.error().empty());

  const std::string otherLibrary = "/lib/x86_64-linux-gnu/libm.so.6";
  if (!std::filesystem::exists(otherLibrary)) GTEST_SKIP() << "no " << otherLibrary;
  const Bytes bytes = test::ReadFileBytes(otherLibrary);
  dir.Write(kConversionLibraryName, bytes);
  EXPECT_EQ(library.Load(dir.path(), Md5Hex(Md5Of(bytes))), kComponentCheckFailed);
  EXPECT_NE(library.error().find(kConversionEntryPoint), std::string::npos) << library.error();
}

}  // namespace
}  // namespace lw
