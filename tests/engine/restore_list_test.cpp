#include "engine/restore_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/backup_store.h"
#include "engine/image_test_util.h"
#include "ui/translate.h"

namespace lw {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;

// Answers questions as told and remembers what the operator saw.
class ScriptedPort : public WindowPort {
 public:
  void Notify(const Notice& notice) override { notices.push_back(notice.text); }
  bool AskYesNo(const std::string& text, bool yesDefault) override {
    questions.push_back(text);
    defaults.push_back(yesDefault);
    return answer;
  }
  void LogLine(const std::string&) override {}
  void SetProgressRange(const std::string&, int) override {}
  void SetProgress(int) override {}
  void Post(std::function<void()> task) override { task(); }

  bool answer = true;
  std::vector<std::string> notices, questions;
  std::vector<bool> defaults;
};

class RestoreListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTranslationTable({});
    for (const char* name : {"222[2016-05-04 13.45.10].rcd", "111[2016-05-05 09.00.00].rcd",
                             "111[2016-05-04 13.45.10].rcd", "loose.file.rcd", "notes.txt"})
      test::WriteAll(dir.File(name), std::string("data"));
    fs::create_directory(dir.File("333[2016-05-04 13.45.10].rcd"));
  }
  std::string Folder() const { return dir.path().string(); }

  ScratchDir dir;
  ScriptedPort port;
};

TEST_F(RestoreListTest, RowsCarrySerialDateNameAndFolderOfEveryBackup) {
  RestoreList list(Folder() + "/", "");
  ASSERT_EQ(list.rows().size(), 4u);
  const RestoreRow& first = list.rows()[0];
  EXPECT_EQ(first.fileName, "111[2016-05-04 13.45.10].rcd");
  EXPECT_EQ(first.serial, "111");
  EXPECT_EQ(first.date, "2016-05-04 13:45:10");
  EXPECT_EQ(first.path, Folder());
  EXPECT_EQ(first.FullPath(), dir.File("111[2016-05-04 13.45.10].rcd"));
  EXPECT_EQ(list.rows()[1].fileName, "111[2016-05-05 09.00.00].rcd");
  EXPECT_EQ(list.rows()[2].fileName, "222[2016-05-04 13.45.10].rcd");
  // A name without "[": no serial number, the start of the name as its date.
  EXPECT_EQ(list.rows()[3].serial, "");
  EXPECT_EQ(list.rows()[3].date, "loose:file:rcd");
  EXPECT_FALSE(list.RestoreEnabled()) << "nothing ticked without a radio identified";
  EXPECT_FALSE(list.DeleteEnabled());
}

TEST_F(RestoreListTest, TheFirstBackupOfTheRadioIdentifiedLastIsTickedAndOnlyOneRowCanBe) {
  RestoreList list(Folder(), "111");
  EXPECT_TRUE(list.rows()[0].ticked);
  EXPECT_FALSE(list.rows()[1].ticked);
  EXPECT_TRUE(list.RestoreEnabled());
  EXPECT_EQ(list.ChosenFile(), dir.File("111[2016-05-04 13.45.10].rcd"));

  list.SetTicked(3, true);
  EXPECT_FALSE(list.rows()[0].ticked);
  EXPECT_EQ(list.ChosenFile(), dir.File("loose.file.rcd")) << "a row without serial can be chosen";
  list.SetTicked(3, false);
  EXPECT_FALSE(list.RestoreEnabled());
  EXPECT_EQ(list.ChosenFile(), std::nullopt);
  list.SetTicked(99, true);  // outside the list: nothing happens
  EXPECT_FALSE(list.RestoreEnabled());

  EXPECT_FALSE(RestoreList(Folder(), "999").RestoreEnabled());
  EXPECT_TRUE(RestoreList(dir.File("missing"), "111").empty());
}

TEST_F(RestoreListTest, DeleteAsksWithSerialAndDateThenRemovesFileAndRow) {
  RestoreList list(Folder(), "");
  EXPECT_EQ(list.DeleteSelected(port), RestoreList::DeleteOutcome::NothingSelected);
  EXPECT_EQ(port.notices, std::vector<std::string>{"Please select a record to delete!"});

  list.Select(2);
  EXPECT_TRUE(list.DeleteEnabled());
  port.answer = false;
  EXPECT_EQ(list.DeleteSelected(port), RestoreList::DeleteOutcome::Declined);
  EXPECT_TRUE(fs::exists(dir.File("222[2016-05-04 13.45.10].rcd")));
  ASSERT_EQ(port.questions.size(), 1u);
  EXPECT_EQ(port.questions[0],
            "Delete the selected file [SN+ 222, Date+2016-05-04 13:45:10] ?Warning: sure to restore this radio from "
            "the file before delete it!");
  EXPECT_FALSE(port.defaults[0]) << "No is preselected for a deletion";

  port.answer = true;
  EXPECT_EQ(list.DeleteSelected(port), RestoreList::DeleteOutcome::Deleted);
  EXPECT_FALSE(fs::exists(dir.File("222[2016-05-04 13.45.10].rcd")));
  EXPECT_EQ(list.rows().size(), 3u);
  EXPECT_FALSE(list.DeleteEnabled());
}

TEST_F(RestoreListTest, DeletingTheTickedOrTheLastRowTurnsRestoreOff) {
  RestoreList list(Folder(), "222");
  list.Select(2);
  ASSERT_EQ(list.DeleteSelected(port), RestoreList::DeleteOutcome::Deleted);
  EXPECT_FALSE(list.RestoreEnabled()) << "the ticked row is gone";
  while (!list.empty()) {
    list.Select(0);
    ASSERT_EQ(list.DeleteSelected(port), RestoreList::DeleteOutcome::Deleted);
  }
  EXPECT_FALSE(list.RestoreEnabled());
  EXPECT_FALSE(list.DeleteEnabled());
  EXPECT_EQ(BackupStore(Folder()).CountBackups("", true), 0);
}

TEST_F(RestoreListTest, AFileThatCannotBeDeletedKeepsItsRowAndTheOperatorIsTold) {
  RestoreList list(Folder(), "");
  // Between listing and deleting the name became a folder with contents: unlink fails.
  fs::remove(dir.File("111[2016-05-04 13.45.10].rcd"));
  fs::create_directories(dir.File("111[2016-05-04 13.45.10].rcd/x"));
  list.Select(0);
  EXPECT_EQ(list.DeleteSelected(port), RestoreList::DeleteOutcome::Failed);
  EXPECT_EQ(list.rows().size(), 4u);
  ASSERT_EQ(port.notices.size(), 1u);
  EXPECT_NE(port.notices[0].find("111[2016-05-04 13.45.10].rcd"), std::string::npos);
}

}  // namespace
}  // namespace lw
