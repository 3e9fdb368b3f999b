#include "config/burn_script.h"

#include <gtest/gtest.h>

#include "temp_files.h"

namespace lw {
namespace {

TEST(ParseNumber, Forms) {
  struct Case {
    const char* text;
    uint32_t value;
  };
  const Case cases[] = {
      {"0x1C0000(4)", 0x1C0000},
      {"0X1c", 0x1C},
      {"  0xfe0000", 0xFE0000},
      {"512(2)", 512},
      {"15", 15},
      {"0x0", 0},
      {"ORIGIN(4)", 0},
      {"", 0},
      {"(0x10)", 0},            // everything from "(" on is ignored
      {"-1111", uint32_t(-1111)},
      {"12abc", 12},
      {"0xFFFFFFFF", 0xFFFFFFFF},
      {"0x123456789", 0xFFFFFFFF},  // beyond 32 bits saturates
      {"99999999999", 0xFFFFFFFF},
      {"0x", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseNumber(c.text), c.value) << c.text;
}

TEST(ScriptTokens, BracketGroupsAreOneToken) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitScriptTokens("  A  0(1)\t[FILE HEX  x]  B "), (V{"A", "0(1)", "[FILE HEX  x]", "B"}));
  EXPECT_EQ(SplitScriptTokens("A [open to the end"), (V{"A", "[open to the end"}));
  EXPECT_EQ(SplitScriptTokens("x[a b]y z"), (V{"x[a b]y", "z"}));
  EXPECT_EQ(SplitScriptTokens("   "), V{});
}

TEST(CommandLine, FieldsFromTheOptionToken) {
  struct Case {
    const char* line;
    const char* commandPart;
    int32_t index, value;
    const char* file;
    int hex, position;
  };
  const Case cases[] = {
      {"XRCP_Memory_Write  0(1)  0xfe0000(4) 256(2)  [15=0x0]", "XRCP_Memory_Write  0(1)  0xfe0000(4)  256(2)",
       15, 0, "", -1, -1},
      {"XRCP_Memory_Write 0(1) ORIGIN(4) 512(2) [FILE HEX BEGIN EXTERN]",
       "XRCP_Memory_Write  0(1)  ORIGIN(4)  512(2)", -1, 0, "FILE", 0, 1},
      {"XRCP_Memory_Write 0(1) ORIGIN(4) 512(2) [EXTERN BEGIN]", "XRCP_Memory_Write  0(1)  ORIGIN(4)  512(2)",
       -1, 0, "", -1, 1},
      {"XRCP_Memory_Write 0(1) ORIGIN(4) 512(2) [BEGIN]", "XRCP_Memory_Write  0(1)  ORIGIN(4)  512(2)", -1, 0,
       "", -1, 0},
      {"XRCP_Radio_State  7(1)", "XRCP_Radio_State  7(1)", -1, 0, "", -1, -1},
      {"[FILE] XRCP_x", "[FILE] XRCP_x", -1, 0, "FILE", -1, -1},  // option first: whole line
      {"XRCP_Memory_Read 0(1) 0x0(4) 2(2) [0x20=255]", "XRCP_Memory_Read  0(1)  0x0(4)  2(2)", 0x20, 255, "",
       -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    CommandLine l = ParseCommandLine("rcdb_data", c.line);
    EXPECT_EQ(l.kind, "rcdb_data");
    EXPECT_EQ(l.line, c.line);
    EXPECT_EQ(l.commandPart, c.commandPart);
    EXPECT_EQ(l.optionIndex, c.index);
    EXPECT_EQ(l.optionValue, c.value);
    EXPECT_EQ(l.fileMarker, c.file);
    EXPECT_EQ(l.hexFlag, c.hex);
    EXPECT_EQ(l.positionFlag, c.position);
  }
}

const char* kScript =
    "/************** header\n"
    "[COMM DEFINE]\n"
    "XRCP_Memory_Read=0x01C2   [MemoryRead]\n"
    "LENGTH=0x10\n"
    "Lonely\n"
    "[rcdb_data]\n"
    "MEMORYTYPE = 1\n"
    "ORIGIN = 0xC00000 // window start\n"
    "LENGTH = 0x1C0000(4)\n"
    "LENGTH = 0x200000\n"
    "length = 0x99\n"
    "Voided = -1111\n"
    "XRCP_Memory_Write  0(1)  0xfe0000(4) 256(2)  [15=0x0]  //6+15\n"
    "[user_defined]\n"
    "ORIGIN = 0x20000\n"
    "LENGTH = 0xFE0000\n"
    "EXTORG = 0x5\n"
    "XRCP_Memory_Erase 0(1) ORIGIN(4) 512(2)\n"
    "[rcdb_data]\n"
    "BINARY = 7\n";

TEST(BurnScript, ReadsEntriesLinesAndValues) {
  BurnScript s;
  s.LoadBurnScriptText(kScript);

  ASSERT_EQ(s.Entries().size(), 3u);  // a repeated section opens a second entry
  const ScriptEntry* rcdb = s.FindEntry("rcdb_data");
  ASSERT_NE(rcdb, nullptr);
  EXPECT_EQ(rcdb->memoryType, 1u);
  EXPECT_EQ(rcdb->origin, "0xC00000");
  EXPECT_EQ(rcdb->length, "0x200000");  // the entry keeps the last value
  EXPECT_EQ(rcdb->binary, 0u);          // the second [rcdb_data] is a separate entry
  EXPECT_EQ(s.FindEntry("RCDB_DATA"), nullptr);
  EXPECT_EQ(s.FindEntry("rcdb"), nullptr);

  // The "user_defined" window is forced to the whole flash, in the entry and in the values.
  const ScriptEntry* user = s.FindEntry("user_defined");
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user->origin, "0x0");
  EXPECT_EQ(user->length, "0x1000000");
  EXPECT_EQ(user->extraOrigin, "0x5");

  auto lines = s.CommandLines("rcdb_data");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].line, "XRCP_Memory_Write  0(1)  0xfe0000(4) 256(2)  [15=0x0]");
  EXPECT_EQ(s.AllCommandLines().size(), 2u);
  EXPECT_TRUE(s.CommandLines("read_rcdb").empty());

  std::vector<std::string> values;
  for (const auto& v : s.DefinedValues())
    values.push_back(v.section + "/" + v.name + "=" + std::to_string(v.value) + (v.tag.empty() ? "" : "#" + v.tag));
  EXPECT_EQ(values, (std::vector<std::string>{
                        "COMM DEFINE/XRCP_Memory_Read=450#MemoryRead", "COMM DEFINE/LENGTH=16",
                        "COMM DEFINE/=0", "rcdb_data/MEMORYTYPE=1",
                        "rcdb_data/ORIGIN=12582912", "rcdb_data/LENGTH=1835008", "rcdb_data/LENGTH=2097152",
                        "rcdb_data/length=153", "rcdb_data/Voided=-1111",
                        // a command line is read as a key line too: its key is cut at the "="
                        "rcdb_data/XRCP_Memory_Write  0(1)  0xfe0000(4) 256(2)  [15=0",
                        "user_defined/ORIGIN=0", "user_defined/LENGTH=16777216", "user_defined/EXTORG=5",
                        "user_defined/=0", "rcdb_data/BINARY=7"}));
}

TEST(BurnScript, LookupValueFollowsFileOrder) {
  BurnScript s;
  s.LoadBurnScriptText(kScript);
  EXPECT_EQ(s.LookupValue("rcdb_data", "length"), 0x10);  // COMM DEFINE stands first in the file
  EXPECT_EQ(s.LookupValue("rcdb_data", "Origin"), 0xC00000);
  EXPECT_EQ(s.LookupValue("rcdb_data", "Voided"), std::nullopt);
  EXPECT_EQ(s.LookupValue("user_defined", "MEMORYTYPE"), std::nullopt);
  EXPECT_EQ(s.LookupValue("cps_data", "XRCP_Memory_Read"), 0x1C2);
}

TEST(BurnScript, MissingFileLeavesEverythingEmpty) {
  testing::TempDir dir;
  BurnScript s;
  ASSERT_TRUE(s.LoadBurnScript(dir.Write("Torvex.ini", kScript)));
  EXPECT_FALSE(s.Entries().empty());
  EXPECT_FALSE(s.LoadBurnScript(dir.File("missing.ini")));
  EXPECT_TRUE(s.Entries().empty());
  EXPECT_TRUE(s.AllCommandLines().empty());
  EXPECT_TRUE(s.DefinedValues().empty());
}

TEST(BurnScript, HostileTextIsReadWithoutHarm) {
  std::string text = "[k]\nXRCP_" + std::string(100000, '[') + "\nORIGIN=" + std::string(100000, '9') +
                     "\n[" + std::string(5000, 'x') + "\nXRCP_ [=] [=\n" + std::string("\0\xff[]\n=\n", 7);
  BurnScript s;
  s.LoadBurnScriptText(text);
  ASSERT_EQ(s.Entries().size(), 1u);
  EXPECT_EQ(s.Entries()[0].origin, std::string(100000, '9'));
  EXPECT_EQ(s.LookupValue("k", "ORIGIN"), -1);  // saturated 0xFFFFFFFF read as signed
}

// The five entry fields are the script's decimal text as an unsigned conversion reads it: "0x10"
// is 0 there (the value line's own defined value stays hexadecimal), a width in parentheses or
// other trailing text ends the number.
TEST(BurnScript, EntryFieldsAreReadAsDecimalText) {
  BurnScript s;
  s.LoadBurnScriptText(
      "[k]\nMEMORYTYPE = 0x10\nFILESYSTEM = 12(4)\nUSERDEF = 7\nMODIFYADDR = 0X1F\nBINARY =  3 apples\n");
  ASSERT_EQ(s.Entries().size(), 1u);
  const ScriptEntry& e = s.Entries()[0];
  EXPECT_EQ(e.memoryType, 0u);
  EXPECT_EQ(e.fileSystem, 12u);
  EXPECT_EQ(e.userDefined, 7u);
  EXPECT_EQ(e.modifyAddress, 0u);
  EXPECT_EQ(e.binary, 3u);
  EXPECT_EQ(s.LookupValue("k", "MEMORYTYPE"), 16) << "the defined value is a number as everywhere else";
}

}  // namespace
}  // namespace lw
