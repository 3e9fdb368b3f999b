#include <gtest/gtest.h>

#include "common/bytes.h"
#include "common/text.h"
#include "package/package_files.h"
#include "support/temp_dir.h"

namespace lw {
namespace {

TEST(ExternFiles, PathFromTheKindsFileNameAndExtendName) {
  ProgramSettings s;
  s.cpsDataFile = "cps.bin";
  s.armMainFile = "arm.main.bin";
  s.armMainRxFile = "UpgradeFile\\rx.bin";
  EXPECT_EQ(ExternFilePath("/pk/a.fud", "cps_data", "V1", s), "/pk/cps[V1].bin");
  EXPECT_EQ(ExternFilePath("/pk/a.fud", "arm_main", "2", s), "/pk/arm[2].main[2].bin");
  EXPECT_EQ(ExternFilePath("C:\\pk\\a.fud", "arm_main(Rx)", "R", s), "C:/pk/UpgradeFile/rx[R].bin");
  EXPECT_EQ(ExternFilePath("a.fud", "cps_data", "", s), "./cps[].bin");
  EXPECT_EQ(ExternFilePath("/pk/a.fud", "user_defined", "V1", s), "/pk/");  // no file name for the kind
}

TEST(ExternFiles, FirstMissingInDirectoryOrder) {
  test::TempDir dir;
  ProgramSettings s;
  s.cpsDataFile = "cps.bin";
  s.dspMainFile = "dsp.bin";
  std::string package = dir.Write("p.fud", {1});
  std::vector<DirectoryEntry> entries = {{"arm_main", "", 1, 0, 0, 0, ""},
                                         {"cps_data", "", 1, 0, 0, 1, "V1"},
                                         {"dsp_main", "", 1, 0, 0, 1, "V2"}};
  EXPECT_EQ(FindMissingExternFile(package, entries, s), dir.path() + "/cps[V1].bin");
  dir.Write("cps[V1].bin", {1});
  EXPECT_EQ(FindMissingExternFile(package, entries, s), dir.path() + "/dsp[V2].bin");
  dir.Write("dsp[V2].bin", {1});
  EXPECT_EQ(FindMissingExternFile(package, entries, s), "");
  // An extern entry of a kind without a file name is never found (its path is the folder).
  entries.push_back({"user_defined", "", 1, 0, 0, 1, "V3"});
  EXPECT_EQ(FindMissingExternFile(package, entries, s), dir.path() + "/");
}

TEST(PackageForModel, AdjustsTheModelNumberBeforeMatchingRules) {
  ProgramSettings s;
  s.digitalType = "PDT DMR";
  s.encryptLen = "256";
  struct Case {
    const char* digital;
    const char* encrypt;
    const char* model;
    const char* adjusted;
  } cases[] = {
      {"PDT", "256", "KX412-T00G0000-M00000-U1-0-F", "KX410-000G0000-M00000-U1-0-F"},
      {"DMR", "256", "KX412-000G0000-M00000-U1-0-F", "KX410-000G00P0-M00000-U1-0-F"},
      {"DMR", "256", "KX412-000G00A0-M00000-U1-0-F", "KX410-000G00A0-M00000-U1-0-F"},
      {"PDT", "40", "KX412-000G0000-M01000-U1-0-F", "KX410-000G0000-M00000-U1-0-F"},
      {"PDT", "Forbidden", "KX412-000G0000-M02000-U1-0-F", "KX410-000G0000-M00000-U1-0-F"},
      {"PDT", "Forbiden", "KX412-000G0000-M02000-U1-0-F", "KX410-000G0000-M02000-U1-0-F"},
      {"DMR", "256", "KW415-T00G00P0-M00000-U1-0-F", "KX410-000G0000-M00000-U1-0-F"},
      {"DMR", "40", "KX41", "KX41"},
  };
  for (const auto& c : cases) {
    s.digitalType = c.digital;
    s.encryptLen = c.encrypt;
    EXPECT_EQ(AdjustModelForRules(c.model, s), c.adjusted) << c.model;
  }
  s.digitalType = "PDT";
  s.encryptLen = "256";
  std::vector<UpgradeRule> rules = {{"Portable", "KX410-000G0000-M00000-U1-0-F", "first.fud"},
                                    {"Portable", "KX410-000G0000-M00000-U1-0-F", "second.fud"}};
  EXPECT_EQ(PackageForModel("KX418-000G0000-M00000-U1-0-F", s, rules, "/opt/lw/"), "/opt/lw/UpgradeFile/first.fud");
  EXPECT_EQ(PackageForModel("KV418-000G0000-M00000-U1-0-F", s, rules, "/opt/lw/"), "");
  EXPECT_EQ(PackageForModel("KX418-000G0000-M00000-U1-0-F", s, {}, "/opt/lw/"), "");
}

TEST(PictureHeader, LayoutKindAndVersionCode) {
  auto header = [](uint32_t layout, const std::string& version) {
    Bytes b(104, 0);
    PutLe32(b.data() + 12, layout);
    Bytes wide = Utf8ToUtf16Le(version);
    std::copy_n(wide.begin(), std::min<size_t>(wide.size(), 32), b.begin() + 32);
    return b;
  };
  struct Case {
    uint32_t layout;
    const char* version;
    int kind, code;
    bool valid;
  } cases[] = {
      {0, "4.00", 0, 40, true},        {3, "V4.05abc", 0, 45, true}, {1, "5.00", 1, 50, true},
      {2, "v9.99", 2, 50, true},        {4, "4.00", -1, 40, false},   {1, "4.10", 1, -1, false},
      {1, "", 1, -1, false},            {0, "A4.0", 0, -1, false},    {0, "x5.00.01", 0, 50, true},
  };
  for (const auto& c : cases) {
    PictureHeader h = PictureHeaderInfo(header(c.layout, c.version));
    EXPECT_EQ(h.layoutKind, c.kind) << c.version;
    EXPECT_EQ(h.versionCode, c.code) << c.version;
    EXPECT_EQ(h.valid, c.valid) << c.version;
  }
  EXPECT_FALSE(PictureHeaderInfo(Bytes(103, 0)).valid);
  // Seventeen characters: the text ends at 16, the field's width.
  Bytes wide16 = header(1, "5.000000000000000");
  EXPECT_EQ(PictureHeaderInfo(wide16).versionCode, 50);

  test::TempDir dir;
  EXPECT_EQ(PictureHeaderInfoFromFile(dir.Write("pic.bin", header(2, "4.05"))).versionCode, 45);
  EXPECT_FALSE(PictureHeaderInfoFromFile(dir.Write("short.bin", Bytes(50, 0))).valid);
  EXPECT_FALSE(PictureHeaderInfoFromFile(dir.File("none.bin")).valid);
}

}  // namespace
}  // namespace lw
