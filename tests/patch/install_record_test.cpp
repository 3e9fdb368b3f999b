#include "patch/install_record.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "patch/patch_test_support.h"

namespace lw {
namespace {

using namespace patch_test;

// Sets (or, with nullopt, removes) an environment variable for one test and puts it back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

const std::string kSection = std::string("[") + kProductGuid + "]\n";

TEST(InstallRecord, TheValueIsReadExactlyAsStored) {
  struct Case {
    const char* name;
    std::string content;
    std::string expected;
  };
  const Case cases[] = {
      {"with separator", kSection + "InstallLocation=/opt/lw/\n", "/opt/lw/"},
      {"without separator", kSection + "InstallLocation=/opt/lw\n", "/opt/lw"},
      {"blanks are part of the path", kSection + "InstallLocation= /my lw/ \n", " /my lw/ "},
      {"CRLF line ends", "; note\r\n" + kSection.substr(0, kSection.size() - 1) +
                             "\r\nInstallLocation=/opt/lw/\r\n", "/opt/lw/"},
      {"last line without line end", kSection + "DisplayName=x\nInstallLocation=/opt/lw/",
       "/opt/lw/"},
      {"another product's section", "[{00000000-0000-0000-0000-000000000000}]\n"
                                    "InstallLocation=/other/\n" + kSection + "Other=1\n", ""},
      {"value name is case-sensitive", kSection + "installlocation=/opt/lw/\n", ""},
      {"empty file", "", ""},
  };
  TempDir tmp;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(tmp.path() + "/record.ini", c.content);
    EXPECT_EQ(ReadInstallLocationFrom(tmp.path() + "/record.ini"), c.expected);
  }
  EXPECT_EQ(ReadInstallLocationFrom(tmp.path() + "/missing.ini"), "");
}

TEST(InstallRecord, DirectoriesAreSearchedInOrder) {
  {
    ScopedEnv forced(kInstallRecordDirEnv, "/records");
    EXPECT_EQ(InstallRecordDirectories(), std::vector<std::string>{"/records/"});
  }
  ScopedEnv forced(kInstallRecordDirEnv, std::nullopt);
  ScopedEnv home("HOME", "/home/op");
  {
    ScopedEnv data("XDG_DATA_HOME", "/data");
    EXPECT_EQ(InstallRecordDirectories(),
              (std::vector<std::string>{"/data/loftwise/install-records/",
                                        "/var/lib/loftwise/install-records/"}));
  }
  for (std::optional<std::string> data : {std::optional<std::string>(), {"relative/data"}}) {
    ScopedEnv unset("XDG_DATA_HOME", data);
    EXPECT_EQ(InstallRecordDirectories().front(),
              "/home/op/.local/share/loftwise/install-records/");
  }
}

TEST(InstallRecord, AMissingRecordGivesTheEmptyText) {
  TempDir tmp;
  ScopedEnv forced(kInstallRecordDirEnv, tmp.path());
  EXPECT_EQ(FindInstallRecord(), "");
  EXPECT_EQ(ReadInstallLocation(), "");
}

// The install step writes the record with a CMake script; this runs that script and reads
// its output the way lumaret does, so the two cannot drift apart.
TEST(InstallRecord, TheInstallStepsRecordIsFoundAndRead) {
  TempDir tmp;
  const std::string records = tmp.Sub("records");
  ScopedEnv forced(kInstallRecordDirEnv, records);
  const std::string command = std::string("cd '") + tmp.path() + "' && '" LW_CMAKE_COMMAND
                              "' -DLW_RECORD_PREFIX=prefix//usr -DLW_RECORD_PROGRAM_DIR=lib/loftwise"
                              " -P '" LW_SOURCE_DIR "/cmake/install_record.cmake' > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  EXPECT_EQ(FindInstallRecord(), records + InstallRecordFileName());
  EXPECT_EQ(ReadInstallLocation(), tmp.path() + "/prefix/usr/lib/loftwise/");
}

}  // namespace
}  // namespace lw
