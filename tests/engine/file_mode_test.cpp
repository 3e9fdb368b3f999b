#include "engine/file_mode.h"

#include <gtest/gtest.h>

#include "config/burn_script.h"

namespace lw {
namespace {

TEST(FileModeTest, ModeWordsOfOneLine) {
  struct Case {
    const char* text;
    bool hit;
    FileMode mode;
  };
  const Case cases[] = {
      {"XRCP_Memory_Write 0(1) ORIGIN(4) 512(2) [FILE/HEX/BEGIN]", true, FileMode::Hex},
      {"XRCP_Memory_Write 0(1) ORIGIN(4) 512(2) [FILE/BYTE/]", true, FileMode::Binary},
      {"XRCP_Memory_Write 0(1) ORIGIN(4) 512(2) [FILE/BYTE/WORDREVERSE]", true, FileMode::SwappedBinary},
      {"XRCP_Memory_Write 0(1) ORIGIN(4) 512(2) [FILE/HEX/BYTE/]", true, FileMode::Binary},
      {"XRCP_Memory_Write 0(1) ORIGIN(4) 512(2) [FILE HEX]", false, FileMode::Hex},
      {"XRCP_Memory_Write 0(1) ORIGIN(4) 512(2) [FILE/byte/]", false, FileMode::Hex},
  };
  for (const auto& c : cases) {
    FileMode mode = FileMode::Hex;
    EXPECT_EQ(ModeOfText(c.text, mode), c.hit) << c.text;
    EXPECT_EQ(mode, c.mode) << c.text;
  }
}

TEST(FileModeTest, LastLineWithAModeWordDecidesPerKind) {
  BurnScript script;
  script.LoadBurnScriptText(
      "[dsp_main]\n"
      "XRCP_Memory_Erase 0(1) ORIGIN(4) 256(2) [FILE/HEX/]\n"
      "XRCP_Memory_Write 0(1) ORIGIN(4) 512(2) [FILE/BYTE/WORDREVERSE]\n"
      "XRCP_Memory_Read 0(1) ORIGIN(4) 512(2)\n"
      "[dsp_main(Rx)]\n"
      "XRCP_Memory_Write 0(1) ORIGIN(4) 512(2) [FILE/BYTE/]\n"
      "[arm_main]\n"
      "XRCP_Memory_Write 0(1) ORIGIN(4) 512(2) [FILE/BYTE/]\n"
      "XRCP_Memory_Write 0(1) EXTORG(4) 512(2) [FILE/HEX/EXTERN]\n"
      "[cps_data]\n"
      "XRCP_Memory_Write 0(1) ORIGIN(4) 512(2) [FILE]\n");
  EXPECT_EQ(GetFileMode(script, "dsp_main"), FileMode::SwappedBinary);
  EXPECT_EQ(GetFileMode(script, "dsp_main(Rx)"), FileMode::Binary);
  EXPECT_EQ(GetFileMode(script, "arm_main"), FileMode::Hex);
  EXPECT_EQ(GetFileMode(script, "cps_data"), FileMode::Hex) << "no mode word: HEX";
  EXPECT_EQ(GetFileMode(script, "fpga_code"), FileMode::Hex) << "no entry: HEX";
}

}  // namespace
}  // namespace lw
