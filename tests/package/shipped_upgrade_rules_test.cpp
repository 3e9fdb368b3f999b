#include <gtest/gtest.h>

#include <string>

#include "config/settings.h"
#include "package/package_files.h"

namespace lw {
namespace {

// The shipped set.ini must find a package for the radios we ship profiles for: the look-up
// folds the model number before comparing, so a rule written unfolded never matches.
TEST(ShippedUpgradeRules, FindAPackageForEveryShippedModelFamily) {
  const std::string dir = std::string(LW_BIN_DIR) + "/";
  ProgramSettings settings;
  ASSERT_TRUE(ReadProgramSettings(dir + "set.ini", settings));
  UpgradeRules rules = ReadUpgradeRules(dir + "set.ini");
  ASSERT_FALSE(rules.files.empty());

  struct Case {
    const char* model;
    const char* file;
  } cases[] = {
      {"KX412-000G0000-M00000-U1-0-F", "KX41_Portable.fud"},
      {"KX418-100G0000-M00000-U1-0-F", "KX41_Portable.fud"},  // characters 4 and 6 fold to 0
      {"KV625-000G0000-M00000-U1-0-F", "KV62_Mobile.fud"},
      {"KQ600-000G0000-M00000-U1-0-F", "KQ60_Repeater.fud"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PackageForModel(c.model, settings, rules.files, dir), dir + "UpgradeFile/" + c.file) << c.model;
  EXPECT_EQ(PackageForModel("KZ999-000G0000-M00000-U1-0-F", settings, rules.files, dir), "");
}

}  // namespace
}  // namespace lw
