#include "engine/backup_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "engine/image_test_util.h"

namespace lw {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::ScratchDir;

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(BackupNameTest, SerialAndDateGoIntoTheNameAndComeBackOut) {
  std::tm t{};
  t.tm_year = 2016 - 1900;
  t.tm_mon = 4;
  t.tm_mday = 4;
  t.tm_hour = 13;
  t.tm_min = 45;
  t.tm_sec = 10;
  EXPECT_EQ(BackupFileName("1234567890", t), "1234567890[2016-05-04 13.45.10].rcd");

  struct Case {
    const char* name;
    const char* serial;
    const char* date;
  };
  for (const Case& c : {
           Case{"1234567890[2016-05-04 13.45.10].rcd", "1234567890", "2016-05-04 13:45:10"},
           Case{"[2016-05-04 13.45.10].rcd", "", "2016-05-04 13:45:10"},
           Case{"no-bracket.v2.rcd", "", "no-bracket:v2:rcd"},
           Case{"a-rather-long-name-without-brackets.rcd", "", "a-rather-long-name-"},
           Case{"SN[short].rcd", "SN", "short]:rcd"},
           Case{"SN[x][2016].rcd", "SN", "x][2016]:rcd"},
       }) {
    EXPECT_EQ(BackupSerialOf(c.name), c.serial) << c.name;
    EXPECT_EQ(BackupDateOf(c.name), c.date) << c.name;
  }
}

TEST(BackupStoreTest, WritesTheRawDataUnderItsNameAndLeavesNothingElse) {
  ScratchDir dir;
  BackupStore store(dir.File("Restore"));  // a missing folder is created
  Bytes data(70000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  BackupWriteResult r = store.WriteBackupAt("1234567890", data, LocalTime(2016, 5, 4, 13, 45, 10));
  ASSERT_TRUE(r.written) << r.error;
  EXPECT_EQ(r.path, dir.File("Restore") + "/1234567890[2016-05-04 13.45.10].rcd");
  EXPECT_EQ(ReadAll(r.path), data);
  EXPECT_EQ(Names(dir.path() / "Restore"), std::vector<std::string>{"1234567890[2016-05-04 13.45.10].rcd"});
}

TEST(BackupStoreTest, ASecondBackupInTheSameSecondReplacesTheFirst) {
  ScratchDir dir;
  BackupStore store(dir.path().string());
  std::time_t when = LocalTime(2020, 1, 2, 3, 4, 5);
  ASSERT_TRUE(store.WriteBackupAt("77", Bytes(100, 1), when).written);
  BackupWriteResult second = store.WriteBackupAt("77", Bytes(10, 2), when);
  ASSERT_TRUE(second.written);
  EXPECT_EQ(ReadAll(second.path), Bytes(10, 2));
  EXPECT_EQ(store.CountBackups("77", false), 1);
}

// A write that fails half-way (here: the file size limit hits mid-write) must leave the
// folder as it was: no truncated backup, no temporary file, and an earlier backup of the same
// name intact. Run in a child so that the limit stays there.
TEST(BackupStoreTest, AWriteThatFailsHalfWayLeavesNoPartialFileAndKeepsTheOldOne) {
  ScratchDir dir;
  BackupStore store(dir.path().string());
  std::time_t when = LocalTime(2021, 6, 7, 8, 9, 10);
  Bytes old(1000, 0xAA);
  BackupWriteResult first = store.WriteBackupAt("55", old, when);
  ASSERT_TRUE(first.written);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    BackupWriteResult r = store.WriteBackupAt("55", Bytes(100000, 0x55), when);
    _exit(!r.written && !r.error.empty() && r.path == first.path ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failure is reported with its reason and the path";
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"55[2021-06-07 08.09.10].rcd"});
  EXPECT_EQ(ReadAll(first.path), old);
}

TEST(BackupStoreTest, AFolderThatCannotBeCreatedIsReportedNotThrown) {
  ScratchDir dir;
  test::WriteAll(dir.File("file"), std::string("x"));
  BackupStore store(dir.File("file") + "/Restore");
  BackupWriteResult r = store.WriteBackupAt("1", Bytes(4, 0), std::time(nullptr));
  EXPECT_FALSE(r.written);
  EXPECT_NE(r.error, "");
  EXPECT_EQ(r.path.rfind(dir.File("file") + "/Restore/1[", 0), 0u);
  EXPECT_EQ(store.CountBackups("1", true), 0);
}

TEST(BackupStoreTest, ASerialNumberThatWouldLeaveTheFolderIsRefused) {
  ScratchDir dir;
  BackupStore store(dir.File("Restore"));
  BackupWriteResult r = store.WriteBackupAt("../../etc/x", Bytes(4, 0), std::time(nullptr));
  EXPECT_FALSE(r.written);
  EXPECT_FALSE(fs::exists(dir.File("etc")));
}

TEST(BackupStoreTest, CountsBackupFilesAllOrOfOneSerial) {
  ScratchDir dir;
  for (const char* name : {"111[2016-05-04 13.45.10].rcd", "111[2016-05-05 13.45.10].RCD", "222[2016-05-04 13.45.10].rcd",
                           "111.rcd", "111[2016-05-04 13.45.10].rcd.bak", "notes.txt"})
    test::WriteAll(dir.File(name), std::string("x"));
  fs::create_directory(dir.File("111[2016-05-06 00.00.00].rcd"));  // a folder is no backup
  BackupStore store(dir.path().string());
  EXPECT_EQ(store.CountBackups("111", false), 2);
  EXPECT_EQ(store.CountBackups("222", false), 1);
  EXPECT_EQ(store.CountBackups("333", false), 0);
  EXPECT_EQ(store.CountBackups("", true), 4);
  EXPECT_EQ(BackupStore(dir.File("missing")).CountBackups("", true), 0);
}

TEST(BackupStoreTest, DeleteRemovesTheFileAndToleratesOneAlreadyGone) {
  ScratchDir dir;
  test::WriteAll(dir.File("1[x].rcd"), std::string("x"));
  EXPECT_TRUE(BackupStore::DeleteBackup(dir.File("1[x].rcd")).ok());
  EXPECT_FALSE(fs::exists(dir.File("1[x].rcd")));
  EXPECT_TRUE(BackupStore::DeleteBackup(dir.File("1[x].rcd")).ok());
  fs::create_directories(dir.File("full.rcd/inside"));
  const Status refused = BackupStore::DeleteBackup(dir.File("full.rcd"));
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.message(), "");
}

}  // namespace
}  // namespace lw
