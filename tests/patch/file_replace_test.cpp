#include "patch/file_replace.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "patch/patch_test_support.h"

namespace lw {
namespace {

using namespace patch_test;

TEST(ReplaceFile, WritesTheNewBytesAndKeepsTheTargetsPermissions) {
  TempDir tmp;
  const std::string patch = tmp.Sub("patch"), inst = tmp.Sub("inst");
  // A patch unpacked without its mode bits must still leave an executable program behind.
  WriteFile(patch + "loftwise", std::string(200000, 'N'), 0644);
  WriteFile(inst + "loftwise", "old program", 0755);

  EXPECT_TRUE(ReplaceFile(patch + "loftwise", inst + "loftwise").ok());

  EXPECT_EQ(ReadFile(inst + "loftwise"), std::string(200000, 'N'));
  EXPECT_EQ(ModeOf(inst + "loftwise"), 0755u);
  EXPECT_EQ(EntryCount(inst), 1u) << "temporary file left behind";
}

TEST(ReplaceFile, ReplacesTheFileALinkPointsAtAndKeepsTheLink) {
  TempDir tmp;
  const std::string patch = tmp.Sub("patch"), inst = tmp.Sub("inst"), real = tmp.Sub("real");
  WriteFile(patch + "English.lng", "new texts");
  WriteFile(real + "English.lng", "old texts");
  fs::create_symlink(real + "English.lng", inst + "English.lng");

  EXPECT_TRUE(ReplaceFile(patch + "English.lng", inst + "English.lng").ok());

  EXPECT_TRUE(fs::is_symlink(inst + "English.lng"));
  EXPECT_EQ(ReadFile(real + "English.lng"), "new texts");
}

TEST(ReplaceFile, AFailureNamesTheFileAndLeavesTheTargetAsItWas) {
  struct Case {
    const char* name;
    bool writeSource;
    bool targetIsDirectory;
    const char* namedFile;  // "source" or "target": which path the reason must name
  };
  const Case cases[] = {
      {"source missing from the patch", false, false, "source"},
      {"target is a directory", true, true, "target"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    const std::string patch = tmp.Sub("patch"), inst = tmp.Sub("inst");
    const std::string source = patch + "conversion.so", target = inst + "conversion.so";
    if (c.writeSource) WriteFile(source, "new library");
    if (c.targetIsDirectory) {
      fs::create_directory(target);
    } else {
      WriteFile(target, "old library");
    }

    const std::string error = ReplaceFile(source, target).message();

    EXPECT_NE(error.find(std::string(c.namedFile) == "source" ? source : target), std::string::npos)
        << error;
    if (!c.targetIsDirectory) {
      EXPECT_EQ(ReadFile(target), "old library");
    }
    EXPECT_EQ(EntryCount(inst), 1u) << "temporary file left behind";
  }
}

// A disk that fills up in the middle of the copy: the file size limit makes the writes fail
// part way, as ENOSPC would.
TEST(ReplaceFile, AWriteFailingPartWayLeavesTheOldFileWhole) {
  TempDir tmp;
  const std::string patch = tmp.Sub("patch"), inst = tmp.Sub("inst");
  WriteFile(patch + "loftwise", std::string(300000, 'N'));
  WriteFile(inst + "loftwise", "old program", 0755);

  std::string error;
  {
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 100000;
    auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    error = ReplaceFile(patch + "loftwise", inst + "loftwise").message();
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
  }

  EXPECT_NE(error.find("cannot write " + inst + ".loftwise.lumaret-"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(inst + "loftwise"), "old program");
  EXPECT_EQ(EntryCount(inst), 1u) << "temporary file left behind";
}

TEST(ReplaceFile, AReadOnlyDirectoryIsReportedAndTheTargetKept) {
  TempDir tmp;
  const std::string patch = tmp.Sub("patch"), inst = tmp.Sub("inst");
  WriteFile(patch + "Chinese.lng", "new");
  WriteFile(inst + "Chinese.lng", "old");
  ::chmod(inst.c_str(), 0555);
  PermissionsEnforced enforced;
  if (!enforced.ok()) GTEST_SKIP() << "cannot drop the permission override";

  const std::string error = ReplaceFile(patch + "Chinese.lng", inst + "Chinese.lng").message();

  EXPECT_NE(error.find(inst), std::string::npos) << error;
  EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(inst + "Chinese.lng"), "old");
}

}  // namespace
}  // namespace lw
