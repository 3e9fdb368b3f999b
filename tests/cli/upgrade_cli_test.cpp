// loftwise-cli upgrade and restore against the shipped simulated portable, on a program
// directory of our own: the JSON-lines events are a contract for scripts, and the exit status
// is 0 only for report 2.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "common/text.h"
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

// `limitSeconds` above 0 ends a run that takes longer (exit status 124), so that a hang fails
// the test instead of stopping the suite.
CliRun Cli(const std::string& args, int limitSeconds = 0) {
  CliRun r;
  const std::string limit = limitSeconds > 0 ? "timeout " + std::to_string(limitSeconds) + " " : "";
  std::string cmd = limit + std::string(LW_BIN_DIR) + "/loftwise-cli " + args + " 2>/dev/null </dev/null";
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
    EXPECT_TRUE(WritePackage(desc, path).ok());
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

std::string ReadText(const std::string& path) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::string LineStartingWith(const CliRun& r, const std::string& start) {
  for (const std::string& line : r.lines)
    if (line.rfind(start, 0) == 0) return line;
  return {};
}

// A write the radio takes and loses: an upgrade without verify calls the radio upgraded; with
// --verify it fails naming the place, and a sound radio passes with --verify too.
TEST_F(UpgradeCli, VerifyFailsOnADroppedWriteWithTheAddressAndPassesASoundRadio) {
  dir.WriteText("sim/dropper.ini",
                ReadText(dir.File("sim/portable.ini")) + "\ndrop_write = 0x01C3@2\n");  // after [faults]
  const std::string package = Package();
  struct Case {
    const char* options;
    int status;
  } cases[] = {{"--sim dropper", 0}, {"--sim dropper --verify", 1}, {"--sim portable --verify", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    CliRun r = Cli("upgrade " + std::string(c.options) + " " + package + " --json --no" + home);
    EXPECT_EQ(r.status, c.status) << r.out;
    const bool verify = std::string(c.options).find("--verify") != std::string::npos;
    EXPECT_EQ(!LineStartingWith(r, "{\"event\":\"phase\",\"text\":\"Verifying the written data\"").empty(), verify);
    if (c.status == 1) {
      EXPECT_EQ(LineStartingWith(r, "{\"event\":\"report\",\"code\":9"),
                "{\"event\":\"report\",\"code\":9,\"error\":-8003,\"rcdbSaved\":false,\"detail\":\"Read-back verify "
                "failed: english language package, main side, first difference at 0x800200 (written 45, read FF)\"}");
    }
  }
}

// A radio that babbles from plug-in on (bytes that never make a frame): probe, the connect step
// and the upgrade each end within 30 s instead of reading the stream for hours. (An answer may
// still slip in between two bytes of babble, so how they end is not the point.)
TEST_F(UpgradeCli, ABabblingRadioEndsProbeAndUpgradeWithin30Seconds) {
  dir.WriteText("sim/babbler.ini", ReadText(dir.File("sim/portable.ini")) + "\nbabble = 400\n");  // after [faults]
  const std::string package = Package();
  for (const std::string& command :
       {std::string("probe --sim babbler"), "upgrade --sim babbler " + package + " --json --no"}) {
    SCOPED_TRACE(command);
    const auto start = std::chrono::steady_clock::now();
    CliRun r = Cli(command + home, 60);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 30.0) << r.out;
    EXPECT_NE(r.status, 124) << "killed by the time limit";
  }
}

// A simulated upgrade recorded with "CommLog" on, then played back with --replay: the same
// ending; one request byte changed in the log stops the replay there; a log cut short ends the
// run as an unplugged radio would, in bounded time.
TEST_F(UpgradeCli, ARecordedUpgradeReplaysToTheSameEnding) {
  std::string settings = ReadText(dir.File("set.ini"));
  const size_t at = settings.find("CommLog=0");
  ASSERT_NE(at, std::string::npos);
  settings.replace(at, 9, "CommLog=1");
  dir.WriteText("set.ini", settings);
  const std::string package = Package();
  CliRun recorded = Cli("upgrade --sim portable " + package + " --json --no" + home);
  ASSERT_EQ(recorded.status, 0) << recorded.out;
  const std::string log = ReadText(dir.File("Comm.log"));
  dir.WriteText("recorded.log", log);

  CliRun replayed = Cli("upgrade --replay " + dir.File("recorded.log") + " " + package + " --json --no" + home);
  EXPECT_EQ(replayed.status, 0) << replayed.out;
  EXPECT_NE(std::find(replayed.lines.begin(), replayed.lines.end(), "{\"event\":\"report\",\"code\":2}"),
            replayed.lines.end());
  const std::string summary = LineStartingWith(replayed, "{\"event\":\"replay\"");
  EXPECT_NE(summary.find("\"diverged\":false,\"exhausted\":false"), std::string::npos) << summary;
  EXPECT_EQ(ReadText(dir.File("Comm.log")), log) << "a replay leaves the trace alone";

  // The 20th request line, its last byte (the end marker 03) made 04.
  std::vector<std::string> lines;
  for (size_t start = 0; start < log.size();) {
    size_t end = log.find('\n', start);
    lines.push_back(log.substr(start, end + 1 - start));
    start = end + 1;
  }
  size_t lineNumber = 0;
  for (size_t i = 0, requests = 0; i < lines.size() && !lineNumber; ++i)
    if (lines[i].find("PC -> Radio") != std::string::npos && ++requests == 20) lineNumber = i + 1;
  ASSERT_NE(lineNumber, 0u);
  std::string& changed = lines[lineNumber - 1];
  const size_t byteCount = (changed.size() - changed.find("): ") - 3) / 3;
  ASSERT_EQ(changed.substr(changed.size() - 5), " 03\r\n");
  changed.replace(changed.size() - 5, 5, " 04\r\n");
  std::string edited;
  for (const std::string& l : lines) edited += l;
  dir.WriteText("edited.log", edited);
  CliRun diverged = Cli("upgrade --replay " + dir.File("edited.log") + " " + package + " --json --no" + home);
  EXPECT_EQ(diverged.status, 1);
  EXPECT_NE(LineStartingWith(diverged, "{\"event\":\"report\",\"code\":9"), "");
  EXPECT_NE(LineStartingWith(diverged, "{\"event\":\"replay\"")
                .find(Format("replay diverged at request 20 (line %zu of %s): byte %zu differs, expected 04, sent 03",
                             lineNumber, dir.File("edited.log").c_str(), byteCount - 1)),
            std::string::npos)
      << diverged.out;

  // Cut in the middle of the log, in the middle of a line.
  dir.WriteText("cut.log", log.substr(0, log.size() / 2));
  const auto start = std::chrono::steady_clock::now();
  CliRun cut = Cli("upgrade --replay " + dir.File("cut.log") + " " + package + " --json --no" + home);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(LineStartingWith(cut, "{\"event\":\"report\",\"code\":9,\"error\":-"), "") << cut.out;
  EXPECT_NE(LineStartingWith(cut, "{\"event\":\"replay\"").find("\"exhausted\":true"), std::string::npos) << cut.out;
}

// upgrade --all over three simulated radios of their own serial numbers, two of which stop
// answering the erase of their configuration data (after its backup was written): each radio's
// events carry its port, the failures do not stop the third radio, every radio traces to a file
// of its own, and the two kept backups are two files.
class UpgradeAllCli : public UpgradeCli {
 protected:
  void SetUp() override {
    UpgradeCli::SetUp();
    if (IsSkipped()) return;
    std::string settings = ReadText(dir.File("set.ini"));
    const size_t at = settings.find("CommLog=0");
    ASSERT_NE(at, std::string::npos);
    settings.replace(at, 9, "CommLog=1");
    dir.WriteText("set.ini", settings);
    for (int i = 1; i <= 3; ++i) {
      RadioIdentity id;
      id.modelNumber = "KX412-000G0000-M00000-U1-0-F";
      id.serialNumber = Format("PT2400000%d", i);
      id.softwareVersion = "A5.00.07.000";
      dir.Write(Format("sim/r%d.rcdb", i), BuildRcdbImage(SampleRcdbSpec(id)).value());
      dir.WriteText(Format("sim/r%d.ini", i),
                    Format("[radio]\npath = sim:r%d\nradio_data = r%d.rcdb\nburn_script = ../Torvex.ini\n"
                           "[faults]\n%s\n",
                           i, i, i < 3 ? "no_answer = 0x01C4@5" : ""));
    }
    sims = " --sim r1 --sim r2 --sim r3 ";
  }
  std::string sims;
};

TEST_F(UpgradeAllCli, JsonEventsCarryThePortAndEndWithTheSummary) {
  CliRun r = Cli("upgrade --all" + sims + Package() + " --json --no" + home);
  EXPECT_EQ(r.status, 1) << r.out;
  ASSERT_FALSE(r.lines.empty());
  EXPECT_EQ(r.lines.back(),
            "{\"event\":\"summary\",\"results\":[{\"port\":1,\"code\":9},{\"port\":2,\"code\":9},"
            "{\"port\":3,\"code\":2}]}");
  std::map<int, std::vector<std::string>> byPort;
  for (size_t i = 0; i + 1 < r.lines.size(); ++i) {
    const std::string& line = r.lines[i];
    ASSERT_EQ(line.rfind("{\"port\":", 0), 0u) << line;
    const int port = std::stoi(line.substr(8));
    byPort[port].push_back("{" + line.substr(line.find(',') + 1));
  }
  ASSERT_EQ(byPort.size(), 3u);
  for (auto& [port, events] : byPort) {
    SCOPED_TRACE(port);
    const std::string report = port < 3 ? "{\"event\":\"report\",\"code\":9,\"error\":-1,\"rcdbSaved\":true}"
                                        : "{\"event\":\"report\",\"code\":2}";
    auto started = std::find(events.begin(), events.end(), "{\"event\":\"report\",\"code\":0}");
    auto ended = std::find(events.begin(), events.end(), report);
    EXPECT_TRUE(started < ended && ended != events.end()) << "its own events, in the order they happened";
    // The radio is named as soon as its data are read, before its run ends.
    auto named = std::find(events.begin(), events.end(),
                           Format("{\"event\":\"radio\",\"serial\":\"PT2400000%d\",\"model\":"
                                  "\"KX412-000G0000-M00000-U1-0-F\"}",
                                  port));
    EXPECT_TRUE(started < named && named < ended);
    const std::string trace = ReadText(dir.File(Format("Comm-port%03d.log", port)));
    EXPECT_NE(trace.find(" PC -> Radio("), std::string::npos);
    // Only its own radio's answers: the serial number another radio answers with never shows.
    std::string answers;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);)
      if (line.rfind(" PC <- Radio(", 0) == 0) answers += line;
    for (int other = 1; other <= 3; ++other) {
      std::string serial = Format("PT2400000%d", other), hex;
      for (char c : serial) hex += Format(" %02X", unsigned(c));
      EXPECT_EQ(answers.find(hex) != std::string::npos, other == port) << serial;
    }
  }
  EXPECT_FALSE(fs::exists(dir.File("Comm.log"))) << "no interleaved trace";
  std::vector<std::string> backups;
  for (const auto& e : fs::directory_iterator(dir.File("Restore"))) backups.push_back(e.path().filename().string());
  std::sort(backups.begin(), backups.end());
  ASSERT_EQ(backups.size(), 2u);
  EXPECT_EQ(backups[0].substr(0, 11), "PT24000001[");
  EXPECT_EQ(backups[1].substr(0, 11), "PT24000002[");
}

TEST_F(UpgradeAllCli, WithoutJsonATableNamesEveryRadio) {
  CliRun r = Cli("upgrade --all --sim r3 --sim r1 " + Package() + " --no" + home);
  EXPECT_EQ(r.status, 1) << r.out;
  ASSERT_GE(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[r.lines.size() - 3].rfind("port      serial        model", 0), 0u) << r.out;
  EXPECT_EQ(r.lines[r.lines.size() - 2].rfind("USB(001)  PT24000003    KX412-000G0000-M00000-U1-0-F    ", 0), 0u);
  EXPECT_NE(r.lines[r.lines.size() - 2].find("Upgrading Finished!"), std::string::npos);
  EXPECT_NE(r.lines.back().find("Reading data error!"), std::string::npos);
  EXPECT_EQ(Cli("upgrade --all --sim r3 " + Package() + " --no" + home).status, 0);
  EXPECT_EQ(Cli("upgrade --all --port 1 --sim r3" + home).status, 2);
  EXPECT_EQ(Cli("upgrade --all --sim r3 --sim r3" + home).status, 2);
  EXPECT_EQ(Cli("upgrade --sim r3 --trace-file ../x.log" + home).status, 2);
}

TEST_F(UpgradeCli, BadInputIsStatus2) {
  EXPECT_EQ(Cli("restore --sim portable " + dir.File("missing.rcd") + home).status, 2);
  EXPECT_EQ(Cli("upgrade --sim portable --port 9 " + Package() + home).status, 2);
  EXPECT_EQ(Cli("upgrade --sim portable " + dir.File("missing.fud") + home).status, 2);
  EXPECT_EQ(Cli("upgrade --yes --no" + home).status, 2);
  EXPECT_EQ(Cli("upgrade --replay " + dir.File("missing.log") + home).status, 2);
  EXPECT_EQ(Cli("upgrade --replay " + dir.WriteText("x.log", "not a log\n") + " --sim portable" + home).status, 2);
  EXPECT_EQ(Cli("probe --replay " + dir.File("x.log") + home).status, 2);
}

}  // namespace
}  // namespace lw::test
