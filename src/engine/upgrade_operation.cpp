#include "engine/upgrade_operation.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

#include "common/bytes.h"
#include "common/program_dir.h"
#include "common/text.h"
#include "engine/backup_store.h"
#include "engine/binary_image.h"
#include "engine/file_mode.h"
#include "engine/hex_image.h"
#include "engine/lzss.h"
#include "engine/remote_result.h"
#include "engine/script_runner.h"
#include "engine/streamed_image.h"
#include "link/xrcp.h"
#include "package/eligibility.h"
#include "package/package_files.h"
#include "package/rcdb_tree.h"
#include "ui/translate.h"

namespace lw {
namespace fs = std::filesystem;

// A whole file of at most some bytes: its bytes, or none (and whether it was too large).
struct DataFile {
  std::optional<Bytes> bytes;
  bool tooLarge = false;
};

namespace {

constexpr const char* kReadRcdb = "read_rcdb";
// What the log names when the package changes after the last entry, before the completion mark.
constexpr const char* kInfoBlockKind = "InfoBlock";
// A backup about to be deleted, until the report 2 is out (no longer ".rcd": no list shows it).
constexpr const char* kSetAsideSuffix = ".finished";
constexpr const char* kArmMain = "arm_main";
constexpr const char* kDspMain = "dsp_main";
constexpr const char* kCpsData = "cps_data";
constexpr const char* kRcdbData = "rcdb_data";
constexpr const char* kGifPackage = "gif package";
constexpr const char* kVoicePackage = "voice notify package";
constexpr const char* kEnglishPackage = "english language package";
constexpr const char* kOtherLanguagePackage = "other language package";
// Firmware letters: dropped before the 7.06 test, kept as the stamp's first letter.
constexpr const char* kValidationLetters = kVersionLetters;
constexpr const char* kStampLetters = "EPVNSCA";
constexpr const char* kStampRemoved = "ACSNVPE";

bool IsConfigurationData(const std::string& name) { return name == kCpsData || name == kRcdbData; }

bool FifthCharacterIsZero(const std::string& model) { return model.size() > 4 && model[4] == '0'; }

DataFile ReadWholeFile(const std::string& path, size_t limit) {
  DataFile out;
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return out;
  auto size = fs::file_size(path, ec);
  if (ec) return out;
  if (size > limit) {
    out.tooLarge = true;
    return out;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return out;
  Bytes data(size);
  if (size && !in.read(reinterpret_cast<char*>(data.data()), std::streamsize(size))) return out;
  out.bytes = std::move(data);
  return out;
}

uint32_t ScriptNumber(const std::string& text) { return text.empty() ? 0 : ParseNumber(text); }

}  // namespace

// --- Rules -------------------------------------------------------------------------------------

std::string VersionTail(const std::string& version) { return version.empty() ? version : version.substr(1); }

std::string SkipReason(const std::string& name, const std::string& firmwareVersion, const std::string& modelNumber,
                       const std::string& targetVersion, const std::string& secondTarget, bool remote) {
  const std::string v = VersionTail(firmwareVersion);
  if (StartsWith(name, kGifPackage)) {
    if (v == VersionTail(targetVersion) || (!secondTarget.empty() && v == VersionTail(secondTarget)))
      return "the radio already runs the target version";
    const char* last = FifthCharacterIsZero(modelNumber) ? kGifLastVersionModel0 : kGifLastVersionOther;
    if (v >= last) return "the firmware carries its own pictures";
  }
  if (StartsWith(name, kVoicePackage) && v >= (remote ? kVoiceLastVersionRemote : kVoiceLastVersion))
    return "the firmware carries its own voice prompts";
  return "";
}

std::string GifReplacementFile(const std::string& name, const std::string& firmwareVersion,
                               const std::string& modelNumber) {
  if (!StartsWith(name, kGifPackage) || !FifthCharacterIsZero(modelNumber)) return "";
  if (VersionTail(firmwareVersion) >= kGifLastVersionModel0) return "";
  const std::string line = modelNumber.substr(0, 2);
  if (line == "KX" || line == "KW" || line == "KZ") return "PDT Portable.bin";
  if (line == "KV") return "PDT Mobile.bin";
  if (line == "KQ") return "PDT_GIF.bin";
  return "";
}

std::string StampedVersion(const std::string& firmwareVersion, const std::string& targetVersion) {
  if (firmwareVersion.empty() || std::string(kStampLetters).find(firmwareVersion[0]) == std::string::npos) return "";
  return firmwareVersion.substr(0, 1) + WithoutLetters(targetVersion, kStampRemoved);
}

bool StampVersion(std::span<uint8_t> image, const std::string& text) {
  if (!IsRcdbImage(image) || !RcdbTree::Check(image).ok()) return false;
  if (!InBounds(image.size(), kImageVersionAt, kImageVersionWidth)) return false;
  PutFixedText(image.data() + kImageVersionAt, kImageVersionWidth, text);
  return true;
}

std::string StockFileName(RadioType type, const std::string& kind) {
  return std::string(kUpgradeFileFolder) + "/" + RadioTypeName(type) + "_" + kind + ".stk";
}

std::optional<Bytes> UnscrambleStock(ByteView file) {
  if (file.size() <= kStockHeaderSize) return std::nullopt;
  Bytes image(file.begin() + kStockHeaderSize, file.end());
  for (uint8_t& b : image) b = uint8_t(~b);
  return image;
}

Bytes ScrambleStock(ByteView image) {
  Bytes file(kStockHeaderSize, 0);
  const char tag[] = "LWSTOCK";
  std::copy(tag, tag + sizeof tag - 1, file.begin());
  for (uint8_t b : image) file.push_back(uint8_t(~b));
  return file;
}

std::string RegionLanguageFile(const ProgramSettings& s, const std::string& modelNumber) {
  std::string file;
  const std::string& choice = s.selectLanguageText;
  if (choice == "1") file = s.farsiFile;
  else if (choice == "2") file = s.arabicFile;
  else if (choice == "3") file = s.koreanFile;
  else if (choice == "4") file = s.thaiFile;
  else if (choice == "5") file = s.japaneseFile;
  else if (choice == "6") file = s.forestFile;
  else if (modelNumber.size() > 4) {
    switch (modelNumber[4]) {
      case '0': file = s.chsFile; break;
      case '2': file = s.na2File; break;
      case '5': file = s.em5File; break;
      case '6': file = s.sa6File; break;
      case '8': file = s.as8File; break;
      default: break;
    }
  }
  return WithoutLetters(Trim(file), "[]");
}

// --- The operation -------------------------------------------------------------------------------

UpgradeOperation::UpgradeOperation(const UpgradeEnvironment& environment, OperationSink& sink)
    : env_(environment), sink_(sink) {}

void UpgradeOperation::InitState() {
  state_.transport = env_.transport;
  state_.script = env_.script;
  state_.newerBootloader = env_.link.newProtocol;
  state_.operationKind = kOperationKindUpgrade;
  if (env_.settings) state_.carryOver = CarryOverSettings::From(*env_.settings);
  if (env_.settings) state_.verifyWrites = env_.settings->verifyWrites;
  state_.tunerRules = env_.tunerRules;
  state_.equipmentTable = env_.equipmentTable;
  state_.unitTable = env_.unitTable;
  state_.convert = env_.convert;
  state_.validate = env_.validate;
  state_.sink = &sink_;
  state_.port = env_.port;
  state_.setExitAllowed = [this](bool allowed) { SetExitAllowed(allowed); };
  state_.stop = sink_.StopFlag();
  state_.pause = env_.pause;
  packageChosen_ = !env_.packagePath.empty();
  summary_.packagePath = env_.packagePath;
  summary_.started = std::time(nullptr);
}

bool UpgradeOperation::Stopped() const { return sink_.StopRequested(); }

void UpgradeOperation::Report(ReportCode code, ReportPayload payload) {
  summary_.ended = std::time(nullptr);
  // A run that ends any other way than finished keeps its backup: the result file names it.
  if (code != ReportCode::Finished) summary_.backupPath = runBackup_;
  summary_.report = code;
  summary_.reported = !Stopped();
  if (auto* failure = std::get_if<UpgradeFailure>(&payload)) summary_.failure = *failure;
  summary_.payloadText = PayloadText(payload);
  if (auto* failure = std::get_if<UpgradeFailure>(&payload); failure && !failure->detail.empty())
    summary_.payloadText = failure->detail;
  // A worker the watchdog gave up on says nothing more: the operation it belonged to is over.
  if (Stopped()) return;
  sink_.Report(code, std::move(payload));
}

void UpgradeOperation::ReportImageNotLoaded(const std::string& kind, int reportKind, const std::string& reason) {
  const std::string detail = "[" + kind + "] " + reason;
  Log(detail);
  ReportEnd(ReportCode::PackageError, ImageLoadFailure{reportKind, detail});
}

// A radio data file (the auto-test file, the backup to restore) that could not be read:
// "Opening file failed!", and why when the reason is its size.
void UpgradeOperation::ReportDataFileNotRead(const std::string& path, const DataFile& file) {
  if (!file.tooLarge) {
    ReportEnd(ReportCode::PackageError, 0);
    return;
  }
  const std::string detail = FillPlaceholders(
      Translate(TextKey("The file %s is larger than the radio data buffer (16778240 bytes).")), {path});
  Log(detail);
  ReportEnd(ReportCode::PackageError, ImageLoadFailure{0, detail});
}

void UpgradeOperation::ReportNotRcdb(const ImageIdentity& read) {
  // The record-list parser's error code goes along, so that the operator is told why.
  Report(ReportCode::RcdbFormatError, read.recordListError);
}

void UpgradeOperation::Fail(int result, bool backupWritten) {
  std::string detail;
  if (result == kVerifyMismatch) {
    detail = state_.failureDetail;
    Log(detail);
  }
  ReportEnd(ReportCode::ReadError, UpgradeFailure{result, backupWritten ? 1 : 0, detail});
}

void UpgradeOperation::ReportEnd(ReportCode code, ReportPayload payload) {
  SetExitAllowed(true);
  Report(code, std::move(payload));
}

void UpgradeOperation::Log(const std::string& text) {
  summary_.log.push_back(text);
  sink_.Log(text);
}

void UpgradeOperation::SetExitAllowed(bool allowed) { sink_.SetExitAllowed(allowed); }

void UpgradeOperation::Run(const UpgradeRunOptions& options) {
  InitState();
  restorationFile_ = options.restorationFile;
  if (!env_.componentCheck || env_.componentCheck() != kOk) {
    Fail(kComponentCheckFailed, false);
    return;
  }
  state_.readBuffer.clear();
  SetExitAllowed(true);
  HoldChosenPackage();
  const bool identified = restorationFile_.empty() ? FirstPhase(options) : RestoreFirstPhase(restorationFile_);
  if (!identified) return;
  SecondPhase(false);
}

bool UpgradeOperation::FirstPhase(const UpgradeRunOptions& options) {
  if (!options.autoTestFile.empty()) {
    DataFile data = ReadWholeFile(options.autoTestFile, kChangeDataBufferSize);
    if (!data.bytes) {
      ReportDataFileNotRead(options.autoTestFile, data);
      return false;
    }
    state_.readBuffer = std::move(*data.bytes);
  } else {
    if (Stopped()) return false;
    int result = RunKind(state_, kReadRcdb);
    if (result != kOk) {
      Fail(result, false);
      return false;
    }
  }
  // Moved, not copied: each entry reads what it needs into the buffer afresh.
  radioData_ = std::move(state_.readBuffer);
  state_.readBuffer.clear();

  ImageIdentity read = ReadIdentityFromImage(radioData_, state_.carryOver.areaByte);
  if (!read.identity) {
    ReportNotRcdb(read);
    return false;
  }
  const RadioIdentity& identity = *read.identity;
  sink_.RadioIdentified(identity.serialNumber, identity.modelNumber);
  state_.identity = identity;
  summary_.identity = identity;

  if (!Admit(identity, false).ok()) return false;
  KeepTuningRules();
  if (Status backup = AskAboutBackup(identity.serialNumber); !backup.ok()) {
    if (backup.code() == int(ReportCode::RestoreChosen)) Report(ReportCode::RestoreChosen);
    return false;
  }
  ReportPayload payload;
  if (Status found = LookUpPackage(identity, &payload); !found.ok()) {
    Report(ReportCode(found.code()), std::move(payload));
    return false;
  }
  SetValidationFlag(WithoutLetters(identity.softwareVersion, kValidationLetters));
  return true;
}

bool UpgradeOperation::RestoreFirstPhase(const std::string& restorationFile) {
  DataFile data = ReadWholeFile(restorationFile, kChangeDataBufferSize);
  if (!data.bytes) {
    ReportDataFileNotRead(restorationFile, data);
    return false;
  }
  state_.readBuffer = std::move(*data.bytes);
  radioData_ = state_.readBuffer;
  // The conversion takes the backup instead of the radio's present data.
  state_.sourceDataFile = restorationFile;
  state_.sourceData = &radioData_;

  ImageIdentity read = ReadIdentityFromImage(radioData_, state_.carryOver.areaByte);
  if (!read.identity) {
    ReportNotRcdb(read);
    return false;
  }
  state_.identity = *read.identity;
  summary_.identity = *read.identity;
  sink_.RadioIdentified(read.identity->serialNumber, read.identity->modelNumber);
  ReportPayload payload;
  if (Status found = LookUpPackage(*read.identity, &payload); !found.ok()) {
    Report(ReportCode(found.code()), std::move(payload));
    return false;
  }
  Log(Translate("Read Restoration File:") + fs::path(restorationFile).filename().string());
  SetValidationFlag(VersionTail(read.identity->softwareVersion));
  return true;
}

// The eligibility rules; reports the refusal (the operator's run) and returns it.
Status UpgradeOperation::Admit(const RadioIdentity& id, bool remote) {
  static const PackageRestrictions kNone;
  Eligibility rules(Rules() ? *Rules() : kNone, *env_.settings);
  Eligibility::Verdict verdict;
  if (!remote) {
    verdict = rules.Evaluate(id, packageChosen_);
  } else if (!rules.RadioTypeAdmitted(id.modelNumber)) {
    verdict = {int(ReportCode::RadioTypeBeyond), id.modelNumber};
  } else if (!rules.VersionAdmitted(id.softwareVersion, id.modelNumber, packageChosen_)) {
    verdict = {int(ReportCode::FirmwareBeyond), id.softwareVersion};
  } else if (id.restrictionCode != 0 && id.restrictionCode != -1) {
    verdict = {int(ReportCode::CustomerCodeBeyond), ""};
  } else if (packageChosen_ && !rules.ModelAdmitted(id.softwareVersion, id.modelNumber)) {
    verdict = {int(ReportCode::ModelBeyond), id.modelNumber};
  } else if (packageChosen_ && !rules.SerialAdmitted(id.serialNumber)) {
    verdict = {int(ReportCode::SerialBeyond), id.serialNumber};
  }
  if (verdict.admitted()) return Status::Ok();
  const Status refusal = Status::Error(verdict.code, verdict.payload);
  if (remote) return refusal;
  const auto code = ReportCode(verdict.code);
  switch (code) {
    case ReportCode::ModelBeyond: Report(code, TwoTexts{verdict.payload, id.softwareVersion}); break;
    case ReportCode::SerialBeyond: Report(code, TwoTexts{verdict.payload, id.modelNumber}); break;
    case ReportCode::CustomerCodeBeyond: Report(code); break;
    default: Report(code, verdict.payload); break;
  }
  return refusal;
}

// With a chosen package and "Save Tuner Data", the package's tuning list says which areas of
// the radio's tuning segments the new image supplies; otherwise the set.ini rules do.
void UpgradeOperation::KeepTuningRules() {
  if (!packageChosen_ || !env_.settings->saveTunerData || !Rules() || Rules()->tunerList.empty()) return;
  packageTunerRules_.clear();
  for (const TunerChangeEntry& entry : Rules()->tunerList) {
    TunerRule rule;
    rule.version = entry.version;
    rule.radioTypes = entry.radioTypes;
    rule.offset = entry.address;
    rule.length = entry.length;
    rule.segmentKey = entry.lowHigh;
    rule.comparison = entry.comparison;
    packageTunerRules_.push_back(std::move(rule));
  }
  state_.tunerRules = &packageTunerRules_;
}

void UpgradeOperation::HoldChosenPackage() {
  rulesFromHeld_ = false;
  externsHeld_ = false;
  if (!packageChosen_) return;
  held_ = HeldPackage::Open(env_.packagePath);
  if (!held_.contents().ok()) return;  // reported where the package is first needed, as always
  // Its extern files are held from now on too; one that is missing is reported where it always
  // was, once the radio has been identified.
  externMissing_ = held_.HoldExternFiles(*env_.settings);
  externsHeld_ = true;
  // The rules checked are those of the bytes that will be burned, not those the window read
  // when the package was chosen (the file may have been replaced since).
  if (env_.restrictions) heldRules_ = *env_.restrictions;
  ApplyPackage(held_.contents(), heldRules_);
  rulesFromHeld_ = true;
}

const PackageRestrictions* UpgradeOperation::Rules() const { return rulesFromHeld_ ? &heldRules_ : env_.restrictions; }

bool UpgradeOperation::PackageStillHeld(const std::string& kind) {
  std::string path;
  Status same = held_.Unchanged(&path);
  if (same.ok()) return true;
  ReportHeldFileFault(kind, same, path);
  return false;
}

void UpgradeOperation::ReportHeldFileFault(const std::string& kind, const Status& fault, const std::string& path) {
  std::string text = fault.message();
  if (fault.code() == HeldFile::kChanged)
    text = FillPlaceholders(Translate(TextKey("The file %s changed while it was being burned.")), {path});
  else if (fault.code() == HeldFile::kEndedEarly)
    text = FillPlaceholders(Translate(TextKey("The file %s ended early while it was being burned.")), {path});
  ReportImageNotLoaded(kind, 1, text);
}

// The question 13 when a backup of this radio exists.
Status UpgradeOperation::AskAboutBackup(const std::string& serial) {
  BackupStore store(env_.backupDirectory);
  if (store.CountBackups(serial, false) < 1) return Status::Ok();
  bool restore = sink_.AskRestore(serial);
  if (Stopped()) return Status::Error(kNoAnswer, "stopped while asking about the backup");
  if (restore) return Status::Error(int(ReportCode::RestoreChosen), "the operator chose to restore " + serial);
  return Status::Ok();
}

Status UpgradeOperation::LookUpPackage(const RadioIdentity& id, ReportPayload* payload) {
  if (packageChosen_) return Status::Ok();
  static const std::vector<UpgradeRule> kNoRules;
  std::string path = PackageForModel(id.modelNumber, *env_.settings, env_.upgradeFiles ? *env_.upgradeFiles : kNoRules,
                                     env_.programDir);
  if (path.empty()) {
    if (payload) *payload = TwoTexts{id.modelNumber, id.softwareVersion};
    return Status::Error(int(ReportCode::ModelBeyond), "no package for " + id.modelNumber);
  }
  env_.packagePath = path;
  summary_.packagePath = path;
  sink_.PackageFound(path);
  return Status::Ok();
}

void UpgradeOperation::SetValidationFlag(const std::string& versionForRule) {
  summary_.validationFlag =
      versionForRule >= kValidationFromVersion && state_.validate && !state_.validate(radioData_);
}

// --- Second phase --------------------------------------------------------------------------------

void UpgradeOperation::SecondPhase(bool remote) {
  // The package the settings named for the radio (or a chosen one that could not be opened
  // at the start) is held from here on.
  if (!held_.is_open() || held_.path() != env_.packagePath) {
    held_ = HeldPackage::Open(env_.packagePath);
    externsHeld_ = false;
  }
  const PackageFile& package = held_.contents();
  if (!package.ok()) {
    ReportEnd(ReportCode::PackageError, PackageErrorPayload(package.status));
    return;
  }
  summary_.packageHeader = package.header;
  state_.packageHeader = package.header;
  SetExitAllowed(false);

  const std::string missing = externsHeld_ ? externMissing_ : held_.HoldExternFiles(*env_.settings);
  if (!missing.empty()) {
    ReportEnd(ReportCode::ExternMissing, missing);
    return;
  }

  if (!EveryEntryHasAnImage(remote)) return;
  if (env_.settings->autoBurnArmMain && !AutoBurnArmMain()) return;

  for (size_t i = 0; i < package.entries.size(); ++i)
    if (!BurnEntry(i, remote)) return;

  if (!PackageStillHeld(kInfoBlockKind)) return;
  if (!remote) CompletionMark();
  if (Stopped()) return;
  // The backups go only now, and only once the report 2 went out: until then the backup is the
  // one copy of the radio's data that a restore or a second try can start from, and a stop that
  // drops the report leaves the operator without word that the run finished. Meanwhile they are
  // set aside under a name no list shows, so that the window, refreshing its restore button
  // when the report arrives, already sees them gone.
  std::vector<std::string> setAside;
  for (const std::string& path : {runBackup_, summary_.restored ? restorationFile_ : std::string()}) {
    if (!path.empty() && ::rename(path.c_str(), (path + kSetAsideSuffix).c_str()) == 0) setAside.push_back(path);
  }
  Log(Translate("Upgrading Finished!"));
  ReportEnd(ReportCode::Finished);
  for (const std::string& path : setAside) {
    const std::string aside = path + kSetAsideSuffix;
    // Best effort: a backup that stays behind costs space, not data.
    if (summary_.reported) {
      (void)BackupStore::DeleteBackup(aside);
    } else {
      (void)::rename(aside.c_str(), path.c_str());
    }
  }
}

// An entry without an image would have its area erased, nothing written and the run still end
// in "Upgrading Finished!". Every entry that will be burned is looked at before the first
// request that changes flash.
bool UpgradeOperation::EveryEntryHasAnImage(bool remote) {
  const PackageFile& package = held_.contents();
  const RadioIdentity& id = *state_.identity;
  for (size_t i = 0; i < package.entries.size(); ++i) {
    const DirectoryEntry& entry = package.entries[i];
    const std::string& name = entry.kindName;
    if (!SkipReason(name, id.softwareVersion, id.modelNumber, package.header.targetVersion, env_.settings->upgradeTo2,
                    remote)
             .empty())
      continue;
    uint64_t offset = 0;
    const HeldFile* file = held_.SourceOf(i, &offset);
    if (!file) continue;  // reported when its turn comes, as before
    std::string why;
    if (GetFileMode(*env_.script, name) == FileMode::Hex) {
      // No port: the reader's warnings are shown once, when the entry is loaded to be burned.
      HexImage hex(nullptr);
      if (hex.LoadFromHeld(*file, offset) == kHexLoaded && hex.PackedSize() == 0)
        why = Translate(TextKey("its HEX text gives no data"));
    } else if (GifReplacementFile(name, id.softwareVersion, id.modelNumber).empty()) {
      if ((entry.externFlag == 1 ? file->size() : entry.dataLength) == 0) why = Translate(TextKey("its length is 0"));
    }
    if (!why.empty()) {
      ReportImageNotLoaded(name, 1,
                           FillPlaceholders(Translate(TextKey("The package entry holds no image: %s.")), {why}));
      return false;
    }
  }
  return true;
}

bool UpgradeOperation::AutoBurnArmMain() {
  for (const char* kind : {kArmMain, kDspMain}) {
    bool loaded = false;
    if (!LoadStock(kind, &loaded)) return false;
    if (!loaded) continue;  // none for this radio type: the step is skipped
    if (Stopped()) return false;
    if (int result = RunKind(state_, kind); result != kOk) {
      Fail(result, false);
      return false;
    }
  }
  return true;
}

// The stock image of `kind` for the radio's type as the image to burn. `loaded` stays false when
// there is none (no stock file for the type, or the kind's mode is another). A file that is
// there but cannot be used is refused by name (report 10), never passed over in silence.
bool UpgradeOperation::LoadStock(const std::string& kind, bool* loaded) {
  const FileMode mode = GetFileMode(*env_.script, kind);
  if ((kind == kArmMain && mode != FileMode::Hex) || (kind == kDspMain && mode != FileMode::SwappedBinary)) return true;
  const RadioType type = state_.identity ? RadioTypeOf(state_.identity->modelNumber) : RadioType::None;
  if (type == RadioType::None) return true;
  const std::string path = JoinPath(env_.programDir, WithoutLetters(StockFileName(type, kind), "[]"));
  std::error_code ec;
  if (!fs::exists(path, ec)) return true;
  DataFile file = ReadWholeFile(path, kImageBufferSize + kStockHeaderSize);
  std::optional<Bytes> image = file.bytes ? UnscrambleStock(*file.bytes) : std::nullopt;
  std::string refusal;  // translated, "%s" for the path
  if (file.tooLarge) {
    refusal = Translate(TextKey("Stock file %s is larger than the image buffer (40000000 bytes)."));
  } else if (!file.bytes) {
    refusal = Translate(kImageTextCannotOpen);
  } else if (!image) {
    refusal = Translate(TextKey("Stock file %s is too small to hold an image."));
  }
  // The unscrambled image never touches the disk: the program directory need not be writable,
  // and nothing is left behind when the run dies half-way.
  if (refusal.empty() && kind == kArmMain) {
    HexImage hex(env_.port);
    if (hex.LoadFromText(std::string_view(reinterpret_cast<const char*>(image->data()), image->size())) == kHexLoaded) {
      state_.SetImage(hex.Packed());
      SetSegmentTable(hex, kind);
    } else {
      refusal = Translate(TextKey("Stock file %s holds no usable HEX text."));
    }
  } else if (refusal.empty()) {
    WordReverse(*image);
    state_.SetImage(std::move(*image));
  }
  if (!refusal.empty()) {
    ReportImageNotLoaded(kind, 1, FillPlaceholders(refusal, {path}));
    return false;
  }
  *loaded = true;
  return true;
}

int UpgradeOperation::BurnRegionLanguage() {
  std::string file = RegionLanguageFile(*env_.settings, state_.identity ? state_.identity->modelNumber : "");
  if (file.empty()) return kRegionFileMissing;
  if (GetFileMode(*env_.script, kOtherLanguagePackage) != FileMode::Binary) return kOk;
  ImageBuffer image;
  const std::string path = JoinPath(env_.programDir, std::string(kUpgradeFileFolder) + "/" + file);
  if (BinaryLoadResult result = LoadBinaryFile(path, image); result != BinaryLoadResult::Ok) {
    // The region package is an extra: the upgrade goes on without it, and the log says why.
    Log(FillPlaceholders(Translate(TextKey("Region language package skipped: %s")), {BinaryLoadMessage(result, path)}));
    return kRegionFileMissing;
  }
  state_.SetImage(std::move(image));
  if (Stopped()) return kNoAnswer;
  return RunKind(state_, kOtherLanguagePackage);
}

bool UpgradeOperation::BurnEntry(size_t index, bool remote) {
  const DirectoryEntry& entry = held_.contents().entries[index];
  state_.readBuffer.clear();
  const std::string& name = entry.kindName;
  const RadioIdentity& id = *state_.identity;
  EntryOutcome outcome;
  outcome.name = name;

  if (!SkipReason(name, id.softwareVersion, id.modelNumber, held_.contents().header.targetVersion,
                  env_.settings->upgradeTo2, remote)
           .empty()) {
    outcome.skipped = true;
    summary_.entries.push_back(outcome);
    return true;
  }

  if (env_.settings->autoBurnRegionLanguage && Contains(name, kEnglishPackage)) {
    int result = BurnRegionLanguage();
    if (result != kOk && result != kRegionFileMissing) {
      Fail(result, false);
      return false;
    }
  }

  // The image of the entry before goes before this one is loaded: two firmware images at once
  // would double what an upgrade holds.
  state_.ReleaseImage();

  // Before anything of this entry reaches the radio: the package is still the one checked.
  if (!PackageStillHeld(name)) return false;
  // The image first: one that cannot be loaded ends the run before the radio's data are
  // touched, and a backup of a radio nothing was done to would only raise a needless question
  // at its next upgrade.
  if (!LoadEntryImage(index, remote, outcome)) return false;
  if (!WriteEntryBackup(name, outcome)) return false;

  if (Stopped()) return false;
  int result = RunKind(state_, name);
  state_.AwaitImage();  // a compressed image may still be in the making if the erase failed
  if (result == kImageUnreadable) {
    summary_.entries.push_back(outcome);
    ReportHeldFileFault(name, state_.ImageReadFailure(), state_.streamedImage ? state_.streamedImage->path() : "");
    return false;
  }
  outcome.imageLength = uint32_t(std::min<size_t>(state_.imageLength, UINT32_MAX));
  if (Contains(name, "Rx")) summary_.receiveSide = true;
  outcome.result = result;
  outcome.burned = result == kOk;
  summary_.entries.push_back(outcome);
  if (result != kOk) {
    Fail(result, !runBackup_.empty());
    return false;
  }
  if (!restorationFile_.empty() && IsConfigurationData(name)) summary_.restored = true;
  return true;
}

// The backup of the radio's data before its configuration data are first overwritten (not when
// restoring: the backup being restored is the copy). One per run: the data it holds are those
// read at the start, whichever configuration entry comes first. It stays until the run is
// through (SecondPhase deletes it with the report 2): a run that fails after the configuration
// data went in leaves the radio with new data and half a package, and the old data must still
// be there for a restore.
//
// A backup that cannot be written ends the run (report 9) before the configuration data are
// touched: overwriting them without a copy could lose them for good.
bool UpgradeOperation::WriteEntryBackup(const std::string& name, EntryOutcome& outcome) {
  if (!restorationFile_.empty() || !IsConfigurationData(name)) return true;
  if (!runBackup_.empty()) {
    outcome.backupWritten = true;
    return true;
  }
  BackupWriteResult backup = BackupStore(env_.backupDirectory).WriteBackup(state_.identity->serialNumber, radioData_);
  if (!backup.written) {
    const std::string detail = Translate("Backup not written:") + " " + backup.error + " " +
                               Translate(TextKey("The radio's configuration data were left as they are."));
    Log(detail);
    ReportEnd(ReportCode::ReadError, UpgradeFailure{kWriteRefused, 0, detail});
    return false;
  }
  outcome.backupWritten = true;
  runBackup_ = backup.path;
  return true;
}

bool UpgradeOperation::LoadEntryImage(size_t index, bool remote, EntryOutcome& outcome) {
  const DirectoryEntry& entry = held_.contents().entries[index];
  const std::string& name = entry.kindName;
  if (GetFileMode(*env_.script, name) != FileMode::Hex) return LoadBinaryImage(index, outcome);
  uint64_t at = 0;
  const HeldFile* file = held_.SourceOf(index, &at);
  if (!file) {
    ReportEnd(ReportCode::ExternMissing, name);
    return false;
  }
  return LoadHexImage(name, *file, at, name == kArmMain && env_.link.deviceClass != 2 && !remote);
}

bool UpgradeOperation::LoadHexImage(const std::string& name, const HeldFile& file, uint64_t offset, bool compress) {
  HexImage hex(env_.port);
  int loaded = hex.LoadFromHeld(file, offset);
  // Text read from a file that changed meanwhile is no image of the package that was checked.
  if (Status same = file.Unchanged(); !same.ok()) {
    ReportHeldFileFault(name, same, file.path());
    return false;
  }
  if (loaded != kHexLoaded) {
    const bool cannotOpen = loaded == kHexCannotOpen;
    ReportImageNotLoaded(name, cannotOpen ? 0 : 1,
                         FillPlaceholders(Translate(cannotOpen ? kImageTextCannotOpen
                                                               : TextKey("Image file %s holds no usable HEX text.")),
                                          {file.path()}));
    return false;
  }
  if (compress) {
    Bytes plain = hex.Packed();
    // Nothing to compress is known now, before any request: the compression itself cannot fail.
    if (name.empty() || plain.empty()) {
      ReportEnd(ReportCode::BurnFailed);
      return false;
    }
    // The radio erases the firmware area meanwhile; the script runner waits for the compressed
    // image at the first line that needs it, so the requests go out in the same order.
    state_.SetPendingImage(std::async(std::launch::async, [name, plain = std::move(plain)] {
      std::optional<Bytes> packed = CompressImage(name, plain);
      return packed ? std::move(*packed) : Bytes();
    }));
  } else {
    state_.SetImage(hex.Packed());
  }
  SetSegmentTable(hex, name);
  return true;
}

// The segment table of a HEX image goes along as the script entry's extra data.
void UpgradeOperation::SetSegmentTable(const HexImage& hex, const std::string& kind) {
  const ScriptEntry* entry = env_.script->FindEntry(kind);
  const uint32_t extLength = entry ? ScriptNumber(entry->extraLength) : 0;
  state_.extra.assign(std::min<size_t>(extLength, kSegmentTableBufferSize), 0xFF);
  hex.BuildSegmentTable(state_.extra, extLength, entry ? ScriptNumber(entry->origin) : 0);
  state_.extraLength = state_.extra.size();
}

bool UpgradeOperation::LoadBinaryImage(size_t index, EntryOutcome& outcome) {
  const DirectoryEntry& entry = held_.contents().entries[index];
  const std::string& name = entry.kindName;
  const RadioIdentity& id = *state_.identity;
  const bool swapped = GetFileMode(*env_.script, name) == FileMode::SwappedBinary;
  std::string replacement = GifReplacementFile(name, id.softwareVersion, id.modelNumber);
  if (!replacement.empty()) {
    // A program file of UpgradeFile/, not part of the package: read whole as it always was.
    outcome.replaced = true;
    ImageBuffer image;
    const std::string path = JoinPath(env_.programDir, std::string(kUpgradeFileFolder) + "/" + replacement);
    if (BinaryLoadResult result = LoadBinaryFile(path, image); result != BinaryLoadResult::Ok) {
      // Reported, not passed over in silence: an upgrade that leaves an image out is no upgrade.
      ReportImageNotLoaded(name, result == BinaryLoadResult::CannotOpen ? 0 : 1, BinaryLoadMessage(result, path));
      return false;
    }
    if (swapped) WordReverse(image.bytes());
    state_.SetImage(std::move(image));
    return true;
  }

  uint64_t offset = 0;
  const HeldFile* file = held_.SourceOf(index, &offset);
  if (!file) {
    ReportEnd(ReportCode::ExternMissing, name);
    return false;
  }
  const uint64_t length = entry.externFlag == 1 ? file->size() : entry.dataLength;
  if (length > kImageBufferSize) {
    ReportImageNotLoaded(name, 1, BinaryLoadMessage(BinaryLoadResult::TooLarge, file->path()));
    return false;
  }
  if (Streamable(name)) {
    state_.SetImage(std::make_unique<StreamedImage>(*file, offset, length, swapped));
    return true;
  }
  // The configuration data are stamped and converted in memory, so they are read whole.
  ImageBuffer image(static_cast<size_t>(length));
  if (Status read = file->ReadAt(offset, image.bytes()); !read.ok()) {
    ReportHeldFileFault(name, read, file->path());
    return false;
  }
  if (Status same = file->Unchanged(); !same.ok()) {
    ReportHeldFileFault(name, same, file->path());
    return false;
  }
  if (swapped) WordReverse(image.bytes());
  if (Contains(name, kRcdbData) || Contains(name, kCpsData))
    StampVersion(image.bytes(), StampedVersion(id.softwareVersion, held_.contents().header.targetVersion));
  state_.SetImage(std::move(image));
  return true;
}

// A kind whose image goes to the radio as it is in the package: no version stamp, and no
// script line that changes it (the carry-over of XRCP_CHANGE_DATA works on the whole image).
bool UpgradeOperation::Streamable(const std::string& name) const {
  if (!env_.streamImages || Contains(name, kRcdbData) || Contains(name, kCpsData)) return false;
  for (const CommandLine& line : env_.script->CommandLines(name))
    if (Contains(line.line, "XRCP_CHANGE_DATA")) return false;
  return true;
}

void UpgradeOperation::CompletionMark() {
  if (Stopped()) return;
  // Its result is not looked at: the images are in, and a radio that cannot take the mark
  // asks for the upgrade again at its next start.
  UpdateInfoBlock(*env_.transport, summary_.receiveSide, env_.link.newProtocol, env_.pause);
}

// --- Remote upgrade ------------------------------------------------------------------------------

std::string UpgradeOperation::ResultFilePath(const std::string& radioDataFile) {
  std::string base = radioDataFile;
  if (EndsWith(base, ".rcd")) base.resize(base.size() - 4);
  return base + ".fuc";
}

int UpgradeOperation::PrepareRemote(const std::string& radioDataFile) {
  InitState();
  prepared_ = false;
  remoteDataFile_ = radioDataFile;
  HoldChosenPackage();
  DataFile data = ReadWholeFile(radioDataFile, kChangeDataBufferSize);
  if (!data.bytes) return kNoAnswer;
  state_.readBuffer = *data.bytes;
  radioData_ = std::move(*data.bytes);
  ImageIdentity read = ReadIdentityFromImage(radioData_, state_.carryOver.areaByte);
  if (!read.identity) return int(ReportCode::RcdbFormatError);
  state_.identity = *read.identity;
  summary_.identity = *read.identity;
  if (Status admitted = Admit(*read.identity, true); !admitted.ok()) return admitted.code();
  KeepTuningRules();
  if (Status backup = AskAboutBackup(read.identity->serialNumber); !backup.ok()) return backup.code();
  if (Status found = LookUpPackage(*read.identity, nullptr); !found.ok()) return found.code();
  // The file stands in for the radio's data wherever the burn would read them.
  state_.sourceDataFile = radioDataFile;
  state_.sourceData = &radioData_;
  prepared_ = true;
  return kAdmitted;
}

ReportCode UpgradeOperation::RunRemote() {
  if (!prepared_) return ReportCode::ReadError;
  prepared_ = false;
  summary_.started = std::time(nullptr);
  SecondPhase(true);
  if (!summary_.reported && !Stopped()) summary_.ended = std::time(nullptr);
  if (!summary_.reported) summary_.backupPath = runBackup_;  // stopped: the backup stays
  WriteRemoteResult(ResultFilePath(remoteDataFile_), summary_, env_.link, remoteDataFile_);
  return summary_.report;
}

}  // namespace lw
