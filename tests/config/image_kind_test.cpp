#include "config/image_kind.h"

#include <gtest/gtest.h>

namespace lw::kind {
namespace {

struct KindCase {
  const char* name;
  std::string_view kind;
  bool matches;
};

TEST(ImageKind, RecognisesNamesBySubstring) {
  const KindCase cases[] = {
      {"arm_main", kArmMain, true},
      {"arm_main(Rx)", kArmMain, true},  // a base test matches its receive-side variant
      {"arm_main(Rx)", kArmMainRx, true},
      {"arm_main", kArmMainRx, false},
      {"ARM_MAIN", kArmMain, false},      // case-sensitive
      {"gif package", kGifPackage, true},
      {"gif package 2", kGifPackage, true},
      {"pic_gif package", kGifPackage, false},  // must stand at the start
      {" gif package", kGifPackage, false},
      {"pic_gif package", kPicGifPackage, true},
      {"rcdb_data", kCpsData, false},
      {"cps_data", kRcdbData, false},
      {"user_defined", kUserDefinedRx, false},
      {"user_defined(Rx)", kUserDefined, true},
      {"user_defined(Rx)", kUserDefinedRx, true},
      {"english language package", kEnglishLanguage, true},
      {"other language package", kEnglishLanguage, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " / " + std::string(c.kind));
    EXPECT_EQ(IsKind(c.name, c.kind), c.matches);
  }
}

TEST(ImageKind, ReceiveSideSelector) {
  EXPECT_EQ(MemorySelectorOf("dsp_main(Rx)"), 16);
  EXPECT_EQ(MemorySelectorOf("dsp_main"), 0);
  EXPECT_TRUE(IsTxKind("arm_main(Tx)"));
  EXPECT_FALSE(IsRxKind("arm_main(Tx)"));
}

TEST(ImageKind, EveryKindNameIsKnownButNotTheReadSection) {
  for (std::string_view k : kAllKinds) EXPECT_TRUE(IsKnownKind(k)) << k;
  EXPECT_FALSE(IsKnownKind(kReadRcdb));
  EXPECT_FALSE(IsKnownKind("COMM DEFINE"));
}

}  // namespace
}  // namespace lw::kind
