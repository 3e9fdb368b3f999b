#include "engine/remote_result.h"

#include <cstring>
#include <fstream>

#include "common/atomic_file.h"
#include "common/unique_fd.h"
#include "engine/upgrade_operation.h"

namespace lw {

namespace {

// Record layout: offset and width of every field.
struct Field {
  size_t at;
  size_t width;
};
constexpr Field kMagic{0, 8};
constexpr size_t kRecordSizeAt = 8, kLayoutAt = 12, kReportAt = 16, kErrorAt = 20, kSavedAt = 24;
constexpr size_t kStartedAt = 28, kEndedAt = 36, kEntryCountAt = 44, kBurnedAt = 48, kSkippedAt = 52;
constexpr size_t kFlagsAt = 56, kDeviceClassAt = 60;
constexpr Field kBootloader{64, 16}, kModel{80, 64}, kSoftware{144, 32}, kSerial{176, 32}, kVariant{208, 32},
    kFormat{240, 8};
constexpr size_t kRestrictionAt = 248;
constexpr Field kTarget{252, 32}, kProducer{284, 32}, kDataFile{316, 260}, kPackage{576, 260}, kBackup{836, 260},
    kFailed{1096, 100}, kPayload{1196, 256};
constexpr size_t kBlockLengthAt = 1452;
constexpr size_t kEntryNameWidth = 100;

void PutText(Bytes& out, Field field, const std::string& text) { PutFixedText(&out[field.at], field.width, text); }
void Put64(Bytes& out, size_t at, int64_t value) {
  PutLe32(&out[at], uint32_t(uint64_t(value)));
  PutLe32(&out[at + 4], uint32_t(uint64_t(value) >> 32));
}
int64_t Get64(ByteView in, size_t at) { return int64_t(uint64_t(Le32(&in[at])) | (uint64_t(Le32(&in[at + 4])) << 32)); }

}  // namespace

Bytes EncodeRemoteResult(const UpgradeSummary& s, const LinkFacts& link, const std::string& radioDataFile) {
  Bytes out(kRemoteRecordSize, 0);
  std::memcpy(&out[kMagic.at], kRemoteResultMagic, kMagic.width);
  PutLe32(&out[kRecordSizeAt], uint32_t(kRemoteRecordSize));
  PutLe32(&out[kLayoutAt], kRemoteResultLayout);
  PutLe32(&out[kReportAt], uint32_t(s.reported ? int32_t(s.report) : kRemoteResultStopped));
  PutLe32(&out[kErrorAt], uint32_t(s.failure.errorCode));
  PutLe32(&out[kSavedAt], uint32_t(s.failure.rcdbSaved));
  Put64(out, kStartedAt, int64_t(s.started));
  Put64(out, kEndedAt, int64_t(s.ended));
  uint32_t burned = 0, skipped = 0;
  std::string failed;
  for (const EntryOutcome& e : s.entries) {
    burned += e.burned;
    skipped += e.skipped;
    if (!e.skipped && !e.burned) failed = e.name;
  }
  PutLe32(&out[kEntryCountAt], s.packageHeader.entryCount);
  PutLe32(&out[kBurnedAt], burned);
  PutLe32(&out[kSkippedAt], skipped);
  uint32_t flags = (s.receiveSide ? kResultReceiveSide : 0) | (s.validationFlag ? kResultValidationFlag : 0) |
                   (link.newProtocol ? kResultNewProtocol : 0);
  PutLe32(&out[kFlagsAt], flags);
  PutLe32(&out[kDeviceClassAt], uint32_t(link.deviceClass));
  PutText(out, kBootloader, link.bootloaderVersion);
  if (s.identity) {
    PutText(out, kModel, s.identity->modelNumber);
    PutText(out, kSoftware, s.identity->softwareVersion);
    PutText(out, kSerial, s.identity->serialNumber);
    PutText(out, kVariant, s.identity->variantCode);
    PutText(out, kFormat, s.identity->formatVersion);
    PutLe32(&out[kRestrictionAt], uint32_t(int32_t(s.identity->restrictionCode)));
  } else {
    PutLe32(&out[kRestrictionAt], uint32_t(-1));
  }
  PutText(out, kTarget, s.packageHeader.targetVersion);
  PutText(out, kProducer, s.packageHeader.producerVersion);
  PutText(out, kDataFile, radioDataFile);
  PutText(out, kPackage, s.packagePath);
  PutText(out, kBackup, s.backupPath);
  PutText(out, kFailed, failed);
  PutText(out, kPayload, s.payloadText);

  // The data block: every entry the run came to, then the run's log.
  Bytes block;
  AppendLe32(block, uint32_t(s.entries.size()));
  for (const EntryOutcome& e : s.entries) {
    size_t at = block.size();
    block.resize(at + kRemoteEntrySize, 0);
    PutFixedText(&block[at], kEntryNameWidth, e.name);
    PutLe32(&block[at + 100], uint32_t(e.result));
    PutLe32(&block[at + 104], (e.burned ? kEntryBurned : 0) | (e.skipped ? kEntrySkipped : 0) |
                                  (e.backupWritten ? kEntryBackupWritten : 0) | (e.replaced ? kEntryReplaced : 0));
    PutLe32(&block[at + 108], e.imageLength);
    // bytes 112-115 reserved
  }
  std::string log;
  for (const std::string& line : s.log) log += line + "\n";
  AppendLe32(block, uint32_t(log.size()));
  block.insert(block.end(), log.begin(), log.end());

  PutLe32(&out[kBlockLengthAt], uint32_t(block.size()));
  out.insert(out.end(), block.begin(), block.end());
  return out;
}

std::optional<RemoteResult> DecodeRemoteResult(ByteView in) {
  if (in.size() < kRemoteRecordSize || std::memcmp(in.data(), kRemoteResultMagic, kMagic.width) != 0 ||
      Le32(&in[kRecordSizeAt]) != kRemoteRecordSize)
    return std::nullopt;
  auto text = [&](Field f) { return FixedText(in, f.at, f.width); };
  RemoteResult r;
  r.layout = Le32(&in[kLayoutAt]);
  r.reportCode = int32_t(Le32(&in[kReportAt]));
  r.errorCode = int32_t(Le32(&in[kErrorAt]));
  r.rcdbSaved = Le32(&in[kSavedAt]) != 0;
  r.started = Get64(in, kStartedAt);
  r.ended = Get64(in, kEndedAt);
  r.entryCount = Le32(&in[kEntryCountAt]);
  r.burned = Le32(&in[kBurnedAt]);
  r.skipped = Le32(&in[kSkippedAt]);
  r.flags = Le32(&in[kFlagsAt]);
  r.deviceClass = Le32(&in[kDeviceClassAt]);
  r.bootloaderVersion = text(kBootloader);
  r.modelNumber = text(kModel);
  r.softwareVersion = text(kSoftware);
  r.serialNumber = text(kSerial);
  r.variantCode = text(kVariant);
  r.formatVersion = text(kFormat);
  r.restrictionCode = int32_t(Le32(&in[kRestrictionAt]));
  r.targetVersion = text(kTarget);
  r.producerVersion = text(kProducer);
  r.radioDataFile = text(kDataFile);
  r.packagePath = text(kPackage);
  r.backupPath = text(kBackup);
  r.failedEntry = text(kFailed);
  r.payloadText = text(kPayload);

  const uint32_t blockLength = Le32(&in[kBlockLengthAt]);
  if (!InBounds(in.size(), kRemoteRecordSize, blockLength)) return std::nullopt;
  ByteView block = in.subspan(kRemoteRecordSize, blockLength);
  auto count = ReadLe32(block, 0);
  if (!count || !InBounds(block.size(), 4, uint64_t(*count) * kRemoteEntrySize)) return std::nullopt;
  size_t at = 4;
  for (uint32_t i = 0; i < *count; ++i, at += kRemoteEntrySize) {
    RemoteResult::Entry e;
    e.name = FixedText(block, at, kEntryNameWidth);
    e.result = int32_t(Le32(&block[at + 100]));
    e.flags = Le32(&block[at + 104]);
    e.imageLength = Le32(&block[at + 108]);
    r.entries.push_back(std::move(e));
  }
  auto logLength = ReadLe32(block, at);
  if (!logLength || !InBounds(block.size(), at + 4, *logLength)) return std::nullopt;
  r.log.assign(reinterpret_cast<const char*>(block.data() + at + 4), *logLength);
  return r;
}

bool WriteRemoteResult(const std::string& path, const UpgradeSummary& summary, const LinkFacts& link,
                       const std::string& radioDataFile) {
  Bytes bytes = EncodeRemoteResult(summary, link, radioDataFile);
  // Whole or not at all: a station that reads the file as it appears never sees half of it,
  // and a full disk leaves the previous one as it was.
  AtomicWriteOptions options;
  options.temporaryTemplate = path + ".XXXXXX";
  options.modeRequired = false;
  return WriteFileAtomically(path, options, [&](int fd) { return WriteAll(fd, bytes.data(), bytes.size()); }).ok();
}

}  // namespace lw
