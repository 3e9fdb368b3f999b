#include "app/startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "app/app_test_util.h"

namespace lw {
namespace {

namespace fs = std::filesystem;
using test::RecordingPort;
using test::ScratchDir;

TEST(StartupTest, TemporaryScriptFileNameCarriesTheLocalTimeDownToTheMillisecond) {
  std::tm t{};
  t.tm_year = 2016 - 1900;
  t.tm_mon = 4;
  t.tm_mday = 4;
  t.tm_hour = 13;
  t.tm_min = 45;
  t.tm_sec = 10;
  t.tm_isdst = -1;
  auto when = std::chrono::system_clock::from_time_t(std::mktime(&t)) + std::chrono::milliseconds(123);
  EXPECT_EQ(TemporaryScriptFileName("/opt/loftwise/", when), "/opt/loftwise/UpgradeFile/temp2016050413451000123.spt");
}

// A read-only installation: the program runs from a per-user copy. The check needs a user for
// whom permission bits count, so when the tests run as root the child becomes "nobody".
TEST(StartupTest, AnUnwritableProgramFolderIsReplacedByASeededPerUserCopy) {
  ScratchDir dir;
  fs::permissions(dir.Path(), fs::perms::all, fs::perm_options::replace);
  dir.Write("shipped/set.ini", "[PROGRAM SET]\nLanguage=English\n");
  dir.Write("shipped/Skin1/skin.ini", "skin");
  dir.Write("shipped/conversion.so", "library");
  dir.Write("shipped/loftwise", "program");
  fs::permissions(dir.Path("shipped/conversion.so"), fs::perms::owner_exec, fs::perm_options::add);
  fs::permissions(dir.Path("shipped/loftwise"), fs::perms::owner_exec, fs::perm_options::add);
  fs::create_directories(dir.Path("user/loftwise"));
  dir.Write("user/loftwise/set.ini", "[PROGRAM SET]\nLanguage=Chinese\n");  // the operator's own
  for (const char* p : {"shipped", "shipped/Skin1"})
    fs::permissions(dir.Path(p), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::replace);
  fs::permissions(dir.Path("user"), fs::perms::all, fs::perm_options::replace);
  fs::permissions(dir.Path("user/loftwise"), fs::perms::all, fs::perm_options::replace);
  fs::permissions(dir.Path("user/loftwise/set.ini"), fs::perms::all, fs::perm_options::replace);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    ProgramDirectoryChoice c = ChooseProgramDirectoryFrom(dir.Path("shipped"), dir.Path("user/loftwise"));
    bool ok = c.perUserCopy && c.directory == dir.Path("user/loftwise") + "/" && c.problem.empty() &&
              c.shipped == dir.Path("shipped") + "/";
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(dir.Read("user/loftwise/set.ini"), "[PROGRAM SET]\nLanguage=Chinese\n") << "never overwritten";
  EXPECT_EQ(dir.Read("user/loftwise/Skin1/skin.ini"), "skin");
  EXPECT_EQ(dir.Read("user/loftwise/conversion.so"), "library");
  EXPECT_FALSE(fs::exists(dir.Path("user/loftwise/loftwise"))) << "programs stay where they are";
}

TEST(StartupTest, AWritableProgramFolderIsUsedAsItIs) {
  ScratchDir dir;
  dir.Write("shipped/set.ini", "x");
  ProgramDirectoryChoice c = ChooseProgramDirectoryFrom(dir.Path("shipped"), dir.Path("user"));
  EXPECT_FALSE(c.perUserCopy);
  EXPECT_EQ(c.directory, dir.Path("shipped") + "/");
  EXPECT_FALSE(fs::exists(dir.Path("user")));
}

TEST(StartupTest, BackupFolderProbeLeavesNoTraceAndCreatesTheDefaultFolder) {
  ScratchDir dir;
  RecordingPort port;
  ProgramSettings settings;
  std::string backupDir = dir.Path("Restore") + "/";
  EXPECT_EQ(CheckBackupDirectory(port, dir.Dir(), settings, backupDir), BackupDirectoryCheck::Writable);
  EXPECT_TRUE(fs::is_directory(dir.Path("Restore")));
  EXPECT_TRUE(fs::is_empty(dir.Path("Restore")));
  EXPECT_TRUE(port.events.empty());
}

TEST(StartupTest, AnUnusableBackupFolderAsksForOneAndStoresTheChoice) {
  ScratchDir dir;
  dir.Write("set.ini", "[PROGRAM SET]\nLanguage=English\nRestoreLoadFlag=FALSE\n");
  dir.Write("blocker", "a file where the folder should be");
  RecordingPort port;
  ProgramSettings settings;

  std::string backupDir = dir.Path("blocker/Restore/");
  EXPECT_EQ(CheckBackupDirectory(port, dir.Dir(), settings, backupDir), BackupDirectoryCheck::Cancelled);
  EXPECT_EQ(port.events, std::vector<std::string>{"choose folder: Please select the backup file storage path!"});
  EXPECT_EQ(backupDir, dir.Path("blocker/Restore/"));
  EXPECT_FALSE(settings.restoreLoadFlag);

  port.folderChoice = dir.Path("mine");
  EXPECT_EQ(CheckBackupDirectory(port, dir.Dir(), settings, backupDir), BackupDirectoryCheck::FolderChosen);
  EXPECT_EQ(backupDir, dir.Path("mine") + "/");
  EXPECT_TRUE(settings.restoreLoadFlag);
  EXPECT_EQ(settings.restoreLoad, dir.Path("mine") + "/");
  EXPECT_EQ(dir.Read("set.ini"), "[PROGRAM SET]\nRestoreLoad=" + dir.Path("mine") +
                                     "/\nLanguage=English\nRestoreLoadFlag=TRUE\n");
}

class RunStartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home.Write("set.ini", "[PROGRAM SET]\nLanguage=English\nAutoTest=TRUE\nTimeout MilliSecond=500\n");
    home.Write("Restore/1234[2016-05-04 13.45.10].rcd", "data");
    home.Write("Torvex.ini", "");
  }
  StartupOptions Options(bool radiosFound) {
    StartupOptions o;
    o.homeOption = home.Dir();
    o.runtimeDirectory = runtime.Path("run");
    o.scanPorts = [radiosFound] { return radiosFound; };
    o.onRaise = [this] { ++raised; };
    return o;
  }
  ScratchDir home, runtime;
  RecordingPort port;
  std::atomic<int> raised{0};
};

TEST_F(RunStartupTest, ReadsTheSettingsAndSeesTheBackupsOfTheProgramFolder) {
  StartupState s = RunStartup(port, Options(false));
  ASSERT_EQ(s.outcome, StartupState::Outcome::Run);
  EXPECT_EQ(s.programDirectory.directory, home.Dir());
  EXPECT_TRUE(s.settings.autoTest);
  EXPECT_EQ(s.settings.timeoutMs, 500u);
  EXPECT_EQ(s.temporaryScriptFile.rfind(home.Dir() + "UpgradeFile/temp", 0), 0u);
  EXPECT_EQ(s.backupDirectory, home.Dir() + "Restore/");
  EXPECT_EQ(s.backupCheck, BackupDirectoryCheck::Writable);
  EXPECT_TRUE(s.restoreButtonVisible);
  ASSERT_TRUE(s.instance);
  EXPECT_TRUE(s.instance->held());

  fs::remove(home.Path("Restore/1234[2016-05-04 13.45.10].rcd"));
  s.instance->Release();
  EXPECT_FALSE(RunStartup(port, Options(false)).restoreButtonVisible) << "no backup: no Restore button";
}

TEST_F(RunStartupTest, ASecondStartWithoutRadiosRaisesTheFirstAndStopsButOneWithRadiosRuns) {
  StartupState first = RunStartup(port, Options(false));
  ASSERT_EQ(first.outcome, StartupState::Outcome::Run);

  StartupState second = RunStartup(port, Options(false));
  EXPECT_EQ(second.outcome, StartupState::Outcome::AnotherInstanceRuns);
  EXPECT_FALSE(second.instance);
  EXPECT_EQ(raised.load(), 1);

  StartupState withRadios = RunStartup(port, Options(true));
  EXPECT_EQ(withRadios.outcome, StartupState::Outcome::Run);
  EXPECT_FALSE(withRadios.instance) << "several radios, several windows";
  EXPECT_EQ(raised.load(), 1);
}

}  // namespace
}  // namespace lw
