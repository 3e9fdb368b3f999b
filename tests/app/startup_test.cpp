#include "app/startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>

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

// Runs `check` in a child process for which permission bits count: when the tests run as
// root the child becomes "nobody". True when the check passed.
bool PassesAsUnprivilegedUser(const std::function<bool()>& check) {
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A read-only installation as a package lays it out, and the per-user folder beside it.
class PerUserCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(dir.Path(), fs::perms::all, fs::perm_options::replace);
    dir.Write("shipped/set.ini", "[PROGRAM SET]\nLanguage=English\n");
    dir.Write("shipped/Skin1/skin.ini", "skin");
    dir.Write("shipped/English.lng", "Upgrading Finished!=Upgrading Finished!\n");
    dir.Write("shipped/conversion.so", "library");
    dir.Write("shipped/loftwise", "program");
    fs::permissions(dir.Path("shipped/conversion.so"), fs::perms::owner_exec, fs::perm_options::add);
    fs::permissions(dir.Path("shipped/loftwise"), fs::perms::owner_exec, fs::perm_options::add);
    fs::create_directories(dir.Path("user/loftwise"));
    fs::permissions(dir.Path("user"), fs::perms::all, fs::perm_options::replace);
    fs::permissions(dir.Path("user/loftwise"), fs::perms::all, fs::perm_options::replace);
  }
  void MakeInstallationReadOnly() {
    for (const char* p : {"shipped", "shipped/Skin1"})
      fs::permissions(dir.Path(p), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec,
                      fs::perm_options::replace);
  }
  void MakeInstallationWritable() {
    for (const char* p : {"shipped", "shipped/Skin1"})
      fs::permissions(dir.Path(p), fs::perms::owner_all, fs::perm_options::add);
  }
  // What the user writes lands in their folder; the copy may be written by "nobody".
  void WriteUsersFile(const std::string& name, const std::string& content) {
    dir.Write("user/loftwise/" + name, content);
    fs::permissions(dir.Path("user/loftwise/" + name), fs::perms::all, fs::perm_options::replace);
  }
  bool StartsFromTheUsersCopy() {
    return PassesAsUnprivilegedUser([this] {
      ProgramDirectoryChoice c = ChooseProgramDirectoryFrom(dir.Path("shipped"), dir.Path("user/loftwise"));
      return c.perUserCopy && c.directory == dir.Path("user/loftwise") + "/" && c.problem.empty() &&
             c.shipped == dir.Path("shipped") + "/";
    });
  }
  ScratchDir dir;
};

TEST_F(PerUserCopyTest, AnUnwritableProgramFolderIsReplacedByASeededPerUserCopy) {
  WriteUsersFile("set.ini", "[PROGRAM SET]\nLanguage=Chinese\n");  // the operator's own
  MakeInstallationReadOnly();

  ASSERT_TRUE(StartsFromTheUsersCopy());
  EXPECT_EQ(dir.Read("user/loftwise/set.ini"), "[PROGRAM SET]\nLanguage=Chinese\n") << "never overwritten";
  EXPECT_EQ(dir.Read("user/loftwise/Skin1/skin.ini"), "skin");
  EXPECT_EQ(dir.Read("user/loftwise/conversion.so"), "library");
  EXPECT_FALSE(fs::exists(dir.Path("user/loftwise/loftwise"))) << "programs stay where they are";
}

// A patch (or a newer package) replaces the conversion library and the language files of the
// installation; the program then expects the new library's digest, so a user's copy that kept
// the old library would fail every upgrade. Same-sized replacements count too.
TEST_F(PerUserCopyTest, APatchedInstallationReachesTheCopyButTheOperatorsFilesStay) {
  MakeInstallationReadOnly();
  ASSERT_TRUE(StartsFromTheUsersCopy());
  ASSERT_EQ(dir.Read("user/loftwise/conversion.so"), "library");
  WriteUsersFile("set.ini", "[PROGRAM SET]\nLanguage=Chinese\n");
  WriteUsersFile("Restore/1234.rcd", "backup");
  WriteUsersFile("Comm.log", "log");

  MakeInstallationWritable();
  dir.Write("shipped/conversion.so", "LIBRARY");  // same size, new content and time
  dir.Write("shipped/English.lng", "Upgrading Finished!=Upgrade done (patched)\n");
  dir.Write("shipped/set.ini", "[PROGRAM SET]\nLanguage=English\nSkin=2\n");
  fs::last_write_time(dir.Path("shipped/conversion.so"),
                      fs::last_write_time(dir.Path("user/loftwise/conversion.so")) + std::chrono::seconds(1));
  MakeInstallationReadOnly();

  ASSERT_TRUE(StartsFromTheUsersCopy());
  EXPECT_EQ(dir.Read("user/loftwise/conversion.so"), "LIBRARY");
  EXPECT_EQ(dir.Read("user/loftwise/English.lng"), "Upgrading Finished!=Upgrade done (patched)\n");
  EXPECT_EQ(dir.Read("user/loftwise/set.ini"), "[PROGRAM SET]\nLanguage=Chinese\n");
  EXPECT_EQ(dir.Read("user/loftwise/Restore/1234.rcd"), "backup");
  EXPECT_EQ(dir.Read("user/loftwise/Comm.log"), "log");
  for (const auto& entry : fs::recursive_directory_iterator(dir.Path("user/loftwise")))
    EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << "left behind: " << entry.path();
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
  // A key the section lacks goes at its end, as the platform's profile writer puts it.
  EXPECT_EQ(dir.Read("set.ini"),
            "[PROGRAM SET]\nLanguage=English\nRestoreLoadFlag=TRUE\nRestoreLoad=" + dir.Path("mine") + "/\n");
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
