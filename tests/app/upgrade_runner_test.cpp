// The connect step and the threaded runner under the real operation controller, against the
// simulated radio: the reports of the connect step, a whole upgrade and restore, the watchdog
// on a radio that stops answering, and the auto-test series.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app/app_test_util.h"
#include "app/operation_controller.h"
#include "app/operation_runner_impl.h"
#include "app/remote_services_impl.h"
#include "engine/backup_store.h"
#include "engine/connect_step.h"
#include "engine/upgrade_fixture.h"

namespace lw::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// --- The connect step ----------------------------------------------------------------------------

struct ConnectCase {
  const char* name;
  int port;
  std::string bootloader;
  bool burnOldVersion;
  std::function<void(sim::SimProfile&)> change;
  ReportCode code;
  bool newProtocol;
  int deviceClass;
};

TEST(ConnectStep, ReportsAndFactsAndTheConfiguredTimeOutOnEveryPath) {
  const ConnectCase cases[] = {
      {"no port selected", 0, "01.04.006", false, nullptr, ReportCode::OpenFailed, false, 0},
      {"no radio on the port", 7, "01.04.006", false, nullptr, ReportCode::OpenFailed, false, 0},
      {"bootloader too old", 1, "01.04.000", false, nullptr, ReportCode::BootloaderLow, false, 0},
      {"old bootloader allowed", 1, "01.04.000", true, nullptr, ReportCode::StartWorker, false, 0},
      {"last old protocol", 1, "01.04.005", false, nullptr, ReportCode::StartWorker, false, 0},
      {"new protocol", 1, "01.04.006", false, nullptr, ReportCode::StartWorker, true, 0},
      {"repeater", 1, "01.04.006", false, [](sim::SimProfile& p) { p.radioState = 2; }, ReportCode::StartWorker,
       true, 2},
      {"unknown class", 1, "01.04.006", false, [](sim::SimProfile& p) { p.radioState = 7; }, ReportCode::StartWorker,
       true, 0},
      {"no answer to the version query", 1, "01.04.006", false,
       [](sim::SimProfile& p) { p.faults.noAnswer = {{kCmdBootloaderVersion, 1, true, 0}}; }, ReportCode::ReadError,
       false, 0},
      {"no answer to the state query", 1, "01.04.006", false,
       [](sim::SimProfile& p) { p.faults.noAnswer = {{kCmdRadioState, 1, true, 0}}; }, ReportCode::ReadError, true,
       0},
      // The two queries wait 3,000 ms for their answers, whatever the configured time-out (1,234
      // ms here): answers after 2 s still count, one after 3.6 s does not.
      {"slow answers within the query time-out", 1, "01.04.006", false,
       [](sim::SimProfile& p) {
         p.faults.delay = {{kCmdBootloaderVersion, 1, false, 2000}, {kCmdRadioState, 1, false, 2000}};
       },
       ReportCode::StartWorker, true, 0},
      {"an answer later than the query time-out", 1, "01.04.006", false,
       [](sim::SimProfile& p) { p.faults.delay = {{kCmdBootloaderVersion, 1, false, 3600}}; }, ReportCode::ReadError,
       false, 0},
  };
  for (const ConnectCase& c : cases) {
    SCOPED_TRACE(c.name);
    UpgradeRig rig;
    rig.profile.bootloader = c.bootloader;
    if (c.change) c.change(rig.profile);
    rig.settings.burnOldVersion = c.burnOldVersion;
    rig.settings.timeoutMs = 1234;
    rig.Prepare(true, false);
    ReportSink sink;
    LinkFacts facts = RunConnectStep(rig.transport, c.port, rig.settings, sink);
    auto report = sink.Final();
    EXPECT_EQ(report.code, c.code);
    EXPECT_EQ(facts.ready, c.code == ReportCode::StartWorker);
    if (c.code == ReportCode::StartWorker) {
      EXPECT_EQ(facts.bootloaderVersion, c.bootloader);
      EXPECT_EQ(facts.newProtocol, c.newProtocol);
      EXPECT_EQ(facts.deviceClass, c.deviceClass);
    }
    if (c.code == ReportCode::BootloaderLow) {
      EXPECT_EQ(PayloadText(report.payload), c.bootloader);
      auto requests = rig.radio->Requests();
      ASSERT_EQ(requests.size(), 1u) << "nothing is sent after the version query";
      EXPECT_EQ(requests[0].code, kCmdBootloaderVersion);
    }
    if (c.code == ReportCode::ReadError) {
      EXPECT_TRUE(std::holds_alternative<std::monostate>(report.payload));
    }
    EXPECT_EQ(sink.linkBusy, c.code != ReportCode::OpenFailed);
    if (c.code != ReportCode::OpenFailed) {
      EXPECT_EQ(rig.transport.AnswerTimeout(), 1234);
    }
  }
}

// --- Through the controller ----------------------------------------------------------------------

struct ControllerRig {
  explicit ControllerRig(std::function<void(UpgradeRig&)> change = nullptr) {
    if (change) change(rig);
    rig.Prepare(true, false);
    RunnerSetup s;
    s.transport = &rig.transport;
    s.settings = &rig.settings;
    s.script = &rig.script;
    s.restrictions = &rig.restrictions;
    s.upgradeRules = &rules;
    s.tunerRules = &rig.tunerRules;
    s.programDir = rig.Home();
    s.backupDirectory = rig.BackupDir();
    s.selectedPort = [this] { return selected; };
    s.packagePath = [this] { return rig.PackagePath(); };
    s.componentCheck = [this] { return componentCheck ? componentCheck() : kOk; };
    s.pause = [](int) {};
    s.port = &port;
    setup = s;
    runner = std::make_unique<UpgradeRunner>(s);
    controller = std::make_unique<OperationController>(port, *runner, rig.settings, rig.Home());
    controller->SetReportObserver([this](ReportCode code, const ReportPayload&) { reports.push_back(code); });
  }
  ~ControllerRig() {
    controller.reset();
    runner.reset();
  }

  // Plays the user-interface thread until the controller is idle again.
  bool RunToIdle(std::chrono::seconds limit = 120s) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      port.RunPending();
      if (controller->phase() == OperationPhase::Idle && port.Queued() == 0) return true;
      std::this_thread::sleep_for(2ms);
    }
    return false;
  }
  bool Noticed(const std::string& text) const {
    return std::find(port.notices.begin(), port.notices.end(), text) != port.notices.end();
  }

  UpgradeRig rig;
  UpgradeRules rules;
  RecordingPort port;
  int selected = 1;
  std::function<int()> componentCheck;
  RunnerSetup setup;
  std::unique_ptr<UpgradeRunner> runner;
  std::unique_ptr<OperationController> controller;
  std::vector<ReportCode> reports;
};

TEST(UpgradeRunner, UpgradesThroughTheControllerAndClosesThePort) {
  ControllerRig c;
  ASSERT_TRUE(c.controller->StartUpgrade());
  ASSERT_TRUE(c.RunToIdle());
  EXPECT_EQ(c.reports, (std::vector<ReportCode>{ReportCode::StartWorker, ReportCode::Finished}));
  EXPECT_TRUE(c.Noticed("Upgrading Finished!"));
  c.runner->WaitIdle();
  EXPECT_FALSE(c.rig.transport.IsOpened()) << "the port is closed once the operation ended";
  EXPECT_TRUE(c.rig.Marked());
  EXPECT_EQ(c.runner->linkFacts().bootloaderVersion, "01.04.006");
  EXPECT_TRUE(c.controller->exitAllowed());
}

// With the trace on, Comm.log holds the last upgrade only: what an earlier session left in it
// is gone, and the upgrade's own frames are there.
TEST(UpgradeRunner, TraceHoldsTheLastUpgradeOnly) {
  ControllerRig c([](UpgradeRig& r) {
    r.settings.commLog = 1;
    LinkOptions options = r.transport.options();
    options.commLog = true;
    options.commLogPath = r.dir.File("Comm.log");
    r.transport.SetOptions(options);
    r.dir.WriteText("Comm.log", "an earlier session's line\r\n");
  });
  ASSERT_TRUE(c.controller->StartUpgrade());
  ASSERT_TRUE(c.RunToIdle());
  c.runner->WaitIdle();
  EXPECT_EQ(c.reports, (std::vector<ReportCode>{ReportCode::StartWorker, ReportCode::Finished}));
  const Bytes bytes = ReadFileBytes(c.rig.dir.File("Comm.log"));
  const std::string log(bytes.begin(), bytes.end());
  EXPECT_EQ(log.find("an earlier session"), std::string::npos);
  EXPECT_NE(log.find("PC -> Radio"), std::string::npos);
}

TEST(UpgradeRunner, ABootloaderTooOldEndsTheOperationWithItsVersionInTheNotice) {
  ControllerRig c([](UpgradeRig& r) { r.profile.bootloader = "01.03.009"; });
  ASSERT_TRUE(c.controller->StartUpgrade());
  ASSERT_TRUE(c.RunToIdle());
  EXPECT_EQ(c.reports, std::vector<ReportCode>{ReportCode::BootloaderLow});
  EXPECT_TRUE(c.Noticed("01.03.009 Bootloader version is low! Please upgrade it!"));
  c.runner->WaitIdle();
  EXPECT_FALSE(c.rig.transport.IsOpened());
}

TEST(UpgradeRunner, RestoreRunThroughTheController) {
  ControllerRig c;
  auto backup = BackupStore(c.rig.BackupDir()).WriteBackupAt("PT24000001", c.rig.radioData, 1'000'000'000);
  ASSERT_TRUE(backup.written);
  ASSERT_TRUE(c.controller->StartRestore(backup.path));
  ASSERT_TRUE(c.RunToIdle());
  EXPECT_EQ(c.reports, (std::vector<ReportCode>{ReportCode::StartWorker, ReportCode::Finished}));
  EXPECT_FALSE(fs::exists(backup.path));
}

// A radio that stops answering in the middle of the burn, with a long configured time-out: the
// watchdog ends the operation after twenty ticks without progress, and the worker, once its
// request has timed out, sends nothing more to the radio and its report is dropped.
TEST(UpgradeRunner, WatchdogEndsTheOperationOnARadioThatStopsAnswering) {
  ControllerRig c([](UpgradeRig& r) {
    r.settings.timeoutMs = 4000;
    r.profile.faults.noAnswer = {{kCmdMemoryErase, 3, true, 0}};
  });
  ASSERT_TRUE(c.controller->StartUpgrade());
  auto deadline = std::chrono::steady_clock::now() + 60s;
  while (c.rig.radio->Requests(kCmdMemoryErase).size() < 3 && std::chrono::steady_clock::now() < deadline) {
    c.port.RunPending();
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(c.rig.radio->Requests(kCmdMemoryErase).size(), 3u);
  c.port.RunPending();
  const size_t requests = c.rig.radio->RequestCount();

  c.controller->Tick();  // takes the position reached so far
  for (int i = 0; i < 19; ++i) c.controller->Tick();
  EXPECT_EQ(c.controller->phase(), OperationPhase::Running) << "nineteen stalled ticks change nothing";
  c.controller->Tick();
  EXPECT_EQ(c.controller->phase(), OperationPhase::Idle);
  EXPECT_TRUE(c.Noticed("Communication error! Please close the Loftwise and radio, retry!"));
  EXPECT_EQ(c.port.logs.back(), "Upgrade Cancelled!");

  c.runner->WaitIdle();
  c.port.RunPending();
  EXPECT_EQ(c.rig.radio->RequestCount(), requests) << "the stopped worker touched the radio again";
  EXPECT_EQ(c.reports, std::vector<ReportCode>{ReportCode::StartWorker}) << "its late report is dropped";
  EXPECT_FALSE(c.rig.transport.IsOpened());
  EXPECT_FALSE(c.rig.Marked());
  EXPECT_TRUE(c.controller->exitAllowed());
}

// A worker that throws (out of memory, a thread that cannot be started, an exception out of the
// compression) ends its operation with report 9 and says why; the program neither aborts nor
// stays busy.
TEST(UpgradeRunner, AWorkerThatThrowsEndsWithReport9AndAReason) {
  ControllerRig c;
  c.componentCheck = []() -> int { throw std::bad_alloc(); };
  ASSERT_TRUE(c.controller->StartUpgrade());
  ASSERT_TRUE(c.RunToIdle());
  c.runner->WaitIdle();
  EXPECT_EQ(c.reports, (std::vector<ReportCode>{ReportCode::StartWorker, ReportCode::ReadError}));
  EXPECT_TRUE(std::any_of(c.port.logs.begin(), c.port.logs.end(),
                          [](const std::string& line) { return line.find("bad_alloc") != std::string::npos; }));
  EXPECT_TRUE(c.controller->exitAllowed());
  EXPECT_FALSE(c.rig.transport.IsOpened());
}

// The operator presses Upgrade again, for another radio, right after the watchdog gave up on the
// first one while its worker is still inside its last request. The new operation runs on the
// radio of the port it was given, and the stopped worker's radio hears nothing more.
TEST(UpgradeRunner, AnUpgradeAfterTheWatchdogRunsOnThePortItWasGiven) {
  ControllerRig c([](UpgradeRig& r) {
    r.settings.timeoutMs = 3000;
    r.profile.faults.noAnswer = {{kCmdMemoryErase, 3, true, 0}};
  });
  sim::SimProfile second = sim::DefaultSimProfile("second");
  second.path = "sim:second";
  second.bootloader = c.rig.profile.bootloader;
  second.infoBlock = c.rig.profile.infoBlock;
  second.radioData = c.rig.radioData;
  auto other = c.rig.backend.Attach(second);
  int classFlag = 0;
  c.rig.transport.Scan(nullptr, classFlag);

  ASSERT_TRUE(c.controller->StartUpgrade());
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (c.rig.radio->Requests(kCmdMemoryErase).size() < 3 && std::chrono::steady_clock::now() < deadline) {
    c.port.RunPending();
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(c.rig.radio->Requests(kCmdMemoryErase).size(), 3u);
  c.port.RunPending();
  for (int i = 0; i < 21; ++i) c.controller->Tick();
  ASSERT_EQ(c.controller->phase(), OperationPhase::Idle);
  const size_t firstRequests = c.rig.radio->RequestCount();

  c.selected = 2;
  c.reports.clear();
  ASSERT_TRUE(c.controller->StartUpgrade());
  ASSERT_TRUE(c.RunToIdle());
  c.runner->WaitIdle();
  EXPECT_EQ(c.reports, (std::vector<ReportCode>{ReportCode::StartWorker, ReportCode::Finished}));
  EXPECT_GT(other->RequestCount(), 0u) << "the radio of port 2 was upgraded";
  EXPECT_EQ(c.rig.radio->RequestCount(), firstRequests) << "the first radio heard more after the watchdog";
  EXPECT_FALSE(c.rig.Marked());
}

// The package language chosen on the window while an upgrade runs applies to the next
// operation: the running worker burns the region file its operation started with, whatever
// the menu writes meanwhile.
TEST(UpgradeRunner, ASettingChangedDuringTheOperationDoesNotReachItsWorker) {
  ControllerRig c([](UpgradeRig& r) {
    r.settings.autoBurnRegionLanguage = true;
    r.settings.farsiFile = "Farsi.bin";
    r.settings.arabicFile = "Arabic.bin";
    r.settings.selectLanguageText = "1";
    r.dir.Write("UpgradeFile/Farsi.bin", Pattern(4096, 11));
    r.dir.Write("UpgradeFile/Arabic.bin", Pattern(4096, 29));
  });
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false, released = false;
  c.componentCheck = [&] {
    std::unique_lock lock(mutex);
    entered = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
    return kOk;
  };
  ASSERT_TRUE(c.controller->StartUpgrade());
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  for (;;) {
    c.port.RunPending();
    std::lock_guard lock(mutex);
    if (entered || std::chrono::steady_clock::now() > deadline) break;
  }
  ASSERT_TRUE(entered) << "the worker never started";
  c.rig.settings.selectLanguageText = "2";  // the menu, on the user-interface thread
  {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
  ASSERT_TRUE(c.RunToIdle());
  EXPECT_EQ(c.reports, (std::vector<ReportCode>{ReportCode::StartWorker, ReportCode::Finished}));
  EXPECT_EQ(c.rig.Flash(0x880000, 4096), Pattern(4096, 11)) << "the region file of the operation's start";
}

// --- The auto-test series ------------------------------------------------------------------------

void WriteAutoTestFiles(UpgradeRig& rig, const std::vector<RadioIdentity>& radios) {
  char name = 'a';
  for (const RadioIdentity& id : radios) rig.dir.Write(std::string("AutoTest_InFile/") + name++ + ".rcdb", RcdbImageFor(id));
}

TEST(UpgradeRunner, AutoTestSeriesGoesOnAfterARefusal) {
  ControllerRig c([](UpgradeRig& r) {
    r.settings.autoTest = true;
    RadioIdentity newer = r.identity;
    newer.softwareVersion = "A5.00.10.000";
    WriteAutoTestFiles(r, {newer, r.identity, r.identity});
  });
  ASSERT_TRUE(c.controller->StartUpgrade());
  ASSERT_TRUE(c.RunToIdle());
  EXPECT_EQ(c.reports, (std::vector<ReportCode>{ReportCode::FirmwareBeyond, ReportCode::Finished, ReportCode::Finished}));
  EXPECT_EQ(c.controller->autoTestIndex(), 3u);
  // The data came from the files: the radio's own configuration data were never read.
  EXPECT_EQ(c.rig.radio->Requests(kCmdMemoryRead).size(), 2u * (0x100000 / 512 + 2));
}

// "Model Type" is the radio's class until the radio says otherwise: where the auto-test series
// cannot learn it (no answer to the state query), the preset stands, not class 0.
TEST(UpgradeRunner, TheModelTypePresetStandsWhereTheRadioDoesNotSay) {
  for (bool answers : {true, false}) {
    SCOPED_TRACE(answers ? "the radio says class 0" : "no answer to the state query");
    ControllerRig c([answers](UpgradeRig& r) {
      r.settings.autoTest = true;
      r.settings.modelType = 2;
      if (!answers) r.profile.faults.noAnswer = {{kCmdRadioState, 1, true, 0}};
      WriteAutoTestFiles(r, {r.identity});
    });
    ASSERT_TRUE(c.controller->StartUpgrade());
    ASSERT_TRUE(c.RunToIdle());
    c.runner->WaitIdle();
    EXPECT_EQ(c.runner->linkFacts().deviceClass, answers ? 0 : 2);
  }
}

TEST(UpgradeRunner, AutoTestSeriesEndsAfterAFailure) {
  int runs = 0;
  ControllerRig c([](UpgradeRig& r) {
    r.settings.autoTest = true;
    WriteAutoTestFiles(r, {r.identity, r.identity, r.identity});
  });
  c.componentCheck = [&runs] { return ++runs == 2 ? kComponentCheckFailed : kOk; };
  ASSERT_TRUE(c.controller->StartUpgrade());
  ASSERT_TRUE(c.RunToIdle());
  EXPECT_EQ(c.reports, (std::vector<ReportCode>{ReportCode::Finished, ReportCode::ReadError}));
  EXPECT_EQ(runs, 2);
}

// The notice after an auto-test file is modal and lets other work in: a remote UPGRADE that
// claims the radio while it is open must keep it to itself, so the series ends instead of
// starting its next file on the same link.
TEST(UpgradeRunner, AutoTestSeriesEndsWhenTheRadioIsClaimedDuringItsNotice) {
  ControllerRig c([](UpgradeRig& r) {
    r.settings.autoTest = true;
    WriteAutoTestFiles(r, {r.identity, r.identity});
  });
  RemoteServicesSetup remoteSetup;
  remoteSetup.port = &c.port;
  remoteSetup.controller = c.controller.get();
  remoteSetup.runner = c.runner.get();
  remoteSetup.state = c.setup;
  RemoteServicesImpl remote(remoteSetup);
  c.controller->SetRadioClaimCheck([&remote] { return remote.Busy(); });

  std::unique_ptr<RemoteUpgradeJob> job;
  std::thread station;
  c.port.whileNoticeOpen = [&](const std::string& text) {
    if (text != "Upgrading Finished!" || station.joinable()) return;
    station = std::thread([&] { job = remote.BeginUpgrade(); });
    // The notice's own event loop takes the station's claim.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!remote.Busy() && std::chrono::steady_clock::now() < deadline) {
      c.port.RunPending();
      std::this_thread::sleep_for(1ms);
    }
  };
  ASSERT_TRUE(c.controller->StartUpgrade());
  ASSERT_TRUE(c.RunToIdle());
  ASSERT_TRUE(station.joinable());
  station.join();
  ASSERT_TRUE(job) << "the station's claim was taken while the notice was open";
  EXPECT_EQ(c.reports, std::vector<ReportCode>{ReportCode::Finished}) << "no second file on a claimed radio";
  EXPECT_EQ(c.controller->phase(), OperationPhase::Idle);
  EXPECT_FALSE(c.controller->StartUpgrade()) << "nor an operator's operation while the claim holds";
  job.reset();
  c.port.RunPending();
  EXPECT_FALSE(remote.Busy());
}

}  // namespace
}  // namespace lw::test
