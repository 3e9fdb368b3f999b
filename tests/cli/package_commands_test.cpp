// loftwise-cli inspect, check and rcdb, and the fudpack and rcdbpack tools, run as programs.
// The inspect and check JSON shapes are a contract for scripts: the key lists are checked.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>

#include "common/bytes.h"
#include "common/version.h"
#include "package/fud_writer.h"
#include "package/radio_identity.h"
#include "package/rcdb_builder.h"
#include "support/package_fixture.h"
#include "support/temp_dir.h"

namespace lw {
namespace {

struct ProgramRun {
  int status = -1;
  std::string out;
};

ProgramRun Program(const std::string& name, const std::string& args) {
  ProgramRun r;
  std::string cmd = std::string(LW_BIN_DIR) + "/" + name + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// Runs python3 on the JSON in `file` and prints the expression `expr` of it (d = the object).
std::string PyJson(const std::string& file, const std::string& expr) {
  std::string cmd = "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(" + expr + ")' " + file;
  ProgramRun r;
  FILE* p = popen(cmd.c_str(), "r");
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  pclose(p);
  return r.out;
}

class PackageCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* program : {"loftwise-cli", "fudpack", "rcdbpack"})
      if (!std::filesystem::exists(std::string(LW_BIN_DIR) + "/" + program))
        GTEST_SKIP() << program << " is not built";
    dir.WriteText("set.ini", "[PROGRAM SET]\nDigital Type=[PDT DMR]\nEncrypt Len=256 40\n");
    home = " --home " + dir.path();
    package = dir.Write("p.fud", EncodePackage(test::SamplePackageSpec()).value());
  }
  test::TempDir dir;
  std::string home, package;
};

TEST_F(PackageCommands, InspectJsonIsTheContract) {
  ProgramRun r = Program("loftwise-cli", "inspect " + package + " --json" + home);
  ASSERT_EQ(r.status, 0) << r.out;
  std::string json = dir.WriteText("inspect.json", r.out);
  EXPECT_EQ(PyJson(json, "list(d.keys())"),
            "['header', 'versionList', 'modelList', 'serialList', 'tunerList', 'forRadioText', 'contentsText', "
            "'headInfoIndicator', 'cpsDataIndicator', 'entries']\n");
  EXPECT_EQ(PyJson(json, "list(d[\"header\"].keys())"),
            "['magic', 'producerVersion', 'entryCount', 'keepHeadInfo', 'keepCpsData', 'targetVersion', "
            "'versionCount', 'modelCount', 'serialCount', 'tunerCount', 'allRadios', 'forPortable', 'forMobile', "
            "'forRepeater', 'forPortableTrunking', 'forMobileTrunking', 'forOther', 'ignoreLetter', "
            "'setModeEnabled', 'setTypeEnabled', 'modeValue', 'typeValue', 'dataModelNumber', 'compressArmMain']\n");
  EXPECT_EQ(PyJson(json, "list(d[\"modelList\"][1].keys()), d[\"modelList\"][1][\"familyKey\"]"),
            "['familyKey', 'modelNumber', 'version'] CHANGE ROW\n");
  EXPECT_EQ(PyJson(json, "d[\"tunerList\"]"),
            "[{'version': 'All Version', 'radioTypes': 'Portable Mobile Repeater Portable_trunking "
            "Mobile_trunking', 'address': 256, 'length': 64, 'lowHigh': 1}]\n");
  EXPECT_EQ(PyJson(json, "d[\"entries\"][2]"),
            "{'kindName': 'english language package', 'fileName': 'en.bin', 'dataLength': 5, 'origin': 6291456, "
            "'areaLength': 1048576, 'externFlag': 0, 'extendName': '', 'dataOffset': 3192}\n");
  EXPECT_EQ(PyJson(json, "d[\"versionList\"], d[\"forRadioText\"], d[\"headInfoIndicator\"]"),
            "['A5.00.07.000', 'A5.00.09.000'] Portable Mobile True\n");
}

TEST_F(PackageCommands, InspectExitStatuses) {
  Bytes bad = EncodePackage(test::SamplePackageSpec()).value();
  bad.resize(bad.size() - 1);
  ProgramRun r = Program("loftwise-cli", "inspect " + dir.File("none.fud") + home);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
  r = Program("loftwise-cli", "inspect " + dir.Write("short.fud", bad) + home);
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.out.find("truncated"), std::string::npos);
  EXPECT_EQ(Program("loftwise-cli", "inspect " + dir.WriteText("x.fud", "hello") + home).status, 3);
  EXPECT_EQ(Program("loftwise-cli", "inspect" + home).status, 2);
}

TEST_F(PackageCommands, CheckAdmitsRefusesAndFails) {
  RadioIdentity radio;
  radio.modelNumber = "KX412-000G0000-M00000-U1-0-F";
  radio.softwareVersion = "A5.00.07.000";
  radio.serialNumber = "1234567890";
  radio.formatVersion = "2.0";
  radio.restrictionCode = 0;
  std::string xuid = dir.Write("radio.xuid", MakeXuidFile(radio));
  ProgramRun r = Program("loftwise-cli", "check " + package + " " + xuid + " --json" + home);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "{\"identity\": {\"formatVersion\": \"2.0\", \"modelNumber\": \"KX412-000G0000-M00000-U1-0-F\", "
            "\"softwareVersion\": \"A5.00.07.000\", \"serialNumber\": \"1234567890\", \"variantCode\": \"2\", "
            "\"restrictionCode\": 0}, \"code\": 100, \"payload\": \"\"}\n");

  radio.serialNumber = "999";
  std::string image = dir.Write("radio.rcdb", BuildRcdbImage(SampleRcdbSpec(radio)).value());
  r = Program("loftwise-cli", "check " + package + " " + image + home);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("refused: 24 999"), std::string::npos) << r.out;
  EXPECT_EQ(Program("loftwise-cli", "check " + package + " " + image + " --no-package-chosen" + home).status, 0);

  EXPECT_EQ(Program("loftwise-cli", "check " + package + " " + dir.File("none") + home).status, 2);
  EXPECT_EQ(Program("loftwise-cli", "check " + dir.File("none.fud") + " " + xuid + home).status, 2);
  // Data that are neither RCDB nor a record list: the text an upgrade shows, with the parser's
  // code, in the language of set.ini.
  std::string junk = dir.Write("junk.bin", Bytes(3000, 0x41));
  r = Program("loftwise-cli", "check " + package + " " + junk + home);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("Failed to parse RCDB data.\nError Code=2\t\t\t\t\nOnly simple format for output."),
            std::string::npos)
      << r.out;
  std::filesystem::copy_file(std::string(LW_SOURCE_DIR) + "/data/Chinese.lng", dir.File("Chinese.lng"));
  dir.WriteText("set.ini", "[PROGRAM SET]\nLanguage=Chinese\nDigital Type=[PDT DMR]\nEncrypt Len=256 40\n");
  r = Program("loftwise-cli", "check " + package + " " + junk + home);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("解析RCDB数据失败。\n错误代码=2"), std::string::npos) << r.out;
}

TEST_F(PackageCommands, RcdbShowsTreeAndNodes) {
  RadioIdentity radio;
  radio.modelNumber = "KX412-000G0000-M00000-U1-0-F";
  std::string image = dir.Write("r.rcdb", BuildRcdbImage(SampleRcdbSpec(radio)).value());
  ProgramRun r = Program("loftwise-cli", "rcdb " + image);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("root/3/91/1"), std::string::npos);
  EXPECT_NE(r.out.find("narrow layout"), std::string::npos);
  r = Program("loftwise-cli", "rcdb " + image + " root/2/200");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("24 24 24 24"), std::string::npos) << r.out;
  EXPECT_EQ(Program("loftwise-cli", "rcdb " + image + " root/2/201").status, 4);
  EXPECT_EQ(Program("loftwise-cli", "rcdb " + image + " root/x").status, 2);
  EXPECT_EQ(Program("loftwise-cli", "rcdb " + dir.WriteText("z", std::string(300, '\0'))).status, 3);
}

TEST_F(PackageCommands, ToolsBuildWhatTheManifestSays) {
  dir.Write("img/arm.bin", Bytes(100, 7));
  std::string manifest = dir.WriteText("m.ini",
                                       "[package]\ntargetVersion = A5.00.09.000\nforPortable = 1\n"
                                       "[modelList]\nrecord = <All Version> KX41X-000G0000-M00000-U1-0-F\n"
                                       "[entry]\nkindName = arm_main\nsource = img/arm.bin\norigin = 0x10000\n");
  ProgramRun r = Program("fudpack", manifest + " -o " + dir.File("m.fud"));
  ASSERT_EQ(r.status, 0) << r.out;
  r = Program("loftwise-cli", "inspect " + dir.File("m.fud") + home);
  EXPECT_NE(r.out.find("1. arm_main  file=arm.bin  dataLength=100 origin=0x10000"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(ProgramVersionText()), std::string::npos) << "the producer is fudpack itself: " << r.out;
  EXPECT_EQ(Program("fudpack", dir.WriteText("bad.ini", "[package]\nx=1\n") + " -o " + dir.File("b.fud")).status, 2);
  EXPECT_EQ(Program("fudpack", "--help").status, 0);

  r = Program("rcdbpack", "--sample --wide -o " + dir.File("s.rcdb"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(Program("loftwise-cli", "rcdb " + dir.File("s.rcdb")).out.find("wide layout"), std::string::npos);
}

}  // namespace
}  // namespace lw
