// The operation controller against a recording window and a stand-in runner: the test speaks
// for the connect step and the worker through the sink the controller hands out, exactly as
// the real ones do (posting from their own threads where it matters).
#include "app/operation_controller.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "app/app_test_util.h"
#include "ui/translate.h"

namespace lw {
namespace {

using test::FakeRunner;
using test::RecordingPort;
using test::ScratchDir;

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { SetTranslationTable({}); }
  void TearDown() override { SetTranslationTable({}); }

  // Upgrade pressed, connect step reported 0: the worker runs.
  void StartRunning() {
    ASSERT_TRUE(controller.StartUpgrade());
    ASSERT_EQ(controller.phase(), OperationPhase::Connecting);
    ASSERT_TRUE(runner.connectSink);
    runner.connectSink->SetLinkBusy(true);
    runner.connectSink->Report(ReportCode::StartWorker);
    port.RunPending();
    ASSERT_EQ(controller.phase(), OperationPhase::Running);
    ASSERT_TRUE(runner.workerSink);
  }

  void Report(ReportCode code, ReportPayload payload = {}) {
    runner.workerSink->Report(code, std::move(payload));
    port.RunPending();
  }

  void ExpectIdleAfterEnd() {
    EXPECT_EQ(controller.phase(), OperationPhase::Idle);
    EXPECT_TRUE(controller.exitAllowed());
    EXPECT_TRUE(port.controlsEnabled);
    EXPECT_FALSE(port.busy);
    EXPECT_FALSE(controller.watchdogArmed());
  }

  ScratchDir dir;
  RecordingPort port;
  FakeRunner runner;
  ProgramSettings settings;
  OperationController controller{port, runner, settings, dir.Dir()};
};

TEST_F(ControllerTest, StartDisablesControlsAndRunsTheConnectStepThenTheWorkerOnReport0) {
  ASSERT_TRUE(controller.StartUpgrade());
  EXPECT_EQ(runner.portCloses, 1) << "a device left open is closed first (AutoTest off)";
  EXPECT_EQ(runner.connectSteps, 1);
  EXPECT_TRUE(runner.workers.empty());
  EXPECT_FALSE(port.controlsEnabled);
  EXPECT_TRUE(port.busy);
  EXPECT_TRUE(controller.waitCursor());
  EXPECT_EQ(controller.operationKind(), kOperationKindUpgrade);
  EXPECT_FALSE(controller.StartUpgrade()) << "one operation at a time";

  runner.connectSink->SetLinkBusy(true);
  runner.connectSink->Report(ReportCode::StartWorker);
  EXPECT_EQ(controller.phase(), OperationPhase::Connecting) << "reports wait for the UI thread";
  port.RunPending();
  EXPECT_EQ(controller.phase(), OperationPhase::Running);
  ASSERT_EQ(runner.workers.size(), 1u);
  EXPECT_EQ(runner.workers[0].autoTestFile, "");
  EXPECT_EQ(runner.workerSink, runner.connectSink) << "the worker belongs to the same operation";
  EXPECT_FALSE(port.busy);
  EXPECT_EQ(port.logClears, 1);
  EXPECT_TRUE(controller.watchdogArmed());
  EXPECT_TRUE(controller.linkBusy());
}

// Every final report: what the operator is told, what is logged, and that the window is idle
// again with the link released.
struct ReportCase {
  const char* name;
  ReportCode code;
  ReportPayload payload;
  std::string notice;
  bool warning;
  std::vector<std::string> logs;
};

void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

class ReportTableTest : public ControllerTest, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(ReportTableTest, ShowsItsMessageLogsAndEndsTheOperation) {
  const ReportCase& c = GetParam();
  StartRunning();
  int closesBefore = runner.portCloses;
  Report(c.code, c.payload);

  ASSERT_EQ(port.notices.size(), 1u);
  EXPECT_EQ(port.notices[0], c.notice);
  std::string shown = (c.warning ? "warning: " : "notice: ") + c.notice;
  EXPECT_NE(std::find(port.events.begin(), port.events.end(), shown), port.events.end()) << shown;
  EXPECT_EQ(port.logs, c.logs);
  ExpectIdleAfterEnd();
  EXPECT_FALSE(controller.linkBusy());
  EXPECT_GT(runner.portCloses, closesBefore);
  EXPECT_TRUE(runner.workerSink->StopRequested()) << "an ended operation's worker is done with the radio";
}

const char* const kCancelled = "Upgrade Cancelled!";

INSTANTIATE_TEST_SUITE_P(
    EveryCode, ReportTableTest,
    ::testing::Values(
        ReportCase{"Finished", ReportCode::Finished, {}, "Upgrading Finished!", false, {}},
        ReportCase{"OpenFailed", ReportCode::OpenFailed, {}, "Open USB failed!", true, {}},
        ReportCase{"OpenFailedNoPermission", ReportCode::OpenFailed, std::string("No permission: the udev rule"),
                   "Open USB failed!\nNo permission: the udev rule", true, {"No permission: the udev rule"}},
        ReportCase{"ReadErrorNoRecord", ReportCode::ReadError, {}, "Reading data error!", false,
                   {"Reading data error!"}},
        ReportCase{"ConversionFailed", ReportCode::ReadError, UpgradeFailure{kConversionFailed, 0},
                   "Data conversion failed, please re-upgrade!", false,
                   {"Data conversion failed, please re-upgrade!"}},
        ReportCase{"ComponentCheck", ReportCode::ReadError, UpgradeFailure{kComponentCheckFailed, 0},
                   "Upgrade components is incorrect, please re-install the upgrade program!", false,
                   {"Upgrade components is incorrect, please re-install the upgrade program!"}},
        ReportCase{"WriteRefusedSaved", ReportCode::ReadError, UpgradeFailure{kWriteRefused, 1},
                   "Writing data error! RCDB data is already saved to file, from you can restore your "
                   "data when necessary.",
                   false,
                   {"Writing data error! RCDB data is already saved to file, from you can restore your "
                    "data when necessary."}},
        ReportCase{"NoAnswer", ReportCode::ReadError, UpgradeFailure{kNoAnswer, 0}, "Reading data error!",
                   false, {"Reading data error!"}},
        ReportCase{"PackageOpen", ReportCode::PackageError, 0, "Opening file failed!", false, {}},
        ReportCase{"PackageMagic", ReportCode::PackageError, 1, "fud file format error!", false, {}},
        ReportCase{"PackageImageMissing", ReportCode::PackageError,
                   ImageLoadFailure{0, "[gif package] Cannot open image file /lw/UpgradeFile/PDT Portable.bin."},
                   "Opening file failed!\n[gif package] Cannot open image file /lw/UpgradeFile/PDT Portable.bin.",
                   false, {}},
        ReportCase{"PackageImageTooLarge", ReportCode::PackageError,
                   ImageLoadFailure{1, "[dsp_main] Image file /pkg/dsp.bin is larger than the image buffer."},
                   "fud file format error!\n[dsp_main] Image file /pkg/dsp.bin is larger than the image buffer.",
                   false, {}},
        ReportCase{"BootloaderLow", ReportCode::BootloaderLow, std::string("01.04.000"),
                   "01.04.000 Bootloader version is low! Please upgrade it!", false, {}},
        ReportCase{"Firmware", ReportCode::FirmwareBeyond, std::string("A3.00.01.000"),
                   "The firmware version [A3.00.01.000] is beyond the upgrade software!", false, {kCancelled}},
        ReportCase{"Model", ReportCode::ModelBeyond, TwoTexts{"KX999", "extra"},
                   "The model number [KX999] is beyond the upgrade software!", false, {kCancelled}},
        ReportCase{"RadioTypeMobileTrunking", ReportCode::RadioTypeBeyond, std::string("KV620-T"),
                   "The radio type [Mobile_trunking] is beyond the upgrade software!", false, {kCancelled}},
        ReportCase{"RadioTypeRepeater", ReportCode::RadioTypeBeyond, std::string("KQ100"),
                   "The radio type [Repeater] is beyond the upgrade software!", false, {kCancelled}},
        ReportCase{"RadioTypeNone", ReportCode::RadioTypeBeyond, std::string(""), "", false, {kCancelled}},
        ReportCase{"Extern", ReportCode::ExternMissing, std::string("/pkg/dsp.bin"),
                   "The extern file [/pkg/dsp.bin] is not exist!", false, {kCancelled}},
        ReportCase{"RcdbFormat", ReportCode::RcdbFormatError, {}, "rcdb file format error!", false, {kCancelled}},
        ReportCase{"Serial", ReportCode::SerialBeyond, TwoTexts{"1234567890", "x"},
                   "The serial number [1234567890] is beyond the upgrade file!", false, {kCancelled}},
        ReportCase{"CustomerCode", ReportCode::CustomerCodeBeyond, {},
                   "Customer code is beyond the upgrade software!", false, {kCancelled}},
        ReportCase{"BurnFailed", ReportCode::BurnFailed, {}, "Burn Failed!", false, {"Burn Failed!"}}),
    [](const ::testing::TestParamInfo<ReportCase>& info) { return std::string(info.param.name); });

// Data that are neither RCDB nor a record list: the parser's code in a stop box first, in the
// operator's language, then the common notice; the operation ends as for any refusal.
TEST_F(ControllerTest, RecordListParseFailureShowsTheParserCodeInAStopBoxFirst) {
  SetTranslationTable({{"Failed to parse RCDB data.", "解析RCDB数据失败。"},
                       {"Error Code", "错误代码"},
                       {"rcdb file format error!", "rcdb文件格式错误！"}});
  StartRunning();
  Report(ReportCode::RcdbFormatError, 3);
  ASSERT_EQ(port.boxes.size(), 2u);
  EXPECT_EQ(port.boxes[0].text, "解析RCDB数据失败。\n错误代码=3\t\t\t\t\nOnly simple format for output.");
  EXPECT_EQ(port.boxes[0].icon, NoticeIcon::Error);
  EXPECT_EQ(port.boxes[1].text, "rcdb文件格式错误！");
  EXPECT_EQ(port.boxes[1].icon, NoticeIcon::Information);
  EXPECT_EQ(port.logs, std::vector<std::string>{"Upgrade Cancelled!"});
  ExpectIdleAfterEnd();
}

TEST_F(ControllerTest, TraceStartsAnewWithEachUpgradeOnlyWhenItIsOn) {
  for (unsigned commLog : {0u, 1u}) {
    settings.commLog = commLog;
    const int before = runner.traceClears;
    ASSERT_TRUE(controller.StartUpgrade());
    EXPECT_EQ(runner.traceClears - before, commLog ? 1 : 0);
    runner.connectSink->Report(ReportCode::OpenFailed);
    port.RunPending();
    ASSERT_EQ(controller.phase(), OperationPhase::Idle);
  }
}

TEST_F(ControllerTest, ValidationFailureWithSavedDataShowsBothTranslatedTextsWithOneBlank) {
  SetTranslationTable({{"Data validation fails, please re-upgrade!", "VALIDATION"},
                       {"RCDB data is already saved to file, from you can restore your data when necessary.",
                        "SAVED"}});
  StartRunning();
  Report(ReportCode::ReadError, UpgradeFailure{kValidationFailed, 1});
  ASSERT_EQ(port.notices.size(), 1u);
  EXPECT_EQ(port.notices[0], "VALIDATION SAVED");
  EXPECT_EQ(port.logs, std::vector<std::string>{"VALIDATION SAVED"});
}

TEST_F(ControllerTest, TranslatedPatternsTakeTheirValueWithoutPrintfFormatting) {
  // A language file is data: a "%n" or a second "%s" in it must not reach printf.
  SetTranslationTable({{"The extern file [%s] is not exist!", "%n %d 文件 [%s] 不存在 %s"}});
  StartRunning();
  Report(ReportCode::ExternMissing, std::string("a%sb"));
  ASSERT_EQ(port.notices.size(), 1u);
  EXPECT_EQ(port.notices[0], "%n %d 文件 [a%sb] 不存在 %s");
}

TEST_F(ControllerTest, PlaySoundBeepsOnlyAtASuccessfulEnd) {
  settings.playSound = true;
  StartRunning();
  Report(ReportCode::BurnFailed);
  EXPECT_EQ(std::count(port.events.begin(), port.events.end(), "beep"), 0);
  StartRunning();
  Report(ReportCode::Finished);
  EXPECT_EQ(std::count(port.events.begin(), port.events.end(), "beep"), 1);
}

TEST_F(ControllerTest, ConnectStepFailuresEndTheOperationBeforeAnyWorker) {
  ASSERT_TRUE(controller.StartUpgrade());
  runner.connectSink->Report(ReportCode::ReadError);
  port.RunPending();
  EXPECT_TRUE(runner.workers.empty());
  EXPECT_EQ(port.notices, std::vector<std::string>{"Reading data error!"});
  ExpectIdleAfterEnd();
  EXPECT_TRUE(controller.StartUpgrade()) << "a new operation can start";
}

TEST_F(ControllerTest, ProgressAndLogLinesReachTheWindowWhileRunning) {
  StartRunning();
  std::thread worker([sink = runner.workerSink] {
    sink->Phase("Writing arm_main", 40);
    sink->Progress(7);
    sink->Log("Read Restoration File: x.rcd");
  });
  worker.join();
  port.RunPending();
  EXPECT_EQ(port.lastProgress, 7);
  EXPECT_EQ(controller.progressPosition(), 7);
  EXPECT_EQ(port.logs, std::vector<std::string>{"Read Restoration File: x.rcd"});
  EXPECT_NE(std::find(port.events.begin(), port.events.end(), "phase: Writing arm_main / 40"), port.events.end());
}

// --- Watchdog ------------------------------------------------------------------------------

TEST_F(ControllerTest, WatchdogNineteenStalledTicksChangeNothingTheTwentiethStops) {
  StartRunning();
  for (int i = 0; i < kWatchdogStallTicks - 1; ++i) controller.Tick();
  EXPECT_EQ(controller.phase(), OperationPhase::Running);
  EXPECT_TRUE(port.notices.empty());
  EXPECT_EQ(runner.stopRequests, 0);
  EXPECT_FALSE(runner.workerSink->StopRequested());

  controller.Tick();
  EXPECT_EQ(port.notices, std::vector<std::string>{"Communication error! Please close the Loftwise and radio, retry!"});
  EXPECT_EQ(port.logs, std::vector<std::string>{"Upgrade Cancelled!"});
  EXPECT_EQ(runner.stopRequests, 1);
  EXPECT_TRUE(runner.workerSink->StopRequested());
  EXPECT_TRUE(runner.workerSink->StopFlag()->load());
  ExpectIdleAfterEnd();
  EXPECT_FALSE(controller.linkBusy());

  // The stopped worker can no longer reach anything: its late report, progress and flag
  // writes are dropped.
  runner.workerSink->SetExitAllowed(false);
  runner.workerSink->Progress(99);
  runner.workerSink->Report(ReportCode::ReadError);
  port.RunPending();
  EXPECT_EQ(port.notices.size(), 1u);
  EXPECT_TRUE(controller.exitAllowed());
  EXPECT_EQ(controller.phase(), OperationPhase::Idle);
}

TEST_F(ControllerTest, WatchdogCountsFromTheLastProgress) {
  StartRunning();
  for (int i = 0; i < 15; ++i) controller.Tick();
  runner.workerSink->Progress(1);
  port.RunPending();
  for (int i = 0; i < kWatchdogStallTicks; ++i) controller.Tick();  // the first of these sees progress
  EXPECT_EQ(controller.phase(), OperationPhase::Running);
  controller.Tick();
  EXPECT_EQ(controller.phase(), OperationPhase::Idle);
}

TEST_F(ControllerTest, WatchdogIsNotRunningWhileConnectingOrIdle) {
  for (int i = 0; i < 3 * kWatchdogStallTicks; ++i) controller.Tick();
  ASSERT_TRUE(controller.StartUpgrade());
  for (int i = 0; i < 3 * kWatchdogStallTicks; ++i) controller.Tick();
  EXPECT_EQ(controller.phase(), OperationPhase::Connecting);
  EXPECT_TRUE(port.notices.empty());
}

TEST_F(ControllerTest, BurnFailedAlsoStopsTheWatchdog) {
  StartRunning();
  Report(ReportCode::BurnFailed);
  for (int i = 0; i < 2 * kWatchdogStallTicks; ++i) controller.Tick();
  EXPECT_EQ(port.notices, std::vector<std::string>{"Burn Failed!"}) << "no communication error on an idle window";
}

// --- Question 13 ---------------------------------------------------------------------------

TEST_F(ControllerTest, RestoreQuestionNoLetsTheWorkerGoOnWithTheWatchdogBack) {
  port.answer = false;
  StartRunning();
  auto sink = runner.workerSink;
  std::future<bool> answer = std::async(std::launch::async, [sink] { return sink->AskRestore("1234567890"); });
  // The worker is blocked until the question has been answered on the UI thread.
  while (port.Queued() == 0) std::this_thread::yield();
  EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  port.RunPending();
  EXPECT_FALSE(answer.get());
  ASSERT_EQ(port.questions.size(), 1u);
  EXPECT_EQ(port.questions[0],
            "Restoration file of the radio SN[1234567890] already exists. Are you sure to restore from the file?");
  EXPECT_EQ(controller.phase(), OperationPhase::Running);
  EXPECT_TRUE(controller.watchdogArmed());
}

TEST_F(ControllerTest, RestoreQuestionYesEndsWith15AndOpensTheRestoreActionThenARestoreRuns) {
  std::vector<std::string> restoreAsked;
  controller.SetRestoreAction([&](const std::string& serial) {
    restoreAsked.push_back(serial);
    // The window's restore list chose a file: a restore run starts at once.
    EXPECT_TRUE(controller.StartRestore("/backups/1234567890[2016-05-04 13.45.10].rcd"));
  });
  StartRunning();  // preselected answer: Yes
  auto sink = runner.workerSink;
  std::future<bool> answer = std::async(std::launch::async, [sink] {
    bool yes = sink->AskRestore("1234567890");
    if (yes) sink->Report(ReportCode::RestoreChosen);
    return yes;
  });
  while (restoreAsked.empty()) {
    port.RunPending();
    std::this_thread::yield();
  }
  EXPECT_TRUE(answer.get());
  port.RunPending();
  EXPECT_EQ(restoreAsked, std::vector<std::string>{"1234567890"});
  EXPECT_TRUE(port.notices.empty());
  // The restore run goes through the connect step and then hands the file to the worker.
  EXPECT_EQ(runner.connectSteps, 2);
  runner.connectSink->Report(ReportCode::StartWorker);
  port.RunPending();
  ASSERT_EQ(runner.workers.size(), 2u);
  EXPECT_EQ(runner.workers[1].restorationFile, "/backups/1234567890[2016-05-04 13.45.10].rcd");
  Report(ReportCode::Finished);
  EXPECT_EQ(controller.restorationFile(), "") << "no restore under way after the end";
}

TEST_F(ControllerTest, AWorkerWaitingForAnAnswerIsReleasedWhenTheControllerGoesAway) {
  auto gone = std::make_unique<OperationController>(port, runner, settings, dir.Dir());
  ASSERT_TRUE(gone->StartUpgrade());
  auto sink = runner.connectSink;
  std::future<bool> blocked = std::async(std::launch::async, [sink] { return sink->AskRestore("2"); });
  while (port.Queued() == 0) std::this_thread::yield();
  gone.reset();  // the window closes without answering
  EXPECT_FALSE(blocked.get());
  EXPECT_EQ(port.RunPending(), 1u);  // the question posted earlier now finds no controller
  EXPECT_TRUE(port.questions.empty());
}

// --- AutoTest ------------------------------------------------------------------------------

class AutoTestTest : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    settings.autoTest = true;
    for (const char* name : {"c.rcdb", "a.rcdb", "b.RCDB"}) dir.Write(std::string(kAutoTestFolder) + "/" + name, "x");
    dir.Write(std::string(kAutoTestFolder) + "/notes.txt", "x");
  }
  std::string File(const char* name) { return dir.Path(std::string(kAutoTestFolder) + "/" + name); }
};

TEST_F(AutoTestTest, SeriesSkipsTheConnectStepAndGoesOnAfterARefusal) {
  ASSERT_TRUE(controller.StartUpgrade());
  EXPECT_EQ(runner.connectSteps, 0);
  EXPECT_EQ(runner.portCloses, 0) << "the auto-test keeps an open device";
  ASSERT_EQ(runner.workers.size(), 1u);
  EXPECT_EQ(runner.workers[0].autoTestFile, File("a.rcdb"));
  EXPECT_TRUE(controller.watchdogArmed());

  Report(ReportCode::FirmwareBeyond, std::string("A1.00.00.000"));
  ASSERT_EQ(runner.workers.size(), 2u);
  EXPECT_EQ(runner.workers[1].autoTestFile, File("b.RCDB"));
  EXPECT_EQ(controller.phase(), OperationPhase::Running);
  EXPECT_FALSE(port.controlsEnabled) << "the start controls stay off while the series runs";

  Report(ReportCode::ReadError, UpgradeFailure{kNoAnswer, 0});
  EXPECT_EQ(runner.workers.size(), 2u) << "a failure 9 ends the series";
  EXPECT_EQ(controller.phase(), OperationPhase::Idle);
}

TEST_F(AutoTestTest, SeriesRunsEveryFileAndStopsAfterTheLast) {
  ASSERT_TRUE(controller.StartUpgrade());
  Report(ReportCode::Finished);
  Report(ReportCode::PackageError, 1);
  ASSERT_EQ(runner.workers.size(), 3u);
  EXPECT_EQ(runner.workers[2].autoTestFile, File("c.rcdb"));
  Report(ReportCode::CustomerCodeBeyond);
  EXPECT_EQ(runner.workers.size(), 3u);
  ExpectIdleAfterEnd();
  EXPECT_EQ(controller.autoTestIndex(), 3u);
}

TEST_F(AutoTestTest, AnEmptyInputFolderEndsAtOnceWithTheUntranslatedNotice) {
  std::filesystem::remove_all(dir.Path(kAutoTestFolder));
  ASSERT_TRUE(controller.StartUpgrade());
  EXPECT_TRUE(runner.workers.empty());
  EXPECT_EQ(port.notices, std::vector<std::string>{"自动化测试输入目录没有RCDB文件!"});
  ExpectIdleAfterEnd();
}

// --- Exit ----------------------------------------------------------------------------------

class ExitTest : public ControllerTest {
 protected:
  const std::string kIni =
      "[PROGRAM SET]\n"
      "// kept as it is\n"
      "Burn Fud File=old.fud\n"
      "Disp Tips=TRUE\n"
      "Read Type=1\n"
      "Read Address=0x10\n"
      "Read Length=16\n"
      "Before Version=TRUE\n"
      "Not Tips Later=FALSE\n"
      "Play Sound=FALSE\n";
};

TEST_F(ExitTest, IgnoredWhileTheWorkerForbidsItThenWritesTheExitSettings) {
  dir.Write("set.ini", kIni);
  settings.readType = "2";
  settings.readAddress = "0x20";
  settings.readLength = "32";
  settings.developmentVersion = false;
  settings.notTipsLater = true;

  StartRunning();
  runner.workerSink->SetExitAllowed(false);
  EXPECT_FALSE(controller.RequestExit("  /pkg/new.fud  ", nullptr));
  EXPECT_EQ(dir.Read("set.ini"), kIni) << "an ignored close writes nothing";

  Report(ReportCode::Finished);
  EXPECT_TRUE(controller.RequestExit("  /pkg/new.fud  ", nullptr));
  EXPECT_EQ(dir.Read("set.ini"),
            "[PROGRAM SET]\n"
            "// kept as it is\n"
            "Burn Fud File=/pkg/new.fud\n"
            "Disp Tips=FALSE\n"
            "Read Type=2\n"
            "Read Address=0x20\n"
            "Read Length=32\n"
            "Before Version=FALSE\n"
            "Not Tips Later=TRUE\n"
            "Play Sound=FALSE\n");
}

TEST_F(ExitTest, PlaySoundToggleWritesItsOwnLineAtOnce) {
  dir.Write("set.ini", kIni);
  controller.TogglePlaySound();
  EXPECT_TRUE(settings.playSound);
  EXPECT_NE(dir.Read("set.ini").find("\nPlay Sound=TRUE\n"), std::string::npos);
}

}  // namespace
}  // namespace lw
