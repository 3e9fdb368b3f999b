#include "patch/patch_installer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "patch/patch_test_support.h"

namespace lw {
namespace {

using namespace patch_test;

// Stands in for the dialog: an edit box the test types into, and a record of everything shown.
class FakeView : public PatchView {
 public:
  std::string typed;
  bool unlocked = false;
  std::vector<std::string> shownDirectories;
  std::vector<std::string> messages;
  std::vector<std::string> replaced;

  std::string DirectoryText() const override { return typed; }
  void ShowDirectory(const std::string& directory) override {
    shownDirectories.push_back(directory);
  }
  void UnlockDirectory() override { unlocked = true; }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void FileReplaced(const std::string& target) override { replaced.push_back(target); }
};

// A patch folder holding new versions of the four files, and an installation folder.
class PatchInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    patch_ = tmp_.Sub("patch");
    inst_ = tmp_.Sub("inst");
    for (const char* name : kPatchFiles) WriteFile(patch_ + name, std::string("new ") + name);
  }
  void Install(std::initializer_list<const char*> names) {
    for (const char* name : names) WriteFile(inst_ + name, std::string("old ") + name);
  }
  void InstallAll() { Install({"conversion.so", "loftwise", "English.lng", "Chinese.lng"}); }
  std::string Installed(const char* name) { return ReadFile(inst_ + name); }

  // An installer whose install record says `recordValue`; counts how often it is read.
  PatchInstaller Make(const std::string& recordValue) {
    return PatchInstaller(
        patch_, [this, recordValue] { ++recordReads_; return recordValue; }, view_);
  }

  TempDir tmp_;
  std::string patch_, inst_;
  FakeView view_;
  int recordReads_ = 0;
};

TEST_F(PatchInstallerTest, FirstAttemptReplacesAllFourFromTheRecordInOrder) {
  InstallAll();
  PatchInstaller installer = Make(inst_);

  EXPECT_EQ(installer.Press(), PatchResult::kFinished);

  EXPECT_EQ(view_.shownDirectories, std::vector<std::string>{inst_});
  EXPECT_EQ(view_.replaced,
            (std::vector<std::string>{inst_ + "conversion.so", inst_ + "loftwise",
                                      inst_ + "English.lng", inst_ + "Chinese.lng"}));
  for (const char* name : kPatchFiles) EXPECT_EQ(Installed(name), std::string("new ") + name);
  EXPECT_EQ(view_.messages, std::vector<std::string>{"Upgrade Patch Finished!"});
  EXPECT_TRUE(installer.FirstAttempt());
  EXPECT_FALSE(view_.unlocked);
}

TEST_F(PatchInstallerTest, ARecordValueIsUsedAsStoredWithoutASeparator) {
  InstallAll();
  const std::string stored = inst_.substr(0, inst_.size() - 1);  // ".../inst"
  PatchInstaller installer = Make(stored);

  EXPECT_EQ(installer.Press(), PatchResult::kFileMissing);

  EXPECT_EQ(installer.InstallDirectory(), stored);
  EXPECT_EQ(view_.messages,
            std::vector<std::string>{stored +
                                     "conversion.so file does not exist! please check directory!"});
  EXPECT_EQ(Installed("conversion.so"), "old conversion.so");
}

TEST_F(PatchInstallerTest, NoRecordAsksForTheDirectoryAndUnlocksTheBox) {
  PatchInstaller installer = Make("");

  EXPECT_EQ(installer.Press(), PatchResult::kNoDirectory);

  EXPECT_EQ(view_.messages,
            std::vector<std::string>{
                "Please input the install directory of DMR_LOFTWISE_SUBSCRIBE_TO_V7.06.06.000!"});
  EXPECT_TRUE(view_.unlocked);
  EXPECT_TRUE(installer.EditUnlocked());
  EXPECT_FALSE(installer.FirstAttempt());
}

TEST_F(PatchInstallerTest, PressingAgainAfterAFailureUsesTheTypedDirectory) {
  InstallAll();
  PatchInstaller installer = Make(tmp_.path() + "/elsewhere/");
  ASSERT_EQ(installer.Press(), PatchResult::kFileMissing);

  view_.typed = "  " + inst_.substr(0, inst_.size() - 1) + " \t";
  EXPECT_EQ(installer.Press(), PatchResult::kFinished);

  EXPECT_EQ(recordReads_, 1) << "the record must not be read again";
  EXPECT_EQ(installer.InstallDirectory(), inst_) << "trimmed, one separator appended";
  EXPECT_EQ(Installed("Chinese.lng"), "new Chinese.lng");
  EXPECT_EQ(view_.messages.back(), "Upgrade Patch Finished!");
}

TEST_F(PatchInstallerTest, TypedDirectoriesAreTrimmedAndGetExactlyOneSeparator) {
  struct Case {
    std::string typed;
    std::string expected;
  };
  const Case cases[] = {
      {"/opt/lw", "/opt/lw/"},
      {"/opt/lw/", "/opt/lw/"},
      {"  /opt/my lw  ", "/opt/my lw/"},
      {"/", "/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    FakeView view;
    PatchInstaller installer(patch_, nullptr, view);
    installer.UseEditBox();
    view.typed = c.typed;
    installer.Press();
    EXPECT_EQ(installer.InstallDirectory(), c.expected);
  }
}

TEST_F(PatchInstallerTest, AnEmptyEditBoxAsksForTheDirectory) {
  PatchInstaller installer = Make("");
  installer.Press();
  for (const char* typed : {"", "   "}) {
    view_.typed = typed;
    EXPECT_EQ(installer.Press(), PatchResult::kNoDirectory);
    EXPECT_EQ(view_.messages.back(), "Please input the install directory!");
  }
}

TEST_F(PatchInstallerTest, APartialInstallationIsReplacedUpToTheFirstMissingFile) {
  Install({"conversion.so", "loftwise", "Chinese.lng"});  // English.lng is missing
  PatchInstaller installer = Make(inst_);

  EXPECT_EQ(installer.Press(), PatchResult::kFileMissing);

  EXPECT_EQ(Installed("conversion.so"), "new conversion.so");
  EXPECT_EQ(Installed("loftwise"), "new loftwise");
  EXPECT_FALSE(fs::exists(inst_ + "English.lng")) << "a missing file is never added";
  EXPECT_EQ(Installed("Chinese.lng"), "old Chinese.lng");
  EXPECT_EQ(view_.messages.back(),
            inst_ + "English.lng file does not exist! please check directory!");
  EXPECT_TRUE(view_.unlocked);
  EXPECT_FALSE(installer.FirstAttempt());
}

TEST_F(PatchInstallerTest, AFailedCopyIsReportedAndStopsTheSequence) {
  InstallAll();
  ::chmod((inst_ + "loftwise").c_str(), 0755);
  ::chmod(inst_.c_str(), 0555);  // files stay writable, but nothing can be renamed into place
  PermissionsEnforced enforced;
  if (!enforced.ok()) GTEST_SKIP() << "cannot drop the permission override";
  PatchInstaller installer = Make(inst_);

  EXPECT_EQ(installer.Press(), PatchResult::kCopyFailed);

  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].rfind(inst_ + "conversion.so file could not be replaced! ", 0), 0u)
      << view_.messages[0];
  for (const char* name : kPatchFiles) EXPECT_EQ(Installed(name), std::string("old ") + name);
  EXPECT_TRUE(view_.unlocked);
  EXPECT_FALSE(installer.FirstAttempt());
}

TEST_F(PatchInstallerTest, AFileMissingFromThePatchStopsAfterTheEarlierOnes) {
  InstallAll();
  fs::remove(patch_ + "English.lng");
  PatchInstaller installer = Make(inst_);

  EXPECT_EQ(installer.Press(), PatchResult::kCopyFailed);

  EXPECT_EQ(Installed("loftwise"), "new loftwise");
  EXPECT_EQ(Installed("English.lng"), "old English.lng");
  EXPECT_EQ(Installed("Chinese.lng"), "old Chinese.lng");
  const std::string& message = view_.messages.back();
  EXPECT_EQ(message.rfind(inst_ + "English.lng file could not be replaced! ", 0), 0u) << message;
  EXPECT_NE(message.find(patch_ + "English.lng"), std::string::npos) << message;
}

// The console program embeds the conversion library's digest as the window does: a patch
// that brings both must replace both, after the four; without one in the patch (or in the
// installation) nothing changes.
TEST_F(PatchInstallerTest, LoftwiseCliIsReplacedAfterTheFourWhenBothSidesHaveIt) {
  struct Case {
    const char* name;
    bool inPatch, installed;
  };
  for (const Case& c : {Case{"in patch and installation", true, true}, Case{"not in the patch", false, true},
                        Case{"not installed", true, false}}) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    const std::string patch = tmp.Sub("patch"), inst = tmp.Sub("inst");
    for (const char* name : kPatchFiles) {
      WriteFile(patch + name, std::string("new ") + name);
      WriteFile(inst + name, std::string("old ") + name);
    }
    if (c.inPatch) WriteFile(patch + "loftwise-cli", "new cli", 0755);
    if (c.installed) WriteFile(inst + "loftwise-cli", "old cli", 0755);
    FakeView view;
    PatchInstaller installer(patch, [&] { return inst; }, view);

    EXPECT_EQ(installer.Press(), PatchResult::kFinished);

    std::vector<std::string> expected = {inst + "conversion.so", inst + "loftwise", inst + "English.lng",
                                         inst + "Chinese.lng"};
    if (c.inPatch && c.installed) expected.push_back(inst + "loftwise-cli");
    EXPECT_EQ(view.replaced, expected);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Upgrade Patch Finished!"});
    if (c.installed) {
      EXPECT_EQ(ReadFile(inst + "loftwise-cli"), c.inPatch ? "new cli" : "old cli");
      EXPECT_EQ(ModeOf(inst + "loftwise-cli"), 0755u);
    }
    EXPECT_EQ(fs::exists(inst + "loftwise-cli"), c.installed) << "never added";
  }
}

TEST_F(PatchInstallerTest, AFailedCopyOfLoftwiseCliIsReportedLikeTheOthers) {
  InstallAll();
  WriteFile(patch_ + "loftwise-cli", "new cli", 0755);
  fs::create_directories(inst_ + "loftwise-cli");  // something that cannot be replaced by a file
  PatchInstaller installer = Make(inst_);

  EXPECT_EQ(installer.Press(), PatchResult::kCopyFailed);

  EXPECT_EQ(Installed("Chinese.lng"), "new Chinese.lng");
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].rfind(inst_ + "loftwise-cli file could not be replaced! ", 0), 0u) << view_.messages[0];
  EXPECT_TRUE(view_.unlocked);
}

TEST_F(PatchInstallerTest, TheSourceDirectoryAlwaysEndsInASeparator) {
  PatchInstaller installer(patch_.substr(0, patch_.size() - 1), nullptr, view_);
  EXPECT_EQ(installer.SourceDirectory(), patch_);
}

}  // namespace
}  // namespace lw
