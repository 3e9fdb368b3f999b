// The disk fails where a real one can (FaultyFileEnv): the backup write, the package read, the
// result file, set.ini. None of it may lose the radio's data or end in "Upgrading Finished!".
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "common/file_env.h"
#include "config/settings.h"
#include "engine/remote_result.h"
#include "engine/upgrade_fixture.h"

namespace lw::test {
namespace {

namespace fs = std::filesystem;
using Op = FaultyFileEnv::Op;

constexpr uint32_t kRcdbArea = 0xC00000;

// Every way the backup's atomic write can fail: no room for the temporary file, a full disk at
// its first write or half-way through it, a failed flush, a failed rename. The run stops before
// the configuration data are touched, and no half-written file is left in the backup folder.
TEST(DiskFaults, ABackupThatCannotBeWrittenStopsTheRunBeforeTheData) {
  struct Case {
    const char* name;
    FaultyFileEnv::Rule rule;
  };
  const Case cases[] = {
      {"no room for the file", {Op::Create, 1, ENOSPC, "Restore/"}},
      {"disk full at the first write", {Op::Write, 1, ENOSPC, "Restore/"}},
      {"a short write", {Op::ShortWrite, 1, ENOSPC, "Restore/"}},
      {"the flush fails", {Op::Fsync, 1, EIO, "Restore/"}},
      {"the rename fails", {Op::Rename, 1, EIO, "Restore/"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpgradeRig rig;
    rig.Prepare();
    FaultyFileEnv disk({c.rule});
    ScopedFileEnv scope(disk);
    const auto report = rig.Run();
    EXPECT_EQ(disk.faults(), 1);
    ASSERT_EQ(report.code, ReportCode::ReadError);
    auto* failure = std::get_if<UpgradeFailure>(&report.payload);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->rcdbSaved, 0);
    EXPECT_TRUE(rig.Backups().empty()) << "a half-written backup was left";
    EXPECT_EQ(rig.Flash(kRcdbArea, uint32_t(rig.radioData.size())), rig.radioData);
  }
}

// A read error of the package while an image is streamed from it ends the run with report 10
// naming the file; the completion mark is not set.
TEST(DiskFaults, AReadErrorOfThePackageIsNeverFinished) {
  for (uint32_t nth : {1u, 3u, 6u, 9u}) {
    SCOPED_TRACE(nth);
    UpgradeRig rig;
    rig.package.entries.push_back(PkgEntry("dsp_boot", Pattern(40'000, 5)));
    rig.Prepare();
    FaultyFileEnv disk({{Op::Pread, nth, EIO, "pkg.fud"}});
    ScopedFileEnv scope(disk);
    const auto report = rig.Run();
    if (disk.faults() == 0) {
      EXPECT_EQ(report.code, ReportCode::Finished) << "no read failed";
      continue;
    }
    EXPECT_NE(report.code, ReportCode::Finished);
    EXPECT_FALSE(rig.Marked());
    if (report.code == ReportCode::PackageError) {
      if (auto* failure = std::get_if<ImageLoadFailure>(&report.payload)) {
        EXPECT_NE(failure->detail.find(rig.PackagePath()), std::string::npos) << failure->detail;
      }
    }
  }
}

// The result file and set.ini are replaced whole or not at all: a full disk leaves the one that
// was there as it was.
TEST(DiskFaults, AResultFileOrSetIniThatCannotBeWrittenLeavesTheOldOne) {
  TempDir dir;
  const std::string result = dir.Write("radio.fuc", Bytes(10, 0x11));
  const std::string ini = dir.WriteText("set.ini", "[PROGRAM SET]\nSkin=1\n");
  FaultyFileEnv disk({{Op::ShortWrite, 1, ENOSPC, "radio.fuc"}, {Op::Rename, 1, EIO, "set.ini"}});
  ScopedFileEnv scope(disk);
  UpgradeSummary summary;
  EXPECT_FALSE(WriteRemoteResult(result, summary, LinkFacts{}, dir.File("radio.rcd")));
  EXPECT_EQ(ReadFileBytes(result), Bytes(10, 0x11));
  EXPECT_FALSE(WriteSetting(ini, "PROGRAM SET", "Skin", "2"));
  const Bytes after = ReadFileBytes(ini);
  EXPECT_EQ(std::string(after.begin(), after.end()), "[PROGRAM SET]\nSkin=1\n");
  EXPECT_EQ(disk.faults(), 2);
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 2u) << "a temporary file was left behind";
}

}  // namespace
}  // namespace lw::test
