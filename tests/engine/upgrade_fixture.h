// The upgrade rig: a program directory, the shipped burn script, one simulated radio holding a
// small RCDB image as its configuration data, and a package written for it. Tests change the
// pieces (identity, package, settings, faults) before they run, and then look at the reports,
// the radio's flash and the backup folder.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/operation_report.h"
#include "config/burn_script.h"
#include "config/settings.h"
#include "engine/upgrade_operation.h"
#include "link/port_store.h"
#include "link/usb_transport.h"
#include "link/xrcp.h"
#include "package/fud_reader.h"
#include "package/fud_writer.h"
#include "package/rcdb_builder.h"
#include "sim/simulated_backend.h"
#include "support/temp_dir.h"

namespace lw::test {

// Records the reports of one operation and answers the question 13 as told.
class ReportSink : public OperationSink {
 public:
  struct Entry {
    ReportCode code;
    ReportPayload payload;
  };
  void Report(ReportCode code, ReportPayload payload) override {
    std::lock_guard lock(mutex);
    reports.push_back({code, std::move(payload)});
  }
  void Progress(int) override { ++progress; }
  void Phase(const std::string& text, int) override {
    std::lock_guard lock(mutex);
    phases.push_back(text);
  }
  void Log(const std::string& text) override {
    std::lock_guard lock(mutex);
    logs.push_back(text);
  }
  void PackageFound(const std::string& path) override {
    std::lock_guard lock(mutex);
    packagesFound.push_back(path);
  }
  bool AskRestore(const std::string& serial) override {
    std::lock_guard lock(mutex);
    asked.push_back(serial);
    return answer;
  }
  void SetExitAllowed(bool allowed) override { exitAllowed = allowed; }
  void SetLinkBusy(bool busy) override { linkBusy = busy; }
  bool StopRequested() const override { return stop->load(); }
  std::shared_ptr<const std::atomic<bool>> StopFlag() const override { return stop; }

  // The one final report (fails the test when there is not exactly one).
  Entry Final() const {
    EXPECT_EQ(reports.size(), 1u);
    return reports.empty() ? Entry{ReportCode::StartWorker, {}} : reports.back();
  }

  std::mutex mutex;
  std::vector<Entry> reports;
  std::vector<std::string> phases, logs, asked, packagesFound;
  std::atomic<int> progress{0};
  std::atomic<bool> exitAllowed{true}, linkBusy{false};
  bool answer = false;
  std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
};

inline RadioIdentity SampleIdentity() {
  RadioIdentity id;
  id.modelNumber = "KX412-000G0000-M00000-U1-0-F";
  id.serialNumber = "PT24000001";
  id.softwareVersion = "A5.00.07.000";
  id.restrictionCode = 0;
  return id;
}

inline Bytes RcdbImageFor(const RadioIdentity& id) {
  auto image = BuildRcdbImage(SampleRcdbSpec(id));
  EXPECT_TRUE(image.ok()) << image.status().message();
  return std::move(image).value_or(Bytes{});
}

inline Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7 + (i >> 8));
  return b;
}

inline PackageEntrySpec PkgEntry(const std::string& kind, Bytes data, uint32_t origin = 0) {
  PackageEntrySpec e;
  e.entry.kindName = kind;
  e.entry.fileName = kind + ".bin";
  e.entry.origin = origin;
  e.data = std::move(data);
  return e;
}

struct UpgradeRig {
  UpgradeRig() {
    ReadProgramSettings(std::string(LW_SOURCE_DIR) + "/data/set.ini", settings);
    settings.autoBurnArmMain = false;
    settings.autoBurnRegionLanguage = false;
    settings.timeoutMs = 300;
    settings.playSound = false;
    script.LoadBurnScript(std::string(LW_SOURCE_DIR) + "/data/Torvex.ini");
    identity = SampleIdentity();
    radioData = RcdbImageFor(identity);
    newRcdb = RcdbImageFor(identity);
    english = Pattern(4096, 3);
    package.header.producerVersion = "V7.06.01.003";
    package.header.targetVersion = "A5.00.09.000";
    package.header.forPortable = 1;
    package.versionRecords = {"A5.00.07.000"};
    package.modelRecords = {"<All Version> KX41X-000G0000-M00000-U1-0-F"};
    package.entries = {PkgEntry("english language package", english, 0x800000), PkgEntry("rcdb_data", newRcdb, 0xC00000)};
    profile = sim::DefaultSimProfile("rig");
    profile.bootloader = "01.04.006";
    profile.infoBlock = Bytes{0x4C, 0x57, 0x49, 0x42, 1, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  }

  std::string Home() const { return dir.path() + "/"; }
  std::string BackupDir() const { return dir.path() + "/Restore/"; }
  std::string PackagePath() const { return dir.File("pkg.fud"); }

  // Attaches the radio, writes the package, loads its restrictions and opens port 1 (unless
  // the connect step under test is to open it).
  void Prepare(bool choosePackage = true, bool openPort = true) {
    profile.radioData = radioData;
    radio = backend.Attach(profile);
    const Status written = WritePackage(package, PackagePath());
    ASSERT_TRUE(written.ok()) << written.message();
    if (choosePackage) {
      ASSERT_EQ(LoadPackage(PackagePath(), restrictions), PackageStatus::Ok);
    }
    int classFlag = 0;
    transport.Scan(nullptr, classFlag);
    if (openPort) {
      ASSERT_TRUE(transport.Open(1));
      transport.SetAnswerTimeout(int(settings.timeoutMs));
    }
    chosen = choosePackage;
  }

  UpgradeEnvironment Environment() {
    UpgradeEnvironment env;
    env.transport = &transport;
    env.settings = &settings;
    env.script = &script;
    env.restrictions = &restrictions;
    env.upgradeFiles = &upgradeFiles;
    env.tunerRules = &tunerRules;
    env.programDir = Home();
    env.backupDirectory = BackupDir();
    env.packagePath = chosen ? PackagePath() : "";
    env.link.bootloaderVersion = profile.bootloader;
    env.link.newProtocol = IsNewProtocol(profile.bootloader);
    env.link.deviceClass = profile.radioState;
    env.componentCheck = [this] { return componentResult; };
    env.convert = convert;
    env.validate = validate;
    env.pause = [](int) {};
    return env;
  }

  // Runs one operation on the test thread and returns its one report.
  ReportSink::Entry Run(const UpgradeRunOptions& options = {}) {
    UpgradeOperation op(Environment(), sink);
    op.Run(options);
    summary = op.summary();
    return sink.Final();
  }

  std::vector<std::string> Backups() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(BackupDir(), ec)) out.push_back(e.path().string());
    return out;
  }
  Bytes Flash(uint32_t address, uint32_t length, uint8_t selector = 0) {
    ByteView v = radio->Flash(selector).View(address, length);
    return Bytes(v.begin(), v.end());
  }
  bool Marked() {
    Bytes block = Flash(kInfoBlockAddress, 17);
    for (size_t i = 12; i < 17; ++i)
      if (block[i] != 0xF0) return false;
    return true;
  }

  TempDir dir;
  ProgramSettings settings;
  BurnScript script;
  RadioIdentity identity;
  Bytes radioData, newRcdb, english;
  PackageSpec package;
  PackageRestrictions restrictions;
  std::vector<UpgradeRule> upgradeFiles;
  std::vector<TunerRule> tunerRules;
  sim::SimProfile profile;
  sim::SimulatedBackend backend;
  MemoryPortStore store;
  UsbTransport transport{backend, &store, [] {
                           LinkOptions o;
                           o.readTimeoutMs = 20;
                           return o;
                         }()};
  std::shared_ptr<sim::SimulatedRadio> radio;
  bool chosen = true;
  int componentResult = 0;
  ConvertFunction convert;
  ValidateFunction validate;
  ReportSink sink;
  UpgradeSummary summary;
};

}  // namespace lw::test
