#include "patch/patch_command_line.h"

#include <gtest/gtest.h>

#include <sstream>

#include "patch/patch_test_support.h"

namespace lw {
namespace {

using namespace patch_test;
using Mode = LumaretOptions::Mode;

TEST(LumaretArgs, ModesAndErrors) {
  struct Case {
    std::vector<std::string> args;
    Mode mode;
    std::optional<std::string> installDir;
    size_t toolkitArgs = 0;
  };
  const Case cases[] = {
      {{}, Mode::kWindow, std::nullopt},
      {{"-platform", "offscreen"}, Mode::kWindow, std::nullopt, 2},
      {{"--install-dir", "/opt/lw"}, Mode::kBatch, "/opt/lw"},
      {{"--install-dir=/opt/lw"}, Mode::kBatch, "/opt/lw"},
      {{"--install-dir", ""}, Mode::kBatch, ""},
      {{"--batch"}, Mode::kBatch, std::nullopt},
      {{"--batch", "-reverse"}, Mode::kError, std::nullopt},
      {{"/opt/lw", "--install-dir", "/x"}, Mode::kError, std::nullopt},
      {{"--install-dir"}, Mode::kError, std::nullopt},
      {{"--force"}, Mode::kError, std::nullopt},
      {{"--batch", "--help"}, Mode::kHelp, std::nullopt},
      {{"--version", "--batch"}, Mode::kVersion, std::nullopt},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    LumaretOptions options = ParseLumaretArgs(c.args);
    EXPECT_EQ(options.mode, c.mode);
    if (c.mode == Mode::kBatch) {
      EXPECT_EQ(options.installDir, c.installDir);
    }
    if (c.mode == Mode::kWindow) {
      EXPECT_EQ(options.toolkitArgs.size(), c.toolkitArgs);
    }
    EXPECT_EQ(options.mode == Mode::kError, !options.error.empty()) << options.error;
  }
}

class PatchBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    patch_ = tmp_.Sub("patch");
    inst_ = tmp_.Sub("inst");
    for (const char* name : kPatchFiles) {
      WriteFile(patch_ + name, "new");
      WriteFile(inst_ + name, "old");
    }
  }
  int Run(const std::optional<std::string>& dir, const std::string& record) {
    return RunPatchBatch(patch_, dir, [record] { return record; }, out_, err_);
  }

  TempDir tmp_;
  std::string patch_, inst_;
  std::ostringstream out_, err_;
};

TEST_F(PatchBatchTest, AGivenDirectoryIsUsedLikeTypedText) {
  EXPECT_EQ(Run(" " + inst_.substr(0, inst_.size() - 1), "/wrong/"), 0);
  EXPECT_NE(out_.str().find("Replaced " + inst_ + "Chinese.lng\n"), std::string::npos);
  EXPECT_NE(out_.str().find("Upgrade Patch Finished!\n"), std::string::npos) << out_.str();
  EXPECT_EQ(err_.str(), "");
}

TEST_F(PatchBatchTest, WithoutADirectoryTheRecordIsUsed) {
  EXPECT_EQ(Run(std::nullopt, inst_), 0);
  EXPECT_NE(out_.str().find("Install directory: " + inst_), std::string::npos) << out_.str();
  EXPECT_EQ(ReadFile(inst_ + "loftwise"), "new");
}

TEST_F(PatchBatchTest, FailuresExitNonZeroWithTheMessageOnStderr) {
  struct Case {
    std::optional<std::string> dir;
    std::string record;
    std::string message;
  };
  const Case cases[] = {
      {std::nullopt, "",
       "Please input the install directory of DMR_LOFTWISE_SUBSCRIBE_TO_V7.06.06.000!\n"},
      {"  ", inst_, "Please input the install directory!\n"},
      {tmp_.path() + "/nowhere", "",
       tmp_.path() + "/nowhere/conversion.so file does not exist! please check directory!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    out_.str("");
    err_.str("");
    EXPECT_EQ(Run(c.dir, c.record), 1);
    EXPECT_EQ(err_.str().rfind(c.message, 0), 0u) << err_.str();
    EXPECT_EQ(out_.str().find("Finished"), std::string::npos);
  }
  EXPECT_EQ(ReadFile(inst_ + "conversion.so"), "old");
}

}  // namespace
}  // namespace lw
