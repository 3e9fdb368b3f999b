// The files shipped beside the program: set.ini must carry every key the program reads, and
// the burn script must give every image kind a complete section.
#include <gtest/gtest.h>

#include <set>

#include "config/burn_script.h"
#include "config/image_kind.h"
#include "config/line_reader.h"
#include "config/settings.h"

namespace lw {
namespace {

const std::string kData = std::string(LW_SOURCE_DIR) + "/data/";

TEST(ShippedSettings, EveryKeyOfTheTableIsInSetIni) {
  std::set<std::string> keys;
  std::set<std::string> sections;
  ASSERT_TRUE(ForEachConfigLine(kData + "set.ini", [&](const ConfigLine& l, const std::string& section) {
    if (l.type == ConfigLineType::Key && !l.key.empty()) keys.insert(l.key);
    if (l.type == ConfigLineType::Section) sections.insert(l.name);
  }));
  for (const auto& f : SettingFields()) EXPECT_TRUE(keys.count(f.name)) << f.name;
  for (const char* s : {kProgramSetSection, kUpgradeFileSection, kUpgradeVersionSection, kUpgradeDisplaySection,
                        kTunerSection, kForRadioSection, kLanguageFileSection})
    EXPECT_TRUE(sections.count(s)) << s;
}

TEST(ShippedSettings, ReadsAsADemoInstallation) {
  ProgramSettings s;
  ASSERT_TRUE(ReadProgramSettings(kData + "set.ini", s));
  EXPECT_EQ(s.timeoutMs, 3000u);
  EXPECT_TRUE(s.checkAnswers);
  EXPECT_EQ(s.remoteBindAddress, "127.0.0.1");
  EXPECT_EQ(s.radioType, "All");
  EXPECT_FALSE(ReadUpgradeRules(kData + "set.ini").files.empty());
  EXPECT_FALSE(ReadTunerRules(kData + "set.ini").empty());
  EXPECT_FALSE(ReadRadioRules(kData + "set.ini", s.allPreVersionUpgrade).empty());
  EXPECT_FALSE(ReadMacList(kData + "Lumaret.txt").empty());
  EXPECT_FALSE(ReadSerialList(kData + "EquipmentSn.txt").empty());
}

class ShippedScript : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(script.LoadBurnScript(kData + "Torvex.ini")); }
  bool AnyLine(std::string_view kind, std::string_view part) const {
    for (const auto& c : script.CommandLines(kind))
      if (c.line.find(part) != std::string::npos) return true;
    return false;
  }
  BurnScript script;
};

TEST_F(ShippedScript, EveryKindHasAnEraseAndAFileWrite) {
  for (std::string_view kind : kind::kAllKinds) {
    SCOPED_TRACE(std::string(kind));
    const ScriptEntry* e = script.FindEntry(kind);
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(e->origin.empty());
    EXPECT_FALSE(e->length.empty());
    EXPECT_TRUE(AnyLine(kind, "XRCP_Memory_Erase"));
    bool fileWrite = false;
    for (const auto& c : script.CommandLines(kind)) fileWrite |= c.fileMarker == "FILE" && c.tokens[0] == "XRCP_Memory_Write";
    EXPECT_TRUE(fileWrite);
    // The receive unit is selector 16 in every line of an (Rx) kind, 0 elsewhere.
    for (const auto& c : script.CommandLines(kind)) {
      if (c.tokens.size() > 1 && c.tokens[0] != "XRCP_CHANGE_DATA") {
        EXPECT_EQ(ParseNumber(c.tokens[1]), uint32_t(kind::MemorySelectorOf(kind))) << c.line;
      }
    }
  }
}

TEST_F(ShippedScript, KindsCarryTheirModesAndSpecialLines) {
  EXPECT_TRUE(AnyLine("arm_main", "/HEX/"));
  EXPECT_TRUE(AnyLine("arm_main", "EXTERN"));
  EXPECT_EQ(script.FindEntry("arm_main")->extraOrigin, "0x400000");
  EXPECT_TRUE(AnyLine("dsp_main", "/WORDREVERSE"));
  EXPECT_TRUE(AnyLine("bootloader", "ADDRDESCEND"));
  EXPECT_TRUE(AnyLine("cps_data", "XRCP_CHANGE_DATA"));
  EXPECT_TRUE(AnyLine("cps_data", "FILE/ORIGIN"));
  EXPECT_TRUE(AnyLine("rcdb_data", "XRCP_CHANGE_DATA"));
  EXPECT_TRUE(AnyLine("read_rcdb", "RCDBLENGTH"));
  EXPECT_TRUE(script.LookupValue("read_rcdb", "RCDBLENGTH").has_value());
  EXPECT_EQ(script.LookupValue("rcdb_data", "ORIGIN"), 0xC00000);
  EXPECT_EQ(script.LookupValue("cps_data", "XRCP_Memory_Write"), 0x01C3);
  EXPECT_EQ(script.LookupValue("cps_data", "XRCP_Memory_Erase"), 0x01C4);
  EXPECT_EQ(script.LookupValue("cps_data", "XRCP_Memory_Read"), 0x01C2);
  // Every generic keyword has a code: an undefined one would be sent as command 0.
  for (const auto& c : script.AllCommandLines()) {
    const std::string& keyword = c.tokens[0];
    if (keyword == "XRCP_CHANGE_DATA") continue;
    EXPECT_TRUE(script.LookupValue(c.kind, keyword).has_value()) << c.line;
  }
}

TEST_F(ShippedScript, WindowsFollowTheMemoryMap) {
  // Windows of one side must not overlap, except user_defined (the whole flash).
  struct Window {
    std::string kind;
    uint32_t start, end;
  };
  std::vector<Window> windows;
  for (const auto& e : script.Entries()) {
    if (kind::IsRxKind(e.name) || kind::IsUserDefined(e.name) || e.name == kind::kReadRcdb) continue;
    uint32_t o = ParseNumber(e.origin);
    windows.push_back({e.name, o, o + ParseNumber(e.length)});
    if (!e.extraOrigin.empty())
      windows.push_back({e.name + " extra", ParseNumber(e.extraOrigin),
                         ParseNumber(e.extraOrigin) + ParseNumber(e.extraLength)});
  }
  for (size_t i = 0; i < windows.size(); ++i) {
    EXPECT_LE(windows[i].end, 0xFE0000u) << windows[i].kind;  // below the InfoBlock erase unit
    for (size_t j = i + 1; j < windows.size(); ++j)
      EXPECT_TRUE(windows[i].end <= windows[j].start || windows[j].end <= windows[i].start)
          << windows[i].kind << " overlaps " << windows[j].kind;
  }
}

}  // namespace
}  // namespace lw
