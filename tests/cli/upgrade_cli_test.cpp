// loftwise-cli upgrade and restore against the shipped simulated portable, on a program
// directory of our own: the JSON-lines events are a contract for scripts, and the exit status
// is 0 only for report 2.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "package/fud_writer.h"
#include "package/rcdb_builder.h"
#include "support/temp_dir.h"

namespace lw::test {
namespace {

namespace fs = std::filesystem;

struct CliRun {
  int status = -1;
  std::vector<std::string> lines;
  std::string out;
};

CliRun Cli(const std::string& args) {
  CliRun r;
  std::string cmd = std::string(LW_BIN_DIR) + "/loftwise-cli " + args + " 2>/dev/null </dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) r.lines.push_back(line);
  return r;
}

class UpgradeCli : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path bin(LW_BIN_DIR);
    if (!fs::exists(bin / "loftwise-cli") || !fs::exists(bin / "conversion.so"))
      GTEST_SKIP() << "loftwise-cli is not built";
    for (const char* file : {"set.ini", "Torvex.ini", "English.lng", "Chinese.lng", "conversion.so", "Lumaret.txt",
                             "EquipmentSn.txt"})
      fs::copy_file(bin / file, fs::path(dir.path()) / file);
    fs::copy(bin / "sim", fs::path(dir.path()) / "sim", fs::copy_options::recursive);
    home = " --home " + dir.path();
  }

  // A package the shipped portable (KX412..., A5.00.07.000) is admitted to.
  std::string Package(const std::string& target = "A5.00.09.000") {
    PackageSpec desc;
    desc.header.targetVersion = target;
    desc.header.forPortable = 1;
    desc.versionRecords = {"A5.00.07.000"};
    desc.modelRecords = {"<All Version> KX41X-000G0000-M00000-U1-0-F"};
    PackageEntrySpec english;
    english.entry.kindName = "english language package";
    english.data.assign(2048, 0x45);
    RadioIdentity id;
    id.modelNumber = "KX412-000G0000-M00000-U1-0-F";
    id.serialNumber = "PT24000001";
    id.softwareVersion = "A5.00.07.000";
    PackageEntrySpec rcdb;
    rcdb.entry.kindName = "rcdb_data";
    rcdb.data = BuildRcdbImage(SampleRcdbSpec(id)).value();
    desc.entries = {english, rcdb};
    std::string path = dir.File("p.fud");
    EXPECT_TRUE(WritePackage(desc, path));
    return path;
  }

  TempDir dir;
  std::string home;
};

bool IsEventLine(const std::string& line) {
  return line.rfind("{\"event\":\"", 0) == 0 && !line.empty() && line.back() == '}';
}

TEST_F(UpgradeCli, JsonEventsOfAFullUpgradeEndWithReport2AndStatus0) {
  CliRun r = Cli("upgrade --sim portable " + Package() + " --json --no" + home);
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_FALSE(r.lines.empty());
  bool phase = false, progress = false;
  for (const std::string& line : r.lines) {
    EXPECT_TRUE(IsEventLine(line)) << line;
    phase = phase || line.rfind("{\"event\":\"phase\",\"text\":", 0) == 0;
    progress = progress || line.rfind("{\"event\":\"progress\",\"position\":", 0) == 0;
  }
  EXPECT_TRUE(phase);
  EXPECT_TRUE(progress);
  EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), "{\"event\":\"report\",\"code\":0}"), r.lines.end());
  EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), "{\"event\":\"report\",\"code\":2}"), r.lines.end());
  EXPECT_EQ(r.lines.back(),
            "{\"event\":\"notice\",\"text\":\"Upgrading Finished!\",\"warning\":false,\"icon\":\"information\"}");
}

TEST_F(UpgradeCli, ARefusalIsReportedWithItsPayloadAndStatus1) {
  CliRun r = Cli("upgrade --sim portable " + Package("A5.00.06.000") + " --json --no" + home);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), "{\"event\":\"report\",\"code\":17,\"payload\":\"A5.00.07.000\"}"),
            r.lines.end())
      << r.out;
}

TEST_F(UpgradeCli, ShowMarkReadsTheCompletionMarkBackFromTheRadio) {
  CliRun r = Cli("upgrade --sim portable " + Package() + " --no --show-mark" + home);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("status bytes 12-16: upgrade complete (F0)"), std::string::npos) << r.out;
}

TEST_F(UpgradeCli, RestoreBurnsTheBackupAndDeletesIt) {
  RadioIdentity id;
  id.modelNumber = "KX412-000G0000-M00000-U1-0-F";
  id.serialNumber = "PT24000001";
  id.softwareVersion = "A5.00.07.000";
  std::string backup = dir.Write("Restore/PT24000001[2020-01-01 10.00.00].rcd", BuildRcdbImage(SampleRcdbSpec(id)).value());
  CliRun r = Cli("restore --sim portable --package " + Package() + " \"" + backup + "\" --json" + home);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_FALSE(fs::exists(backup));
}

TEST_F(UpgradeCli, BadInputIsStatus2) {
  EXPECT_EQ(Cli("restore --sim portable " + dir.File("missing.rcd") + home).status, 2);
  EXPECT_EQ(Cli("upgrade --sim portable --port 9 " + Package() + home).status, 2);
  EXPECT_EQ(Cli("upgrade --sim portable " + dir.File("missing.fud") + home).status, 2);
  EXPECT_EQ(Cli("upgrade --yes --no" + home).status, 2);
}

}  // namespace
}  // namespace lw::test
