// The config, script and translate commands of loftwise-cli on a program directory of our own.
// Their JSON shapes are a contract for scripts, so the exact field spellings are checked.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>

#include "temp_files.h"

namespace lw {
namespace {

struct CliRun {
  int status = -1;
  std::string out;
};

CliRun Cli(const std::string& args) {
  CliRun r;
  std::string cmd = std::string(LW_BIN_DIR) + "/loftwise-cli " + args + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// True when python3 is there and accepts `json` as one JSON document.
bool ValidJson(const testing::TempDir& dir, const std::string& json) {
  std::string path = dir.Write("out.json", json);
  return std::system(("python3 -c 'import json,sys; json.load(open(sys.argv[1]))' " + path + " 2>/dev/null").c_str()) == 0;
}

class CliCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(std::string(LW_BIN_DIR) + "/loftwise-cli"))
      GTEST_SKIP() << "loftwise-cli is not built";
    home = "--home " + dir.path();
  }
  testing::TempDir dir;
  std::string home;
};

TEST_F(CliCommands, ConfigJson) {
  dir.Write("set.ini",
            "[PROGRAM SET]\nPlay Sound=TRUE\nLanguage=Chinese \"q\"\nTimeout MilliSecond=750\n"
            "RestoreLoadFlag=TRUE\nRestoreLoad=\\srv\\bk\\\n"
            "[UPGRADE FILE]\n<G>\nKX41X-0=a.fud\n[UPGRADE VERSION]\n<v1><v2>\n[UPGRADE TOVERSION DISP]\n<d1><d2>\n"
            "[TUNER DATA CHANGE]\n<All Version><[Portable]><Offset=1><Length=2><Key=3><Less_Equal>\n"
            "[FOR RADIO]\n<KX41X><KX41X-0><A5>\n<CHANGE ROW>\n");
  dir.Write("Lumaret.txt", "[U1][00 01 02 03 04 FF]\n");
  dir.Write("EquipmentSn.txt", "[SN1][12][34]\n");
  CliRun r = Cli("config --json " + home);
  ASSERT_EQ(r.status, 0);
  for (const char* part : {
           "\"Play Sound\": 1", "\"AutoTest\": 0", "\"Timeout MilliSecond\": 750",
           "\"Language\": \"Chinese \\\"q\\\"\"", "\"Check Answers\": 1", "\"USB Primary IDs\": \"\"",
           "\"upgradeRules\": [{\"group\": \"G\", \"pattern\": \"KX410-0\", \"file\": \"a.fud\"}",
           "\"versionPairs\": [[\"v1\", \"v2\"]]", "\"displayPairs\": [[\"d1\", \"d2\"]]",
           "\"tunerRules\": [[\"All Version\", \"[Portable]\", \"Offset=1\", \"Length=2\", \"Key=3\", \"Less_Equal\"]]",
           "\"radioRules\": [[\"KX41X\", \"KX41X-0\", \"A5\"], \"CHANGE ROW\"]",
           "\"macList\": [{\"name\": \"U1\", \"bytes\": [0, 1, 2, 3, 4, 255]}]",
           "\"serialList\": [{\"serial\": \"SN1\", \"first\": 12, \"second\": 34}]",
           "\"backupDirectory\": \"/srv/bk/\""})
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  EXPECT_TRUE(ValidJson(dir, r.out));
}

TEST_F(CliCommands, ScriptJson) {
  dir.Write("Torvex.ini",
            "[COMM DEFINE]\nXRCP_Memory_Write=0x01C3 [MemoryWrite]\n[rcdb_data]\nMEMORYTYPE=1\nORIGIN=0xC00000\n"
            "XRCP_Memory_Write  0(1)  0xfe0000(4) 256(2)  [15=0x0]\n");
  CliRun r = Cli("script --json " + home);
  ASSERT_EQ(r.status, 0);
  for (const char* part : {
           "{\"name\": \"rcdb_data\", \"memoryType\": 1, \"fileSystem\": 0, \"userDefined\": 0, "
           "\"modifyAddress\": 0, \"binary\": 0, \"origin\": \"0xC00000\", \"length\": \"\", "
           "\"extraOrigin\": \"\", \"extraLength\": \"\"}",
           "{\"kind\": \"rcdb_data\", \"line\": \"XRCP_Memory_Write  0(1)  0xfe0000(4) 256(2)  [15=0x0]\", "
           "\"commandPart\": \"XRCP_Memory_Write  0(1)  0xfe0000(4)  256(2)\", \"optionIndex\": 15, "
           "\"optionValue\": 0, \"fileMarker\": \"\", \"hexFlag\": -1, \"positionFlag\": -1}",
           "{\"section\": \"COMM DEFINE\", \"name\": \"XRCP_Memory_Write\", \"value\": 451, \"tag\": \"MemoryWrite\"}"})
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  EXPECT_TRUE(ValidJson(dir, r.out));
}

TEST_F(CliCommands, ShippedDirectoryParses) {
  CliRun config = Cli("config --json");
  CliRun script = Cli("script --json");
  ASSERT_EQ(config.status, 0);
  ASSERT_EQ(script.status, 0);
  EXPECT_TRUE(ValidJson(dir, config.out));
  EXPECT_TRUE(ValidJson(dir, script.out));
  EXPECT_NE(script.out.find("\"name\": \"user_defined(Rx)\""), std::string::npos);
}

TEST_F(CliCommands, Translate) {
  dir.Write("set.ini", "[PROGRAM SET]\nLanguage=Chinese\n");
  dir.Write("Chinese.lng", "Upgrade=升级\n");
  dir.Write("English.lng", "Upgrade=Upgrade!\n");
  EXPECT_EQ(Cli("translate " + home + " Upgrade Other").out, "升级\nOther\n");
  EXPECT_EQ(Cli("translate --language English " + home + " Upgrade").out, "Upgrade!\n");
  std::filesystem::remove(dir.File("English.lng"));
  CliRun fallback = Cli("translate --language English " + home + " Upgrade");
  EXPECT_EQ(fallback.status, 0);
  EXPECT_EQ(fallback.out, "Upgrade\n");
}

// The HEX reader's messages come out in the language of set.ini, an error box with its caption.
TEST_F(CliCommands, HexMessagesInTheLanguageOfTheSettings) {
  const std::string data = std::string(LW_SOURCE_DIR) + "/data/";
  for (const char* name : {"English.lng", "Chinese.lng"})
    std::filesystem::copy_file(data + name, dir.File(name), std::filesystem::copy_options::overwrite_existing);
  const std::string hex = dir.Write("bad.hex", "this line is no HEX record at all\n");
  struct Case {
    const char* language;
    const char* shown;
  } cases[] = {{"English", "Error: CanNotAcceptFile"}, {"Chinese", "错误: 无法接受该文件"}};
  for (const Case& c : cases) {
    dir.Write("set.ini", std::string("[PROGRAM SET]\nLanguage=") + c.language + "\n");
    CliRun r = Cli("hex " + hex + " --image " + dir.File("out.bin") + " " + home);
    EXPECT_EQ(r.status, 2) << c.language;
    EXPECT_NE(r.out.find(c.shown), std::string::npos) << c.language << ": " << r.out;
  }
}

TEST_F(CliCommands, ErrorsExitWithStatusTwo) {
  EXPECT_EQ(Cli("config " + home).status, 2);  // no set.ini
  EXPECT_EQ(Cli("script " + home).status, 2);  // no Torvex.ini
  EXPECT_EQ(Cli("config --home " + dir.File("nowhere")).status, 2);
  EXPECT_EQ(Cli("config --bogus").status, 2);
  EXPECT_EQ(Cli("translate --language Klingon x").status, 2);
  EXPECT_EQ(Cli("translate").status, 2);
  CliRun help = Cli("config --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("backupDirectory"), std::string::npos);
}

}  // namespace
}  // namespace lw
