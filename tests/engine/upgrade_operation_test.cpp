// The upgrade operation end to end against the simulated radio: every report it can end with,
// faults at every stage of the burn, backups, restore runs and the remote upgrade.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "common/text.h"
#include "engine/backup_store.h"
#include "engine/binary_image.h"
#include "engine/hex_image.h"
#include "engine/remote_result.h"
#include "engine/upgrade_fixture.h"
#include "package/package_files.h"
#include "package/radio_identity.h"

namespace lw::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kRcdbArea = 0xC00000;
constexpr uint32_t kRcdbReadLength = 0x100000;  // RCDBLENGTH of the shipped script

// What "read_rcdb" reads off the rig's radio: its data, then erased flash.
Bytes RadioDataAsRead(const Bytes& data) {
  Bytes read(kRcdbReadLength, 0xFF);
  std::copy(data.begin(), data.end(), read.begin());
  return read;
}

std::string Text(const ReportPayload& payload) { return PayloadText(payload); }

std::string HexRecord(uint16_t address, uint8_t type, const Bytes& data) {
  Bytes b{uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address), type};
  b.insert(b.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t x : b) sum = uint8_t(sum + x);
  b.push_back(uint8_t(-sum));
  std::string line = ":";
  for (uint8_t x : b) line += Format("%02X", x);
  return line + "\r\n";
}

// --- A good upgrade -------------------------------------------------------------------------------

TEST(UpgradeOperation, BurnsEveryEntryStampsTheVersionMarksTheRadioAndKeepsNoBackup) {
  UpgradeRig rig;
  rig.Prepare();
  auto report = rig.Run();

  EXPECT_EQ(report.code, ReportCode::Finished);
  EXPECT_EQ(rig.Flash(0x800000, uint32_t(rig.english.size())), rig.english);
  Bytes written = rig.Flash(kRcdbArea, uint32_t(rig.newRcdb.size()));
  auto id = ReadIdentityFromImage(written).identity;
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ(id->softwareVersion, "A5.00.09.000");  // "A" + the package's target version
  EXPECT_EQ(id->serialNumber, "PT24000001");
  EXPECT_TRUE(rig.Marked());
  EXPECT_TRUE(rig.Backups().empty()) << "the backup of a good burn is removed";
  EXPECT_TRUE(rig.radio->FlashErrors().empty());
  EXPECT_TRUE(rig.radio->ProtocolErrors().empty());
  ASSERT_FALSE(rig.sink.logs.empty());
  EXPECT_EQ(rig.sink.logs.back(), "Upgrading Finished!");
  EXPECT_TRUE(rig.sink.exitAllowed);
}

TEST(UpgradeOperation, LooksThePackageUpForTheModelWhenNoneWasChosen) {
  UpgradeRig rig;
  const std::string ini = std::string(LW_SOURCE_DIR) + "/data/set.ini";
  rig.restrictions = RestrictionsFromSettings(rig.settings, ReadUpgradeRules(ini),
                                              ReadRadioRules(ini, rig.settings.allPreVersionUpgrade),
                                              ReadTunerRules(ini));
  // The rule is written as the look-up reads model numbers (variant digit and DMR mark folded).
  rig.upgradeFiles = {{"Portable", AdjustModelForRules(rig.identity.modelNumber, rig.settings), "KX41_Portable.fud"}};
  rig.Prepare(false);
  fs::create_directories(rig.Home() + "UpgradeFile");
  fs::copy_file(rig.PackagePath(), rig.Home() + "UpgradeFile/KX41_Portable.fud");

  EXPECT_EQ(rig.Run().code, ReportCode::Finished);
  EXPECT_EQ(rig.summary.packagePath, rig.Home() + "UpgradeFile/KX41_Portable.fud");
  EXPECT_EQ(rig.sink.packagesFound, std::vector<std::string>{rig.Home() + "UpgradeFile/KX41_Portable.fud"})
      << "the window is told which package is burned";
}

// --- Every refusal and error report ----------------------------------------------------------------

struct ReportCase {
  const char* name;
  std::function<void(UpgradeRig&)> before;  // before Prepare
  std::function<void(UpgradeRig&)> after;   // after Prepare, before the run
  ReportCode code;
  std::string payload;
  std::optional<UpgradeFailure> failure;
};

void Rebuild(UpgradeRig& rig) { rig.radioData = RcdbImageFor(rig.identity); }

// The english language package becomes an extern entry whose file is english[V1].bin beside
// the package (the file itself is the case's to make, or not).
void MakeEnglishExtern(UpgradeRig& rig) {
  rig.settings.englishLanguagePackageFile = "english.bin";
  PackageEntrySpec& english = rig.package.entries[0];
  english.entry.externFlag = 1;
  english.entry.extendName = "V1";
  english.entry.dataLength = 4096;
  english.data.clear();
}

const std::vector<ReportCase>& ReportCases() {
  static const std::vector<ReportCase> cases = {
      {"not RCDB data", [](UpgradeRig& r) { r.radioData = Bytes(4096, 0x5A); }, nullptr, ReportCode::RcdbFormatError,
       "", std::nullopt},
      {"radio type", [](UpgradeRig& r) { r.package.header.forPortable = 0, r.package.header.forMobile = 1; }, nullptr,
       ReportCode::RadioTypeBeyond, "KX412-000G0000-M00000-U1-0-F", std::nullopt},
      {"firmware version",
       [](UpgradeRig& r) {
         r.identity.softwareVersion = "A5.00.10.000";  // newer than the package's target
         Rebuild(r);
       },
       nullptr, ReportCode::FirmwareBeyond, "A5.00.10.000", std::nullopt},
      {"customer code",
       [](UpgradeRig& r) {
         r.identity.restrictionCode = 5;
         Rebuild(r);
       },
       nullptr, ReportCode::CustomerCodeBeyond, "", std::nullopt},
      {"model list", [](UpgradeRig& r) { r.package.modelRecords = {"<All Version> KV62X-000G0000-M00000-U1-0-F"}; },
       nullptr, ReportCode::ModelBeyond, "KX412-000G0000-M00000-U1-0-F", std::nullopt},
      {"serial list", [](UpgradeRig& r) { r.package.serialRecords = {"PT99999999"}; }, nullptr,
       ReportCode::SerialBeyond, "PT24000001", std::nullopt},
      {"package cannot be opened", nullptr, [](UpgradeRig& r) { fs::remove(r.PackagePath()); },
       ReportCode::PackageError, "", std::nullopt},
      {"package of another format", nullptr,
       [](UpgradeRig& r) {
         PackageSpec bad = r.package;
         bad.header.magic = "Some other file";
         ASSERT_TRUE(WritePackage(bad, r.PackagePath()).ok());
       },
       ReportCode::PackageError, "", std::nullopt},
      {"extern file missing", [](UpgradeRig& r) { MakeEnglishExtern(r); }, nullptr, ReportCode::ExternMissing, "",
       std::nullopt},
      {"component check", nullptr, [](UpgradeRig& r) { r.componentResult = kComponentCheckFailed; },
       ReportCode::ReadError, "", UpgradeFailure{kComponentCheckFailed, 0}},
      {"conversion fails",
       [](UpgradeRig& r) {
         r.package.header.keepCpsData = 1;
         r.convert = [](std::span<uint8_t>, ByteView) { return false; };
       },
       nullptr, ReportCode::ReadError, "", UpgradeFailure{kConversionFailed, 1}},
      {"converted data rejected",
       [](UpgradeRig& r) {
         r.package.header.keepCpsData = 1;
         r.convert = [](std::span<uint8_t>, ByteView) { return true; };
         r.validate = [](ByteView) { return false; };
       },
       nullptr, ReportCode::ReadError, "", UpgradeFailure{kValidationFailed, 1}},
      // Nothing to compress: refused with the other empty images when the package is checked.
      {"arm_main without data",
       [](UpgradeRig& r) {
         const std::string hex = ":00000001FF\r\n";
         r.package.entries.insert(r.package.entries.begin(), PkgEntry("arm_main", Bytes(hex.begin(), hex.end())));
       },
       nullptr, ReportCode::PackageError, "", std::nullopt},
  };
  return cases;
}

TEST(UpgradeOperation, EndsWithTheReportOfEveryRefusalAndError) {
  for (const ReportCase& c : ReportCases()) {
    SCOPED_TRACE(c.name);
    UpgradeRig rig;
    if (c.before) c.before(rig);
    rig.Prepare();
    if (c.after) c.after(rig);
    auto report = rig.Run();
    EXPECT_EQ(report.code, c.code);
    if (!c.payload.empty()) {
      EXPECT_EQ(Text(report.payload), c.payload);
    }
    if (c.failure) {
      auto* failure = std::get_if<UpgradeFailure>(&report.payload);
      ASSERT_NE(failure, nullptr);
      EXPECT_EQ(failure->errorCode, c.failure->errorCode);
      EXPECT_EQ(failure->rcdbSaved, c.failure->rcdbSaved);
      // A backup was written only when the record says so, and then holds the radio's data.
      auto backups = rig.Backups();
      ASSERT_EQ(backups.size(), size_t(c.failure->rcdbSaved));
      if (!backups.empty()) {
        EXPECT_EQ(ReadFileBytes(backups[0]), RadioDataAsRead(rig.radioData));
      }
    }
    EXPECT_FALSE(rig.Marked());
    EXPECT_TRUE(rig.sink.exitAllowed) << "a failed run lets the program close again";
  }
}

TEST(UpgradeOperation, DataNeitherRcdbNorARecordListCarryTheParserCode) {
  UpgradeRig rig;
  rig.radioData = Bytes(4096, 0x5A);
  const int parserCode = ReadIdentityFromImage(rig.radioData).recordListError;
  ASSERT_NE(parserCode, 0);
  rig.Prepare();
  auto report = rig.Run();
  EXPECT_EQ(report.code, ReportCode::RcdbFormatError);
  EXPECT_EQ(std::get<int>(report.payload), parserCode);
}

// An image that cannot be loaded ends the run with report 10, whose record and log line name
// the file and the reason, not only the generic text.
TEST(UpgradeOperation, AnImageThatCannotBeLoadedIsNamedWithItsReason) {
  struct Case {
    const char* name;
    std::function<void(UpgradeRig&)> change;
    int kind;
    const char* file;    // below the rig's folder
    const char* reason;  // a piece of the reason
    bool restoreRun = false;  // from a backup of the identity: an old firmware passes no rule
  };
  const Case cases[] = {
      {"picture replacement missing",
       [](UpgradeRig& r) {
         r.identity.modelNumber = "KX410-000G0000-M00000-U1-0-F";
         r.identity.softwareVersion = "A4.00.10.003";
         r.package.entries = {PkgEntry("gif package", Pattern(2048, 5), 0x900000)};
       },
       0, "UpgradeFile/PDT Portable.bin", "Cannot open image file", true},
      {"extern image over the image buffer",
       [](UpgradeRig& r) {
         MakeEnglishExtern(r);
         std::ofstream(r.dir.File("english[V1].bin"));
         fs::resize_file(r.dir.File("english[V1].bin"), 40'000'001);
       },
       1, "english[V1].bin", "larger than the image buffer (40000000 bytes)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpgradeRig rig;
    c.change(rig);
    rig.Prepare();
    UpgradeRunOptions options;
    if (c.restoreRun) options.restorationFile = rig.dir.Write("old.rcd", RcdbImageFor(rig.identity));
    auto report = rig.Run(options);
    ASSERT_EQ(report.code, ReportCode::PackageError);
    auto* failure = std::get_if<ImageLoadFailure>(&report.payload);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->kind, c.kind);
    EXPECT_NE(failure->detail.find(rig.dir.File(c.file)), std::string::npos) << failure->detail;
    EXPECT_NE(failure->detail.find(c.reason), std::string::npos) << failure->detail;
    EXPECT_NE(std::find(rig.sink.logs.begin(), rig.sink.logs.end(), failure->detail), rig.sink.logs.end());
    EXPECT_TRUE(rig.sink.exitAllowed);
    EXPECT_FALSE(rig.Marked());
  }
}

// An entry with no image at all would erase its area, write nothing and still end in
// "Upgrading Finished!". It is refused when the package is checked, before any request that
// changes flash, naming the entry.
TEST(UpgradeOperation, AnEntryWithoutAnImageIsRefusedBeforeAnythingIsErased) {
  // A record that jumps back to the start of the first page shrinks the first segment to
  // nothing, and packing ends at a segment of length 0.
  const std::string jumpBack = HexRecord(0, 0, Pattern(16, 1)) + HexRecord(0, 0, Pattern(16, 2)) + HexRecord(0, 1, {});
  struct Case {
    const char* name;
    std::function<void(UpgradeRig&)> change;
    const char* kind;
    const char* why;
  };
  const Case cases[] = {
      {"binary entry of length 0", [](UpgradeRig& r) { r.package.entries.push_back(PkgEntry("dsp_boot", {})); },
       "dsp_boot", "its length is 0"},
      {"extern file of length 0",
       [](UpgradeRig& r) {
         r.package.entries.push_back(r.package.entries[0]);
         MakeEnglishExtern(r);
         std::rotate(r.package.entries.begin(), r.package.entries.begin() + 1, r.package.entries.end());
         r.dir.Write("english[V1].bin", {});
       },
       "english language package", "its length is 0"},
      {"HEX that packs to nothing on a portable",
       [&jumpBack](UpgradeRig& r) {
         r.package.entries.push_back(PkgEntry("arm_main", Bytes(jumpBack.begin(), jumpBack.end())));
       },
       "arm_main", "its HEX text gives no data"},
      {"HEX that packs to nothing on a repeater",
       [&jumpBack](UpgradeRig& r) {
         r.profile.radioState = 2;
         r.package.entries.push_back(PkgEntry("arm_main", Bytes(jumpBack.begin(), jumpBack.end())));
       },
       "arm_main", "its HEX text gives no data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpgradeRig rig;
    c.change(rig);
    rig.Prepare();
    auto report = rig.Run();
    ASSERT_EQ(report.code, ReportCode::PackageError);
    auto* failure = std::get_if<ImageLoadFailure>(&report.payload);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->kind, 1);
    EXPECT_NE(failure->detail.find(c.why), std::string::npos) << failure->detail;
    EXPECT_NE(failure->detail.find(std::string("[") + c.kind + "]"), std::string::npos) << failure->detail;
    EXPECT_TRUE(rig.radio->Requests(kCmdMemoryErase).empty()) << "nothing is erased";
    EXPECT_TRUE(rig.radio->Requests(kCmdMemoryWrite).empty()) << "nothing is written";
    EXPECT_TRUE(rig.Backups().empty()) << "no backup for a radio that was not touched";
  }
}

// A configuration image that cannot be loaded ends the run before the radio's data are touched:
// no backup is left behind, or the next upgrade would ask about restoring a radio that was
// never changed.
TEST(UpgradeOperation, AConfigurationImageThatCannotBeLoadedLeavesNoBackup) {
  UpgradeRig rig;
  rig.settings.rcdbDataFile = "rcdb.bin";
  PackageEntrySpec& rcdb = rig.package.entries[1];
  rcdb.entry.externFlag = 1;
  rcdb.entry.extendName = "V1";
  rcdb.data.clear();
  std::ofstream(rig.dir.File("rcdb[V1].bin"));
  fs::resize_file(rig.dir.File("rcdb[V1].bin"), 40'000'001);
  rig.Prepare();
  auto report = rig.Run();
  ASSERT_EQ(report.code, ReportCode::PackageError);
  EXPECT_TRUE(rig.Backups().empty());
  EXPECT_TRUE(rig.summary.backupPath.empty());
}

TEST(UpgradeOperation, PackageErrorsSayWhetherTheFileOpened) {
  for (bool deleted : {true, false}) {
    UpgradeRig rig;
    rig.Prepare();
    if (deleted) {
      fs::remove(rig.PackagePath());
    } else {
      rig.package.header.magic = "Some other file";
      ASSERT_TRUE(WritePackage(rig.package, rig.PackagePath()).ok());
    }
    auto report = rig.Run();
    ASSERT_EQ(report.code, ReportCode::PackageError);
    EXPECT_EQ(std::get<int>(report.payload), deleted ? 0 : 1);
  }
}

TEST(UpgradeOperation, NoPackageForTheModelIsReported18WithTheModelNumber) {
  UpgradeRig rig;
  const std::string ini = std::string(LW_SOURCE_DIR) + "/data/set.ini";
  rig.restrictions = RestrictionsFromSettings(rig.settings, ReadUpgradeRules(ini),
                                              ReadRadioRules(ini, rig.settings.allPreVersionUpgrade),
                                              ReadTunerRules(ini));
  rig.Prepare(false);  // and no "UPGRADE FILE" rules
  auto report = rig.Run();
  EXPECT_EQ(report.code, ReportCode::ModelBeyond);
  EXPECT_EQ(Text(report.payload), "KX412-000G0000-M00000-U1-0-F");
  EXPECT_TRUE(rig.radio->Requests(kCmdMemoryErase).empty());
}

// --- The question 13 --------------------------------------------------------------------------------

TEST(UpgradeOperation, AnExistingBackupIsOfferedAndYesEndsWith15BeforeAnythingIsErased) {
  for (bool restore : {true, false}) {
    UpgradeRig rig;
    rig.Prepare();
    auto earlier = BackupStore(rig.BackupDir()).WriteBackupAt("PT24000001", Bytes(64, 1), 1'000'000'000);
    ASSERT_TRUE(earlier.written);
    rig.sink.answer = restore;
    auto report = rig.Run();
    ASSERT_EQ(rig.sink.asked, std::vector<std::string>{"PT24000001"});
    if (restore) {
      EXPECT_EQ(report.code, ReportCode::RestoreChosen);
      EXPECT_TRUE(rig.radio->Requests(kCmdMemoryErase).empty());
    } else {
      EXPECT_EQ(report.code, ReportCode::Finished);
    }
    EXPECT_TRUE(fs::exists(earlier.path)) << "the operator's backup is never touched";
  }
}

// --- Faults at every stage ---------------------------------------------------------------------------

struct FaultCase {
  const char* name;
  std::function<void(sim::SimFaults&)> fault;
  int errorCode;
  bool backupExpected;
};

sim::FaultRule At(uint16_t code, uint32_t nth, int delayMs = 0) { return sim::FaultRule{code, nth, false, delayMs}; }

// Requests of the rig's run, in order: read_rcdb reads 0x01C2 #1-2048; the English package
// erases 0x01C4 #1-4 and writes 0x01C3 #1-8; rcdb_data reads #2049-4096 and the InfoBlock
// (#4097), writes it back (#9), erases #5-20 and writes #10-13.
const std::vector<FaultCase>& FaultCases() {
  static const std::vector<FaultCase> cases = {
      {"no answer while the radio data are read", [](sim::SimFaults& f) { f.noAnswer = {At(kCmdMemoryRead, 100)}; },
       kNoAnswer, false},
      {"garbled answer while the old configuration data are read",
       [](sim::SimFaults& f) { f.garble = {At(kCmdMemoryRead, 2100)}; }, kNoAnswer, true},
      {"short answer to the InfoBlock read", [](sim::SimFaults& f) { f.shortAnswer = {At(kCmdMemoryRead, 4097)}; },
       kNoAnswer, true},
      {"refused write of the language package", [](sim::SimFaults& f) { f.refuse = {At(kCmdMemoryWrite, 3)}; },
       kWriteRefused, false},
      {"refused write of the configuration data", [](sim::SimFaults& f) { f.refuse = {At(kCmdMemoryWrite, 11)}; },
       kWriteRefused, true},
      {"late answer to an erase", [](sim::SimFaults& f) { f.delay = {At(kCmdMemoryErase, 7, 700)}; }, kNoAnswer,
       true},
      {"no answer to an erase", [](sim::SimFaults& f) { f.noAnswer = {At(kCmdMemoryErase, 2)}; }, kNoAnswer, false},
      {"unplugged half-way through the configuration data",
       [](sim::SimFaults& f) { f.unplugAfter = 2048 + 4 + 8 + 1000; }, kNoAnswer, true},
  };
  return cases;
}

TEST(UpgradeOperation, AFaultAtAnyStageFailsTheRunAndLeavesTheBackupIntact) {
  for (const FaultCase& c : FaultCases()) {
    SCOPED_TRACE(c.name);
    UpgradeRig rig;
    c.fault(rig.profile.faults);
    rig.Prepare();
    auto report = rig.Run();
    ASSERT_EQ(report.code, ReportCode::ReadError);
    auto* failure = std::get_if<UpgradeFailure>(&report.payload);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->errorCode, c.errorCode);
    EXPECT_EQ(failure->rcdbSaved, c.backupExpected ? 1 : 0);
    auto backups = rig.Backups();
    ASSERT_EQ(backups.size(), c.backupExpected ? 1u : 0u);
    if (c.backupExpected) {
      EXPECT_EQ(ReadFileBytes(backups[0]), RadioDataAsRead(rig.radioData)) << "backup differs from the radio's data";
      EXPECT_EQ(rig.summary.backupPath, backups[0]);
    }
    EXPECT_FALSE(rig.Marked());
  }
}

// The backup of the radio's data stays until the whole run is through: an image after the
// configuration data that fails leaves the radio with new data and half a package, and its old
// data in the backup, for a restore.
TEST(UpgradeOperation, TheBackupStaysUntilTheRunIsThrough) {
  UpgradeRig rig;
  rig.package.entries.push_back(PkgEntry("dsp_boot", Pattern(4096, 9)));
  // Writes: English #1-8, the InfoBlock write-back #9, rcdb_data #10-13, dsp_boot from #14.
  rig.profile.faults.refuse = {At(kCmdMemoryWrite, 14)};
  rig.Prepare();
  auto report = rig.Run();
  ASSERT_EQ(report.code, ReportCode::ReadError);
  auto* failure = std::get_if<UpgradeFailure>(&report.payload);
  ASSERT_NE(failure, nullptr);
  EXPECT_EQ(failure->errorCode, kWriteRefused);
  EXPECT_EQ(failure->rcdbSaved, 1) << "the operator is told the data are saved";
  const auto backups = rig.Backups();
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(ReadFileBytes(backups[0]), RadioDataAsRead(rig.radioData));
  EXPECT_EQ(rig.summary.backupPath, backups[0]);
}

// A backup that cannot be written (a full disk, a folder that cannot be made) stops the run
// before the radio's configuration data are touched: without a copy of them, they are not
// overwritten.
TEST(UpgradeOperation, NoConfigurationDataAreOverwrittenWithoutABackup) {
  UpgradeRig rig;
  rig.Prepare();
  const std::string blocker = rig.dir.Write("not-a-folder", {1});
  UpgradeEnvironment env = rig.Environment();
  env.backupDirectory = blocker + "/Restore/";  // under a file: no one can make it, root neither
  UpgradeOperation op(env, rig.sink);
  op.Run({});
  const auto report = rig.sink.Final();
  ASSERT_EQ(report.code, ReportCode::ReadError);
  auto* failure = std::get_if<UpgradeFailure>(&report.payload);
  ASSERT_NE(failure, nullptr);
  EXPECT_EQ(failure->rcdbSaved, 0);
  EXPECT_NE(failure->detail.find("Backup not written"), std::string::npos) << failure->detail;
  for (const auto& erase : rig.radio->Requests(kCmdMemoryErase))
    EXPECT_FALSE(erase.Address() >= kRcdbArea && erase.Address() < kRcdbArea + 0x200000) << "the data were erased";
  EXPECT_EQ(rig.Flash(kRcdbArea, uint32_t(rig.radioData.size())), rig.radioData);
}

// A stop that lands after the last entry, just before the report 2 goes out, drops the report:
// the operator is not told the run finished, so the backup must still be there.
TEST(UpgradeOperation, AStopThatDropsTheFinalReportKeepsTheBackup) {
  class StopAtTheEnd : public ReportSink {
   public:
    void Log(const std::string& text) override {
      ReportSink::Log(text);
      if (text == "Upgrading Finished!") *stop = true;
    }
  };
  UpgradeRig rig;
  rig.Prepare();
  StopAtTheEnd sink;
  UpgradeOperation op(rig.Environment(), sink);
  op.Run({});
  EXPECT_TRUE(sink.reports.empty()) << "the report came after the stop";
  const auto backups = rig.Backups();
  ASSERT_EQ(backups.size(), 1u) << "no report 2 was sent, so the backup stays";
  EXPECT_EQ(ReadFileBytes(backups[0]), RadioDataAsRead(rig.radioData));
}

// Read-back verify: faults the link cannot see (a write the radio lost, a stuck bit, an erase
// that never happened under a block the write skipped) pass unnoticed without it and fail the
// run with it, naming where; a sound radio passes either way.
TEST(UpgradeOperation, ReadBackVerifyCatchesWhatTheLinkCannotSee) {
  const Bytes english = Pattern(4096, 3);
  auto firstDifferenceFrom = [&](size_t at, uint8_t flash) {
    while (english[at] == flash) ++at;
    return uint32_t(0x800000 + at);
  };
  const uint8_t e10 = english[0x10];
  const uint8_t stuckMask = uint8_t(~e10 & (e10 + 1));  // the lowest bit the image clears there
  struct Case {
    const char* name;
    std::function<void(UpgradeRig&)> fault;
    uint32_t mismatchAt;  // 0: a sound radio
  } cases[] = {
      {"sound radio", [](UpgradeRig&) {}, 0},
      {"third write dropped",
       [](UpgradeRig& r) {
         r.profile.faults.drop.push_back({kCmdMemoryWrite, 3, false, 0});
       },
       firstDifferenceFrom(0x400, 0xFF)},
      {"stuck bit",
       [&](UpgradeRig& r) {
         r.profile.faults.stuck.push_back({0x800010, stuckMask});
       },
       0x800010},
      {"erase under a skipped block dropped",
       [](UpgradeRig& r) {
         std::fill(r.english.begin() + 0x400, r.english.begin() + 0x600, 0xFF);
         r.package.entries[0] = PkgEntry("english language package", r.english, 0x800000);
         r.profile.images.push_back({0, 0x800400, "", Bytes(512, 0x00)});
         r.profile.faults.drop.push_back({kCmdMemoryErase, 1, false, 0});
       },
       0x800400},
  };
  for (const Case& c : cases) {
    for (bool verify : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (verify ? ", verified" : ", not verified"));
      UpgradeRig rig;
      rig.settings.verifyWrites = verify;
      c.fault(rig);
      rig.Prepare();
      auto report = rig.Run();
      if (c.mismatchAt == 0 || !verify) {
        // Without verify the damaged radio is reported upgraded: the reason verify exists.
        EXPECT_EQ(report.code, ReportCode::Finished);
        EXPECT_EQ(rig.Flash(0x800000, 4096) == rig.english, c.mismatchAt == 0);
        auto reads = rig.radio->Requests(kCmdMemoryRead);
        const bool readBack = std::any_of(reads.begin(), reads.end(), [](const sim::SimRequest& r) {
          return r.Address() == 0x800000 && r.Length() == 4096;
        });
        EXPECT_EQ(readBack, verify) << "verify reads the image back in one block, and only verify";
        continue;
      }
      ASSERT_EQ(report.code, ReportCode::ReadError);
      auto* failure = std::get_if<UpgradeFailure>(&report.payload);
      ASSERT_NE(failure, nullptr);
      EXPECT_EQ(failure->errorCode, kVerifyMismatch);
      const uint8_t read = rig.Flash(c.mismatchAt, 1)[0];
      const std::string detail = Format(
          "Read-back verify failed: english language package, main side, first difference at 0x%06X "
          "(written %02X, read %02X)",
          c.mismatchAt, rig.english[c.mismatchAt - 0x800000], read);
      EXPECT_EQ(failure->detail, detail);
      EXPECT_EQ(rig.summary.payloadText, detail) << "the remote result file's report text";
      EXPECT_NE(std::find(rig.sink.logs.begin(), rig.sink.logs.end(), detail), rig.sink.logs.end());
      EXPECT_FALSE(rig.Marked());
      ASSERT_FALSE(rig.summary.entries.empty());
      EXPECT_EQ(rig.summary.entries.back().name, "english language package");
      EXPECT_FALSE(rig.summary.entries.back().burned);
    }
  }
}

TEST(UpgradeOperation, AStoppedWorkerSendsNoFurtherRequestAndNoReport) {
  UpgradeRig rig;
  rig.Prepare();
  std::atomic<bool>& stop = *rig.sink.stop;
  size_t requestsAtStop = 0;
  // The watchdog gives up while the English package is being erased.
  rig.profile.faults = {};
  std::thread watchdog([&] {
    while (rig.radio->Requests(kCmdMemoryErase).empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stop = true;
    requestsAtStop = rig.radio->RequestCount();
  });
  UpgradeOperation op(rig.Environment(), rig.sink);
  op.Run({});
  watchdog.join();
  EXPECT_TRUE(rig.sink.reports.empty());
  EXPECT_LE(rig.radio->RequestCount(), requestsAtStop + 1) << "at most the request in flight";
  EXPECT_FALSE(rig.Marked());
}

// --- Restore ------------------------------------------------------------------------------------

TEST(UpgradeOperation, RestoreRunSkipsTheRulesConvertsFromTheBackupAndDeletesIt) {
  UpgradeRig rig;
  rig.package.versionRecords = {"A5.00.08.002"};  // an upgrade of this radio would be refused (17)
  rig.package.header.keepCpsData = 1;
  Bytes source;
  rig.convert = [&source](std::span<uint8_t>, ByteView old) {
    source.assign(old.begin(), old.end());
    return true;
  };
  rig.validate = [](ByteView) { return true; };
  rig.Prepare();
  Bytes backupData = RadioDataAsRead(RcdbImageFor(rig.identity));
  backupData[300] ^= 0x5A;  // what the radio held when the backup was made
  auto backup = BackupStore(rig.BackupDir()).WriteBackupAt("PT24000001", backupData, 1'000'000'000);
  ASSERT_TRUE(backup.written);

  auto report = rig.Run({"", backup.path});
  EXPECT_EQ(report.code, ReportCode::Finished);
  EXPECT_FALSE(fs::exists(backup.path)) << "a restored backup is deleted";
  EXPECT_TRUE(rig.Backups().empty()) << "a restore run writes no backup of its own";
  EXPECT_EQ(source, backupData) << "the conversion reads the backup, not the radio";
  EXPECT_TRUE(rig.sink.asked.empty());
  EXPECT_NE(std::find(rig.sink.logs.begin(), rig.sink.logs.end(),
                      "Read Restoration File:" + fs::path(backup.path).filename().string()),
            rig.sink.logs.end());
  // Only the configuration entry reads the radio (1 MiB) and the InfoBlock twice: no read_rcdb.
  EXPECT_EQ(rig.radio->Requests(kCmdMemoryRead).size(), kRcdbReadLength / 512 + 2);
  EXPECT_TRUE(rig.summary.restored);
}

// A package with both configuration kinds converts both from the backup, and the backup goes
// only once the run is through: a restore that fails anywhere leaves it as it was, for the next
// try.
TEST(UpgradeOperation, ARestoreKeepsItsBackupUntilTheRunIsThrough) {
  size_t firstRcdbWrite = 0;  // found by the sound run, refused in the failing one
  for (bool failLast : {false, true}) {
    SCOPED_TRACE(failLast ? "the rcdb_data write refused" : "a sound radio");
    UpgradeRig rig;
    rig.package.header.keepCpsData = 1;
    rig.package.entries.insert(rig.package.entries.begin() + 1, PkgEntry("cps_data", rig.newRcdb));
    std::vector<Bytes> sources;
    rig.convert = [&sources](std::span<uint8_t>, ByteView old) {
      sources.emplace_back(old.begin(), old.end());
      return true;
    };
    rig.validate = [](ByteView) { return true; };
    if (failLast) rig.profile.faults.refuse = {At(kCmdMemoryWrite, uint32_t(firstRcdbWrite))};
    rig.Prepare();
    Bytes backupData = RadioDataAsRead(RcdbImageFor(rig.identity));
    backupData[300] ^= 0x5A;
    auto backup = BackupStore(rig.BackupDir()).WriteBackupAt("PT24000001", backupData, 1'000'000'000);
    ASSERT_TRUE(backup.written);

    auto report = rig.Run({"", backup.path});
    if (!failLast) {
      ASSERT_EQ(report.code, ReportCode::Finished);
      EXPECT_FALSE(fs::exists(backup.path)) << "a restored backup is deleted";
      ASSERT_EQ(sources.size(), 2u) << "cps_data and rcdb_data are both converted";
      EXPECT_EQ(sources[0], backupData);
      EXPECT_EQ(sources[1], backupData) << "the second entry converts from the backup too";
      const auto writes = rig.radio->Requests(kCmdMemoryWrite);
      for (size_t i = 0; i < writes.size() && !firstRcdbWrite; ++i)
        if (writes[i].Address() == kRcdbArea) firstRcdbWrite = i + 1;
      ASSERT_GT(firstRcdbWrite, 0u);
    } else {
      ASSERT_EQ(report.code, ReportCode::ReadError);
      ASSERT_TRUE(fs::exists(backup.path)) << "the only copy of the radio's data is kept";
      EXPECT_EQ(ReadFileBytes(backup.path), backupData);
    }
  }
}

TEST(UpgradeOperation, RestoreFromAFileThatIsNotRcdbDataEndsWith21) {
  UpgradeRig rig;
  rig.Prepare();
  std::string file = rig.dir.Write("junk.rcd", Bytes(2000, 0x33));
  EXPECT_EQ(rig.Run({"", file}).code, ReportCode::RcdbFormatError);
  EXPECT_TRUE(fs::exists(file));
}

// --- Entry rules ----------------------------------------------------------------------------------

TEST(UpgradeRules, SkipRulesOfPicturesAndVoicePrompts) {
  struct Case {
    const char* name;
    const char* firmware;
    const char* model;
    bool remote;
    bool skipped;
    const char* upgradeTo2 = "";
  };
  const char* kModel0 = "KX410-000G0000-M00000-U1-0-F";
  const char* kModel2 = "KX412-000G0000-M00000-U1-0-F";
  const Case cases[] = {
      {"gif package", "A4.00.10.004", kModel0, false, true},
      {"gif package", "A4.00.10.003", kModel0, false, false},
      {"gif package", "A3.05.10.001", kModel2, false, true},
      {"gif package", "A3.05.10.000", kModel2, false, false},
      {"gif package", "A5.00.09.000", kModel2, false, true},  // already at the target
      {"voice notify package", "A5.00.00.000", kModel2, false, true},
      {"voice notify package", "A5.00.00.000", kModel2, true, false},
      {"voice notify package", "A5.00.08.001", kModel2, true, true},
      {"english language package", "A9.99.99.999", kModel2, false, false},
      // "Upgrade To2": a radio already at the second target keeps its pictures; the letter in
      // front of either version does not count.
      {"gif package", "A3.05.09.000", kModel2, false, true, "V3.05.09.000"},
      {"gif package", "A3.05.09.000", kModel2, false, false, "V3.05.09.001"},
      {"gif package", "A3.05.09.000", kModel2, true, true, "A3.05.09.000"},
      {"voice notify package", "A4.00.00.000", kModel2, false, false, "A4.00.00.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.firmware + (c.remote ? " remote" : "") + " to2 " + c.upgradeTo2);
    EXPECT_EQ(!SkipReason(c.name, c.firmware, c.model, "A5.00.09.000", c.upgradeTo2, c.remote).empty(), c.skipped);
  }
}

TEST(UpgradeRules, PictureReplacementVersionStampRegionFilesAndStockFiles) {
  EXPECT_EQ(GifReplacementFile("gif package", "A4.00.10.003", "KX410-000G0000-M00000-U1-0-F"), "PDT Portable.bin");
  EXPECT_EQ(GifReplacementFile("gif package", "A4.00.10.003", "KV620-000G0000-M00000-U1-0-F"), "PDT Mobile.bin");
  EXPECT_EQ(GifReplacementFile("gif package", "A4.00.10.003", "KQ600-000G0000-M00000-U1-0-F"), "PDT_GIF.bin");
  EXPECT_EQ(GifReplacementFile("gif package", "A4.00.10.003", "KX412-000G0000-M00000-U1-0-F"), "");

  EXPECT_EQ(StampedVersion("A4.05.10.001", "V5.00.01.002"), "A5.00.01.002");
  EXPECT_EQ(StampedVersion("T4.05.10.001", "V5.00.01.002"), "");

  ProgramSettings s;
  s.na2File = "[NA2]_Language.bin";
  s.farsiFile = "Farsi.bin";
  EXPECT_EQ(RegionLanguageFile(s, "KX412-000G0000-M00000-U1-0-F"), "NA2_Language.bin");
  s.selectLanguageText = "1";
  EXPECT_EQ(RegionLanguageFile(s, "KX412-000G0000-M00000-U1-0-F"), "Farsi.bin");

  Bytes image = Pattern(1000, 1);
  auto back = UnscrambleStock(ScrambleStock(image));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, image);
  EXPECT_FALSE(UnscrambleStock(Bytes(kStockHeaderSize, 0)).has_value());
}

// Firmware this old is below every version rule, so only a restore run brings it this far.
TEST(UpgradeOperation, OldPortablesGetThePictureReplacementFile) {
  UpgradeRig rig;
  RadioIdentity old = rig.identity;
  old.modelNumber = "KX410-000G0000-M00000-U1-0-F";
  old.softwareVersion = "A4.00.10.003";
  rig.package.entries = {PkgEntry("gif package", Pattern(2048, 5), 0x900000)};
  Bytes replacement = Pattern(3000, 77);
  rig.dir.Write("UpgradeFile/PDT Portable.bin", replacement);
  rig.Prepare();
  std::string backup = rig.dir.Write("old.rcd", RcdbImageFor(old));
  ASSERT_EQ(rig.Run({"", backup}).code, ReportCode::Finished);
  EXPECT_EQ(rig.Flash(0x900000, uint32_t(replacement.size())), replacement);
  ASSERT_EQ(rig.summary.entries.size(), 1u);
  EXPECT_TRUE(rig.summary.entries[0].replaced);
}

// --- Optional steps and the two sides of a repeater ------------------------------------------------

// The index of the first memory write whose address lies in [from, from + length), or -1.
long FirstWriteInto(const std::vector<sim::SimRequest>& requests, uint32_t from, uint32_t length) {
  for (size_t i = 0; i < requests.size(); ++i)
    if (requests[i].code == kCmdMemoryWrite && requests[i].Address() >= from && requests[i].Address() - from < length)
      return long(i);
  return -1;
}

TEST(UpgradeOperation, RegionLanguagePackageGoesBeforeTheEnglishOneOrIsSkippedWhenMissing) {
  for (bool present : {true, false}) {
    SCOPED_TRACE(present ? "region file present" : "region file missing");
    UpgradeRig rig;
    rig.settings.autoBurnRegionLanguage = true;
    rig.settings.selectLanguageText = "0";
    rig.settings.na2File = "[NA2]_Language.bin";  // the model's fifth character is 2
    const Bytes region = Pattern(3000, 41);
    if (present) rig.dir.Write("UpgradeFile/NA2_Language.bin", region);
    rig.Prepare();
    ASSERT_EQ(rig.Run().code, ReportCode::Finished);
    EXPECT_EQ(rig.Flash(0x800000, uint32_t(rig.english.size())), rig.english);
    const auto requests = rig.radio->Requests();
    const long english = FirstWriteInto(requests, 0x800000, 0x80000);
    const long other = FirstWriteInto(requests, 0x880000, 0x80000);
    ASSERT_GE(english, 0);
    const bool logged = std::any_of(rig.sink.logs.begin(), rig.sink.logs.end(), [&](const std::string& line) {
      return StartsWith(line, "Region language package skipped:") && Contains(line, "NA2_Language.bin");
    });
    if (present) {
      EXPECT_EQ(rig.Flash(0x880000, uint32_t(region.size())), region);
      ASSERT_GE(other, 0);
      EXPECT_LT(other, english) << "the region's package is written before the english one";
      EXPECT_FALSE(logged);
    } else {
      EXPECT_EQ(other, -1) << "nothing of a missing region package reaches the radio";
      EXPECT_TRUE(logged) << "the log says which file was missing";
    }
  }
}

TEST(UpgradeOperation, ASecondTargetVersionKeepsThePicturesOfARadioAlreadyThere) {
  for (const char* upgradeTo2 : {"", "V3.05.09.000"}) {
    SCOPED_TRACE(std::string("Upgrade To2 ") + upgradeTo2);
    UpgradeRig rig;
    rig.identity.softwareVersion = "A3.05.09.000";  // below the picture thresholds
    rig.settings.upgradeTo2 = upgradeTo2;
    const Bytes pictures = Pattern(2048, 9);
    rig.package.entries = {PkgEntry("gif package", pictures, 0x900000)};
    rig.Prepare();
    UpgradeRunOptions restore;  // a restore run: no version rule stands in the way
    restore.restorationFile = rig.dir.Write("old.rcd", RcdbImageFor(rig.identity));
    ASSERT_EQ(rig.Run(restore).code, ReportCode::Finished);
    ASSERT_EQ(rig.summary.entries.size(), 1u);
    const bool skipped = *upgradeTo2 != 0;
    EXPECT_EQ(rig.summary.entries[0].skipped, skipped);
    EXPECT_EQ(rig.Flash(0x900000, uint32_t(pictures.size())) == pictures, !skipped);
  }
}

// The receive unit's kinds write with selector 16 on a bootloader that knows selectors, and the
// completion mark then goes to the receive side; a bootloader up to 01.04.005 gets selector 0
// in every request (the simulated radio counts any other selector as a protocol error).
TEST(UpgradeOperation, ReceiveSideKindsAndTheSelectorOfOldBootloaders) {
  for (const char* bootloader : {"01.04.006", "01.04.005"}) {
    SCOPED_TRACE(bootloader);
    const bool selectors = std::string(bootloader) > "01.04.005";
    UpgradeRig rig;
    rig.profile.bootloader = bootloader;
    rig.profile.receiveSide = true;
    rig.profile.rxInfoBlock = rig.profile.infoBlock;
    const Bytes dsp = Pattern(4096, 13);
    rig.package.entries.push_back(PkgEntry("dsp_main(Rx)", dsp, 0x420000));
    rig.Prepare();
    ASSERT_EQ(rig.Run().code, ReportCode::Finished);
    EXPECT_TRUE(rig.radio->ProtocolErrors().empty()) << rig.radio->ProtocolErrors().front();

    Bytes swapped = dsp;
    WordReverse(swapped);
    const uint8_t side = selectors ? 16 : 0;
    EXPECT_EQ(rig.Flash(0x420000, uint32_t(dsp.size()), side), swapped);
    for (const auto& request : rig.radio->Requests()) {
      if (request.code != kCmdMemoryWrite && request.code != kCmdMemoryErase && request.code != kCmdMemoryRead)
        continue;
      if (!selectors) {
        EXPECT_EQ(request.Selector(), 0) << std::hex << request.code << " at " << request.Address();
      }
    }
    const long rx = FirstWriteInto(rig.radio->Requests(), 0x420000, 0x1E0000);
    ASSERT_GE(rx, 0);
    EXPECT_EQ(rig.radio->Requests()[size_t(rx)].Selector(), side);

    // The mark of a run that burned the receive side: three status bytes (12 to 14), on the
    // receive side where the bootloader knows selectors.
    const Bytes mark = rig.Flash(kInfoBlockAddress, 17, side);
    EXPECT_EQ(Bytes(mark.begin() + 12, mark.begin() + 15), Bytes(3, 0xF0));
    if (selectors) {
      EXPECT_EQ(Bytes(mark.begin() + 15, mark.end()), Bytes(2, 0xFF));
      EXPECT_FALSE(rig.Marked()) << "the main side is not marked";
    }
  }
}

TEST(UpgradeOperation, AutoBurnArmMainWritesTheStockImagesOfTheRadioType) {
  UpgradeRig rig;
  rig.settings.autoBurnArmMain = true;
  std::string hex = ":020000040002F8\r\n:04000000DEADBEEFC4\r\n:00000001FF\r\n";
  rig.dir.Write("UpgradeFile/Portable_arm_main.stk", ScrambleStock(Bytes(hex.begin(), hex.end())));
  Bytes dsp = {1, 2, 3, 4, 5, 6};
  rig.dir.Write("UpgradeFile/Portable_dsp_main.stk", ScrambleStock(dsp));
  rig.Prepare();
  ASSERT_EQ(rig.Run().code, ReportCode::Finished);
  EXPECT_EQ(rig.Flash(0x020000, 4), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_EQ(rig.Flash(0x420000, 6), (Bytes{2, 1, 4, 3, 6, 5})) << "dsp_main is word-swapped";
}

// A stock file that is there but cannot be used is refused by name, in the notice and the log,
// before anything is erased: never skipped in silence, nor a bare "Reading data error!".
TEST(UpgradeOperation, AStockFileThatCannotBeUsedIsNamedWithItsReason) {
  struct Case {
    const char* name;
    Bytes file;
    const char* reason;
  };
  const std::string notHex = "this is no HEX text at all\r\n";
  const Case cases[] = {
      {"too small", Bytes(kStockHeaderSize, 0), "too small"},
      {"HEX that does not read", ScrambleStock(Bytes(notHex.begin(), notHex.end())), "no usable HEX text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpgradeRig rig;
    rig.settings.autoBurnArmMain = true;
    const std::string path = rig.dir.Write("UpgradeFile/Portable_arm_main.stk", c.file);
    rig.Prepare();
    auto report = rig.Run();
    ASSERT_EQ(report.code, ReportCode::PackageError);
    auto* failure = std::get_if<ImageLoadFailure>(&report.payload);
    ASSERT_NE(failure, nullptr);
    EXPECT_NE(failure->detail.find(path), std::string::npos) << failure->detail;
    EXPECT_NE(failure->detail.find(c.reason), std::string::npos) << failure->detail;
    EXPECT_NE(std::find(rig.sink.logs.begin(), rig.sink.logs.end(), failure->detail), rig.sink.logs.end());
    EXPECT_TRUE(rig.radio->Requests(kCmdMemoryErase).empty());
  }
}

// A radio data file (a backup to restore, an auto-test file) larger than the radio data buffer
// is refused saying so, not as a file that could not be opened.
TEST(UpgradeOperation, ARadioDataFileTooLargeSaysSo) {
  for (bool restore : {true, false}) {
    SCOPED_TRACE(restore ? "restoration file" : "auto-test file");
    UpgradeRig rig;
    rig.Prepare();
    const std::string file = rig.dir.File("big.rcd");
    std::ofstream(file).put('x');
    fs::resize_file(file, kChangeDataBufferSize + 1);
    UpgradeRunOptions options;
    (restore ? options.restorationFile : options.autoTestFile) = file;
    auto report = rig.Run(options);
    ASSERT_EQ(report.code, ReportCode::PackageError);
    auto* failure = std::get_if<ImageLoadFailure>(&report.payload);
    ASSERT_NE(failure, nullptr);
    EXPECT_NE(failure->detail.find(file), std::string::npos) << failure->detail;
    EXPECT_NE(failure->detail.find("larger than"), std::string::npos) << failure->detail;
    EXPECT_TRUE(fs::exists(file));
  }
}

// arm_main goes compressed to a portable or mobile; a repeater, and every remote upgrade, get it
// as it is.
TEST(UpgradeOperation, ArmMainIsCompressedExceptOnARepeaterOrARemoteUpgrade) {
  struct Case {
    int deviceClass;
    bool remote;
    bool compressed;
  };
  for (const Case& c : {Case{0, false, true}, Case{2, false, false}, Case{0, true, false}}) {
    SCOPED_TRACE(Format("class %d%s", c.deviceClass, c.remote ? ", remote" : ""));
    UpgradeRig rig;
    rig.profile.radioState = c.deviceClass;
    std::string hex = ":020000040002F8\r\n";
    for (int line = 0; line < 64; ++line) hex += HexRecord(uint16_t(line * 16), 0, Bytes(16, 0));
    hex += ":00000001FF\r\n";
    rig.package.entries = {PkgEntry("arm_main", Bytes(hex.begin(), hex.end()))};
    rig.Prepare();
    if (c.remote) {
      UpgradeOperation op(rig.Environment(), rig.sink);
      ASSERT_EQ(op.PrepareRemote(rig.dir.Write("radio.rcd", rig.radioData)), 100);
      ASSERT_EQ(op.RunRemote(), ReportCode::Finished);
      rig.summary = op.summary();
    } else {
      ASSERT_EQ(rig.Run().code, ReportCode::Finished);
    }
    ASSERT_EQ(rig.summary.entries.size(), 1u);
    // 1 KiB of zeros: the LZSS stream is a small fraction of it.
    if (c.compressed) {
      EXPECT_LT(rig.summary.entries[0].imageLength, 200u);
    } else {
      EXPECT_EQ(rig.summary.entries[0].imageLength, 1024u);
    }
  }
}

// Report 20 carries the path of the extern file that is not there.
TEST(UpgradeOperation, AMissingExternFileIsReportedWithItsPath) {
  UpgradeRig rig;
  MakeEnglishExtern(rig);
  rig.Prepare();
  auto report = rig.Run();
  ASSERT_EQ(report.code, ReportCode::ExternMissing);
  EXPECT_EQ(Text(report.payload), rig.dir.File("english[V1].bin"));
  EXPECT_TRUE(rig.radio->Requests(kCmdMemoryErase).empty());
}

// --- Remote upgrade ----------------------------------------------------------------------------------

TEST(RemoteUpgrade, PreparesFromTheDataFileUpgradesAndWritesTheResultFile) {
  UpgradeRig rig;
  rig.Prepare();
  std::string data = rig.dir.Write("radio.rcd", rig.radioData);
  UpgradeOperation op(rig.Environment(), rig.sink);
  ASSERT_EQ(op.PrepareRemote(data), 100);
  EXPECT_TRUE(rig.sink.reports.empty()) << "the preparation reports nothing";
  EXPECT_EQ(op.RunRemote(), ReportCode::Finished);
  EXPECT_FALSE(rig.Marked()) << "a remote upgrade writes no completion mark";

  Bytes file = ReadFileBytes(rig.dir.File("radio.fuc"));
  auto result = DecodeRemoteResult(file);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->reportCode, 2);
  EXPECT_EQ(result->modelNumber, "KX412-000G0000-M00000-U1-0-F");
  EXPECT_EQ(result->serialNumber, "PT24000001");
  EXPECT_EQ(result->targetVersion, "A5.00.09.000");
  EXPECT_EQ(result->burned, 2u);
  ASSERT_EQ(result->entries.size(), 2u);
  EXPECT_EQ(result->entries[1].name, "rcdb_data");
  EXPECT_TRUE(result->entries[1].flags & kEntryBurned);
  EXPECT_NE(result->log.find("Upgrading Finished!"), std::string::npos);
  ASSERT_GT(file.size(), kRemoteRecordSize);
  EXPECT_EQ(Le32(&file[8]), 3917u) << "the record states its own size";
}

// A remote upgrade that a stop ended (the server's, the watchdog's) sent no report; its result
// file says it was stopped, never that it finished.
TEST(RemoteUpgrade, AStoppedRunsResultFileSaysStoppedNeverFinished) {
  for (bool beforeTheBurn : {true, false}) {
    SCOPED_TRACE(beforeTheBurn ? "stopped as the first image is loaded" : "stopped at the first erase");
    UpgradeRig rig;
    rig.Prepare();
    const std::string data = rig.dir.Write("radio.rcd", rig.radioData);
    UpgradeOperation op(rig.Environment(), rig.sink);
    ASSERT_EQ(op.PrepareRemote(data), 100);
    std::atomic<bool>& stop = *rig.sink.stop;
    std::thread stopper([&] {
      if (beforeTheBurn) return;
      while (rig.radio->Requests(kCmdMemoryErase).empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      stop = true;
    });
    if (beforeTheBurn) stop = true;
    op.RunRemote();
    stopper.join();
    EXPECT_TRUE(rig.sink.reports.empty());
    auto result = DecodeRemoteResult(ReadFileBytes(rig.dir.File("radio.fuc")));
    ASSERT_TRUE(result.has_value()) << "a station waiting for the file is told how the run ended";
    EXPECT_EQ(result->reportCode, kRemoteResultStopped);
  }
}

TEST(RemoteUpgrade, PreparationRefusals) {
  struct Case {
    const char* name;
    std::function<std::string(UpgradeRig&)> file;
    int code;
  };
  const Case cases[] = {
      {"missing file", [](UpgradeRig& r) { return r.dir.File("none.rcd"); }, -1},
      {"not RCDB data", [](UpgradeRig& r) { return r.dir.Write("x.rcd", Bytes(3000, 0x44)); }, 21},
      {"firmware version",
       [](UpgradeRig& r) {
         RadioIdentity id = r.identity;
         id.softwareVersion = "A5.00.10.000";
         return r.dir.Write("v.rcd", RcdbImageFor(id));
       },
       17},
      {"serial list",
       [](UpgradeRig& r) {
         RadioIdentity id = r.identity;
         id.serialNumber = "OTHER";
         return r.dir.Write("s.rcd", RcdbImageFor(id));
       },
       24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpgradeRig rig;
    rig.package.serialRecords = {"PT24000001"};
    rig.Prepare();
    UpgradeOperation op(rig.Environment(), rig.sink);
    EXPECT_EQ(op.PrepareRemote(c.file(rig)), c.code);
    EXPECT_TRUE(rig.sink.reports.empty());
  }
}

TEST(RemoteUpgrade, BurnsTheVoicePromptsTheOperatorsUpgradeSkips) {
  for (bool remote : {false, true}) {
    UpgradeRig rig;
    rig.identity.softwareVersion = "A5.00.00.000";
    Rebuild(rig);
    rig.package.versionRecords = {"A5.00.00.000"};
    Bytes voice = Pattern(1024, 9);
    rig.package.entries = {PkgEntry("voice notify package", voice, 0x680000)};
    rig.Prepare();
    if (remote) {
      UpgradeOperation op(rig.Environment(), rig.sink);
      ASSERT_EQ(op.PrepareRemote(rig.dir.Write("r.rcd", rig.radioData)), 100);
      EXPECT_EQ(op.RunRemote(), ReportCode::Finished);
    } else {
      EXPECT_EQ(rig.Run().code, ReportCode::Finished);
    }
    EXPECT_EQ(rig.Flash(0x680000, 1024) == voice, remote);
  }
}

}  // namespace
}  // namespace lw::test
