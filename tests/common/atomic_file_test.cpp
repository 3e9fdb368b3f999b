// The write-beside-then-rename that the backups, set.ini and the patch installer share: a
// failure at any step must leave the old file as it was and no temporary file behind.
#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/unique_fd.h"

namespace lw {
namespace {

namespace fs = std::filesystem;

class AtomicWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "lw-atomic-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  AtomicWriteOptions Beside(const std::string& name, mode_t mode = 0640) const {
    AtomicWriteOptions options;
    options.temporaryTemplate = Path("." + name + ".XXXXXX");
    options.mode = mode;
    return options;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  size_t Entries() const { return size_t(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())); }

  fs::path dir_;
};

auto Writes(const std::string& text) {
  return [text](int fd) { return WriteAll(fd, text.data(), text.size()); };
}

TEST_F(AtomicWriteTest, ReplacesTheTargetWholeWithTheGivenMode) {
  std::ofstream(Path("set.ini")) << "old contents that are longer than the new";
  AtomicWriteResult result = WriteFileAtomically(Path("set.ini"), Beside("set.ini"), Writes("new"));
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(Read(Path("set.ini")), "new");
  struct stat st {};
  ASSERT_EQ(::stat(Path("set.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Entries(), 1u) << "the temporary file is renamed, not left";
}

TEST_F(AtomicWriteTest, AFailedStepLeavesTheOldFileAndNoTemporary) {
  struct Case {
    const char* name;
    bool fillFails;
    bool targetIsFolder;  // the rename cannot replace a folder that holds something
    AtomicWriteStep failed;
  };
  const Case cases[] = {
      {"the contents cannot be written", true, false, AtomicWriteStep::Write},
      {"the rename is refused", false, true, AtomicWriteStep::Rename},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(Path("target"));
    if (c.targetIsFolder) {
      fs::create_directory(Path("target"));
      std::ofstream(Path("target/inside")) << "x";
    } else {
      std::ofstream(Path("target")) << "old";
    }
    auto fill = [&](int fd) {
      if (!c.fillFails) return WriteAll(fd, "new", 3);
      errno = ENOSPC;
      return false;
    };
    AtomicWriteResult result = WriteFileAtomically(Path("target"), Beside("target"), fill);
    EXPECT_EQ(result.failed, c.failed);
    EXPECT_NE(result.error, 0);
    EXPECT_FALSE(fs::exists(result.temporary)) << result.temporary;
    EXPECT_EQ(Entries(), 1u);
    if (!c.targetIsFolder) {
      EXPECT_EQ(Read(Path("target")), "old");
    }
  }
}

TEST_F(AtomicWriteTest, AMissingFolderFailsAtCreateWithoutTouchingAnything) {
  AtomicWriteOptions options;
  options.temporaryTemplate = Path("missing/.x.XXXXXX");
  AtomicWriteResult result = WriteFileAtomically(Path("missing/x"), options, Writes("new"));
  EXPECT_EQ(result.failed, AtomicWriteStep::Create);
  EXPECT_EQ(result.error, ENOENT);
  EXPECT_EQ(Entries(), 0u);
}

}  // namespace
}  // namespace lw
