#include <gtest/gtest.h>

#include "package/eligibility.h"
#include "ui/translate.h"

namespace lw {
namespace {

// A portable DMR radio with 256-bit encryption: '0' at 12 and at 17.
const std::string kPortable = "KX412-000G0000-M00000-U1-0-F";
const std::string kPortableTrunking = "KX412-T00G0000-M00000-U1-0-F";
const std::string kMobileTrunking = "KV620-T00G0000-M00000-U1-0-F";
const std::string kRepeater = "KQ600-000G0000-M00000-U1-0-F";

PackageRestrictions Package() {
  PackageRestrictions r;
  r.forRadioText = "Portable Mobile Portable_trunking Mobile_trunking Repeater";
  r.targetVersion = "A5.00.09.000";
  r.versionList = {"A5.00.07.000", "A5.00.09.000"};
  return r;
}

class EligibilityTest : public ::testing::Test {
 protected:
  void TearDown() override { SetTranslationTable({}); }
};

TEST_F(EligibilityTest, RadioTypeRule) {
  SetTranslationTable({{"All", "全部"}, {"Mobile", "车台"}});
  struct Case {
    const char* forRadio;
    std::string model;
    bool admitted;
  } cases[] = {
      {"All", "", true},
      {"全部", kRepeater, true},
      {"Portable Mobile", kMobileTrunking, false},
      {"Portable Mobile_trunking", kMobileTrunking, true},
      {"[Portable Mobile]", "KV620-000", true},
      {"车台", "KV620-000", true},  // the translated name admits too
      {"Portable", "", false},      // no model number, no type
      {"Other", kPortable, false},
      {"", kPortable, false},
      {"Portable_trunking", kPortable, false},
      {"a b c d e f g h i j Portable", kPortable, false},  // only ten names are looked at
      {"a  b  Portable", kPortable, true},
  };
  for (const auto& c : cases) {
    PackageRestrictions r;
    r.forRadioText = c.forRadio;
    EXPECT_EQ(Eligibility(r, "DMR", "256").RadioTypeAdmitted(c.model), c.admitted) << c.forRadio << " / " << c.model;
  }
}

TEST_F(EligibilityTest, ModeAndEncryptionCharacters) {
  PackageRestrictions r;
  auto model = [](char mode, char encryption) {
    std::string m = kPortable;
    m[12] = mode;
    m[17] = encryption;
    return m;
  };
  struct Case {
    const char* digital;
    const char* encrypt;
    std::string model;
    bool mode, encryption;
  } cases[] = {
      {"PDT DMR", "256 40", model('0', '0'), true, true},
      {"PDT DMR", "256 40", model('P', '1'), true, true},
      {"PDT", "40", model('0', '0'), false, false},
      {"Analog", "Forbiden", model('A', '2'), true, true},
      {"Analog", "Forbidden", model('A', '2'), true, false},  // the setting's word is "Forbiden"
      {"DMR", "256", "KX412-000G00", false, false},            // too short for characters 12 and 17
  };
  for (const auto& c : cases) {
    Eligibility e(r, c.digital, c.encrypt);
    EXPECT_EQ(e.ModeCharacterAdmitted(c.model), c.mode) << c.model;
    EXPECT_EQ(e.EncryptionCharacterAdmitted(c.model), c.encryption) << c.model;
  }
}

TEST_F(EligibilityTest, VersionRule) {
  PackageRestrictions onlyTarget = Package();
  onlyTarget.versionList = {"A5.00.09.000"};
  PackageRestrictions withSource = Package();
  PackageRestrictions trunk = Package();
  trunk.targetVersion = "T5.00.09.000";
  struct Case {
    const char* name;
    const PackageRestrictions* r;
    std::string version, model;
    bool chosen, admitted;
  } cases[] = {
      {"below 5.00 whatever the package", &onlyTarget, "A4.05.10.001", kPortable, true, false},
      {"only the target: any version from 5.00", &onlyTarget, "A5.01.00.000", kPortable, true, true},
      {"only the target but no package chosen", &onlyTarget, "A5.01.00.000", kPortable, false, false},
      {"above the target", &withSource, "A5.01.00.000", kPortable, true, false},
      {"at the target", &withSource, "A5.00.09.000", kPortable, true, true},
      {"letters never decide", &withSource, "S5.00.08.000", kPortable, true, true},
      {"trunking: same first 7 characters", &trunk, "T5.00.09.100", kPortableTrunking, true, true},
      {"trunking: above", &trunk, "T5.00.10.000", kMobileTrunking, true, false},
      {"repeater never passes the comparison", &withSource, "A5.00.07.000", kRepeater, true, false},
      {"repeater with a package naming no sources", &onlyTarget, "A5.00.07.000", kRepeater, true, true},
      {"ordinal order: 10.0 is less than 9.0", &withSource, "A10.0", kPortable, true, false},
      {"a version of one character", &withSource, "A", kPortable, true, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Eligibility(*c.r, "DMR", "256").VersionAdmitted(c.version, c.model, c.chosen), c.admitted) << c.name;
}

TEST_F(EligibilityTest, ModelRuleWithWildcardFamilies) {
  PackageRestrictions r;
  Eligibility e(r, "DMR", "256");
  EXPECT_TRUE(e.ModelAdmitted("A5.00.09.000", kPortable));  // no model list admits all
  r.modelList = {{"KX41X", "KX41X-000G0000-M00000-U1-0-F", "A5.00.08.002"},
                 {kChangeRowKey, "", ""},
                 {"KV620", "KV620-000G0000-M00000-U1-0-F", "All Version"}};
  for (char variant : {'0', '2', '5', '6', '8', '1'}) {
    std::string model = "KX41X-000G0000-M00000-U1-0-F";
    model[4] = variant;
    EXPECT_EQ(e.ModelAdmitted("A5.00.08.002", model), variant != '1') << variant;
  }
  EXPECT_FALSE(e.ModelAdmitted("A5.00.08.003", "KX412-000G0000-M00000-U1-0-F"));  // version differs
  EXPECT_TRUE(e.ModelAdmitted("anything", "KV620-000G0000-M00000-U1-0-F"));
  EXPECT_FALSE(e.ModelAdmitted("anything", "KV622-000G0000-M00000-U1-0-F"));  // no wildcard there
  EXPECT_FALSE(e.ModelAdmitted("", ""));  // markers never match
}

TEST_F(EligibilityTest, SerialRuleIsExact) {
  PackageRestrictions r;
  Eligibility e(r, "DMR", "256");
  EXPECT_TRUE(e.SerialAdmitted("anything"));
  r.serialList = {"1234567890", "42"};
  EXPECT_TRUE(e.SerialAdmitted("42"));
  EXPECT_FALSE(e.SerialAdmitted("4"));
  EXPECT_FALSE(e.SerialAdmitted("12345678901"));
}

TEST_F(EligibilityTest, StepsRunInOrderAndTheFirstRefusalDecides) {
  PackageRestrictions r = Package();
  r.forRadioText = "Portable";
  r.serialList = {"SN1"};
  r.modelList = {{"KX412", kPortable, "All Version"}};
  auto id = [](std::string model, std::string version, int restriction = -1, std::string serial = "SN1") {
    RadioIdentity i;
    i.modelNumber = model;
    i.softwareVersion = version;
    i.restrictionCode = restriction;
    i.serialNumber = serial;
    return i;
  };
  std::string pdtModel = kPortable;
  pdtModel[12] = 'P';
  std::string encrypted = kPortable;
  encrypted[17] = '1';
  std::string otherModel = kPortable;
  otherModel[3] = '9';
  struct Case {
    const char* name;
    RadioIdentity identity;
    bool chosen;
    int code;
    std::string payload;
  } cases[] = {
      {"admitted", id(kPortable, "A5.00.07.000", 0), true, 100, ""},
      {"type before everything", id(kRepeater, "A4.00", 5), true, 19, kRepeater},
      {"mode character", id(pdtModel, "A4.00"), true, 18, pdtModel},
      {"encryption character", id(encrypted, "A4.00"), true, 18, encrypted},
      {"version", id(kPortable, "A4.05.10.001", 3), true, 17, "A4.05.10.001"},
      {"customer code", id(kPortable, "A5.00.07.000", 3), true, 27, ""},
      {"model, with a chosen package", id(otherModel, "A5.00.07.000", 0, "x"), true, 18, otherModel},
      {"serial, with a chosen package", id(kPortable, "A5.00.07.000", 0, "SN2"), true, 24, "SN2"},
      {"model and serial skipped without a chosen package", id(otherModel, "A5.00.07.000", -1, "x"), false, 100, ""},
  };
  for (const auto& c : cases) {
    auto verdict = Eligibility(r, "DMR", "256").Evaluate(c.identity, c.chosen);
    EXPECT_EQ(verdict.code, c.code) << c.name;
    EXPECT_EQ(verdict.payload, c.payload) << c.name;
    EXPECT_EQ(verdict.admitted(), c.code == kAdmitted) << c.name;
  }
}

}  // namespace
}  // namespace lw
