// The upgrade operation: applies an upgrade package to the connected radio, on the worker
// thread the operation controller starts after the connect step's report 0 (or directly, for
// each file of the auto-test series). It ends with exactly one report through its sink.
//
// First phase (identification), unless a backup is being restored:
//   radio data from the radio ("read_rcdb") or from the auto-test file -> 9 / 10
//   identity -> 21 when the data are not RCDB data; eligibility -> 19, 18, 17, 27, 18, 24
//   tuning data kept for the carry-over; an existing backup -> question 13, yes -> 15
//   no package chosen: the package the settings give for the model -> 18 when none
// A restore run reads the chosen backup instead, skips the eligibility rules and the question.
// Second phase (package):
//   header and directory -> 10/0, 10/1; a missing extern file -> 20; an entry to be burned
//   without an image (length 0, HEX text that gives no data) -> 10/1 naming it
//   "Auto Burn ArmMain": arm_main and dsp_main from the stock files of the radio type
//   each entry: skip rules, the region language package, a backup before cps_data and
//   rcdb_data, the image (HEX with arm_main compressed unless the radio is a repeater -> 29;
//   binary, word-swapped binary, the picture replacement files, the version stamp), RunKind
//   -> 9 {result, backup kept}
//   the completion mark in the InfoBlock; only now the run's backup goes (a restore run deletes
//   its restoration file), so that a run that fails anywhere keeps it; "Upgrading Finished!",
//   report 2
//
// Files that cannot be opened (the auto-test file, the restoration file, an image or
// replacement file) end the run with report 10 and payload 0 ("Opening file failed!"), so the
// window always returns to idle; a HEX text that does not read ends it with 10 and payload 1.
//
// The package is held (HeldPackage) from the start of the run when the operator chose it, else
// from when the settings named it: its rules are the ones checked, and every entry is read
// from the same descriptor, the extern files likewise from when they are first checked. Before
// each entry and before the completion mark the held files are checked for a change; a change,
// or a file that ends early while an image is read from it, ends the run with report 10 and
// payload 1 naming the file, before that entry's first request.
//
// The remote control server runs the same operation in two calls, PrepareRemote and
// RunRemote (below); the second writes the result file described in docs/remote-result.md.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/operation_report.h"
#include "common/status.h"
#include "config/burn_script.h"
#include "config/settings.h"
#include "engine/connect_step.h"
#include "engine/operation_state.h"
#include "package/fud_reader.h"
#include "package/held_package.h"
#include "package/package_restrictions.h"
#include "package/radio_identity.h"

namespace lw {

struct DataFile;
class HexImage;
class UsbTransport;
class WindowPort;

// Everything of the program's state the operation reads (the window owns it all; the
// operation keeps pointers and copies nothing large).
struct UpgradeEnvironment {
  UsbTransport* transport = nullptr;
  const ProgramSettings* settings = nullptr;
  const BurnScript* script = nullptr;
  // The admission rules: those of the chosen package, or the set.ini rules when none was chosen.
  const PackageRestrictions* restrictions = nullptr;
  const std::vector<UpgradeRule>* upgradeFiles = nullptr;    // "UPGRADE FILE": package look-up
  const std::vector<TunerRule>* tunerRules = nullptr;        // "TUNER DATA CHANGE"
  const std::vector<SerialEntry>* equipmentTable = nullptr;  // EquipmentSn.txt
  const std::vector<MacEntry>* unitTable = nullptr;          // Lumaret.txt
  std::string programDir;       // ends in '/'
  std::string backupDirectory;  // ends in '/'
  std::string packagePath;      // chosen by the operator; empty: looked up for the radio
  LinkFacts link;               // from the connect step (for the auto-test: not connected)
  // The component check (kOk or kComponentCheckFailed) and the conversion calls. A missing
  // check fails: the radio's data must never meet a library nobody vouched for.
  std::function<int()> componentCheck;
  ConvertFunction convert;
  ValidateFunction validate;
  // The pauses of the block loops and of the completion mark; tests may shorten them.
  std::function<void(int ms)> pause;
  // For the HEX reader's warnings and the carry-over's one question; may be null.
  WindowPort* port = nullptr;
  // Binary images whose bytes nothing changes are burned block by block from the held package
  // instead of being read whole first. Off only to compare the two ways (the requests are the
  // same).
  bool streamImages = true;
};

struct UpgradeRunOptions {
  std::string autoTestFile;     // the radio data of the auto-test series, else empty
  std::string restorationFile;  // the backup to restore from, else empty
};

// Version thresholds of the skip rules.
inline constexpr const char* kGifLastVersionModel0 = "4.00.10.004";
inline constexpr const char* kGifLastVersionOther = "3.05.10.001";
inline constexpr const char* kVoiceLastVersion = "5.00.00.000";
inline constexpr const char* kVoiceLastVersionRemote = "5.00.08.001";
inline constexpr const char* kValidationFromVersion = "7.06";
// The folder of the stock, replacement and region language files below the program directory.
inline constexpr const char* kUpgradeFileFolder = "UpgradeFile";
// Stock images are kept scrambled: a header of this size, then every byte inverted.
inline constexpr size_t kStockHeaderSize = 20;
// The result of a region language file that cannot be opened (the step is skipped).
inline constexpr int kRegionFileMissing = -100;

// --- Rules, exposed for tests and for the remote control -------------------------------------

// A version text without its first character ("A5.00.09.000" -> "5.00.09.000").
std::string VersionTail(const std::string& version);

// Why an entry is not burned, or empty when it is.
std::string SkipReason(const std::string& name, const std::string& firmwareVersion, const std::string& modelNumber,
                       const std::string& targetVersion, const std::string& secondTarget, bool remote);

// The replacement file name ("PDT Portable.bin", ...) for a picture package on a radio whose
// fifth model-number character is "0" and whose firmware is below kGifLastVersionModel0; empty
// when the entry's own bytes are burned.
std::string GifReplacementFile(const std::string& name, const std::string& firmwareVersion,
                               const std::string& modelNumber);

// The version text stamped into a cps_data / rcdb_data image: the radio's firmware letter (one
// of E, P, V, N, S, C, A) followed by the package's target version without those letters;
// empty when the firmware starts with any other letter.
std::string StampedVersion(const std::string& firmwareVersion, const std::string& targetVersion);
// Writes `text` into the version field of an RCDB image (the place the radio's identity is
// read from). False, and nothing changed, for data that are not an RCDB image.
bool StampVersion(std::span<uint8_t> image, const std::string& text);

// The stock file of `kind` ("arm_main" or "dsp_main") for a radio type:
// "UpgradeFile/<type name>_<kind>.stk", e.g. "UpgradeFile/Portable_arm_main.stk".
std::string StockFileName(RadioType type, const std::string& kind);
// Unscrambles a stock file's bytes (drops the header, inverts the rest); none when the file is
// not longer than the header.
std::optional<Bytes> UnscrambleStock(ByteView file);
// The inverse, for tools and tests that make stock files.
Bytes ScrambleStock(ByteView image);

// The region language file name the settings give: "SelectLanguage" 1-6 picks the language
// files (Farsi ... Forest); 0 picks by the radio's region, the fifth model-number character
// ("0" CHS, "2" NA2, "5" EM5, "6" SA6, "8" AS8). "[" and "]" are removed; empty when none.
std::string RegionLanguageFile(const ProgramSettings& settings, const std::string& modelNumber);

// --- The operation -----------------------------------------------------------------------------

// What the run did, for the remote result file and for tests.
struct EntryOutcome {
  std::string name;
  int result = 0;          // RunKind's result (0 also for a skipped entry)
  bool burned = false;
  bool skipped = false;
  bool backupWritten = false;
  bool replaced = false;   // burned from a replacement file of UpgradeFile/
  uint32_t imageLength = 0;
};

struct UpgradeSummary {
  ReportCode report = ReportCode::Finished;
  bool reported = false;
  UpgradeFailure failure;
  std::string payloadText;
  std::optional<RadioIdentity> identity;
  std::string packagePath;
  PackageHeader packageHeader;
  std::vector<EntryOutcome> entries;
  std::string backupPath;  // the backup left behind by a run that did not finish, else empty
  bool validationFlag = false;
  bool receiveSide = false;
  bool restored = false;
  std::time_t started = 0;
  std::time_t ended = 0;
  std::vector<std::string> log;
};

class UpgradeOperation {
 public:
  // The environment and the sink must outlive the operation.
  UpgradeOperation(const UpgradeEnvironment& environment, OperationSink& sink);

  // The operator's upgrade, a restore run or one auto-test file. Sends exactly one report
  // (none when the watchdog stopped it).
  void Run(const UpgradeRunOptions& options);

  // Remote upgrade, first call: reads the radio data file and decides whether the radio may
  // be upgraded. Returns kAdmitted (100) or a report code (21, 19, 17, 27, 18, 24, 15), -1
  // when the file cannot be read. Sends nothing but the question 13.
  int PrepareRemote(const std::string& radioDataFile);
  // Remote upgrade, second call, only after PrepareRemote gave 100: the second phase with the
  // remote differences (no component check, the later voice-package threshold, arm_main sent
  // uncompressed, no completion mark). Sends its report through the sink and writes the
  // result file (radio data file without ".rcd", plus ".fuc"). Returns the report code.
  ReportCode RunRemote();

  // The path of the result file of a remote upgrade of `radioDataFile`.
  static std::string ResultFilePath(const std::string& radioDataFile);

  const UpgradeSummary& summary() const { return summary_; }
  const OperationState& state() const { return state_; }

 private:
  void InitState();
  bool FirstPhase(const UpgradeRunOptions& options);
  bool RestoreFirstPhase(const std::string& restorationFile);
  // Ok when the package's rules admit the radio, else the refusal: its report code as the code
  // and the text the report carries (the model, version or serial beyond the rules) as the
  // message.
  Status Admit(const RadioIdentity& identity, bool remote);
  // Ok to go on when no backup of this radio exists or the operator goes on; else 15
  // (RestoreChosen) when the operator chose to restore, kNoAnswer when the operation is stopped.
  Status AskAboutBackup(const std::string& serial);
  // Ok when a package is chosen or one is found for the model; else 18 (ModelBeyond), with the
  // model and version in `payload`.
  Status LookUpPackage(const RadioIdentity& identity, ReportPayload* payload);
  void KeepTuningRules();
  void SetValidationFlag(const std::string& versionForRule);
  void SecondPhase(bool remote);
  bool EveryEntryHasAnImage(bool remote);
  bool AutoBurnArmMain();
  bool LoadStock(const std::string& kind, bool* loaded);
  bool BurnEntry(size_t index, bool remote);
  int BurnRegionLanguage();
  bool WriteEntryBackup(const std::string& name, EntryOutcome& outcome);
  bool LoadEntryImage(size_t index, bool remote, EntryOutcome& outcome);
  bool LoadHexImage(const std::string& name, const HeldFile& file, uint64_t offset, bool compress);
  bool LoadBinaryImage(size_t index, EntryOutcome& outcome);
  // Opens the chosen package for the run and takes its rules from what it holds.
  void HoldChosenPackage();
  // The rules the radio is checked against: the held package's, else the environment's.
  const PackageRestrictions* Rules() const;
  // False, after report 10 naming the file, when a held file changed or ended early.
  bool PackageStillHeld(const std::string& kind);
  bool Streamable(const std::string& name) const;
  void ReportHeldFileFault(const std::string& kind, const Status& fault, const std::string& path);
  void SetSegmentTable(const HexImage& hex, const std::string& kind);
  void CompletionMark();

  bool Stopped() const;
  void Report(ReportCode code, ReportPayload payload = {});
  // The run ends with `code`: the program may be closed again, then the report goes out.
  void ReportEnd(ReportCode code, ReportPayload payload = {});
  void Fail(int result, bool backupWritten);
  void ReportNotRcdb(const ImageIdentity& read);
  void ReportDataFileNotRead(const std::string& path, const DataFile& file);
  // Report 10 for an entry's image that could not be loaded; `reason` names the file.
  void ReportImageNotLoaded(const std::string& kind, int reportKind, const std::string& reason);
  void Log(const std::string& text);
  void SetExitAllowed(bool allowed);

  UpgradeEnvironment env_;
  OperationSink& sink_;
  OperationState state_;
  UpgradeSummary summary_;
  std::vector<TunerRule> packageTunerRules_;
  Bytes radioData_;        // the radio's data as read at the start: backups are written from it
  HeldPackage held_;
  PackageRestrictions heldRules_;  // the rules of the held package (when it was chosen)
  bool rulesFromHeld_ = false;
  bool externsHeld_ = false;   // the extern files were held with the package
  std::string externMissing_;  // then: the first that could not be, or ""
  std::string restorationFile_;
  std::string runBackup_;  // the backup this run wrote, kept until it ends in report 2
  std::string remoteDataFile_;
  bool packageChosen_ = false;
  bool prepared_ = false;
};

}  // namespace lw
