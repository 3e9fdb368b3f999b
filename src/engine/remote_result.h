// The result file of a remote upgrade (".fuc"): what a test station needs to know about the run
// it started, in one fixed 3,917-byte record followed by a data block. The layout, with every
// offset, is in docs/remote-result.md; integers are little-endian, texts UTF-8, NUL-padded to
// their field (a field of width W holds at most W-1 bytes).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "engine/connect_step.h"

namespace lw {

struct UpgradeSummary;

inline constexpr size_t kRemoteRecordSize = 3917;
inline constexpr const char* kRemoteResultMagic = "LWRESULT";
inline constexpr uint32_t kRemoteResultLayout = 1;
inline constexpr size_t kRemoteEntrySize = 116;

// The report code the record carries for a run that a stop ended (the operator's, the
// watchdog's or the server's): no report was sent, and the radio may hold part of the package.
// It is no code of the worker report protocol, so it can never be read as "finished".
inline constexpr int32_t kRemoteResultStopped = 99;

// Record flags.
inline constexpr uint32_t kResultReceiveSide = 1u << 0;
inline constexpr uint32_t kResultValidationFlag = 1u << 1;
inline constexpr uint32_t kResultNewProtocol = 1u << 2;
// Entry flags.
inline constexpr uint32_t kEntryBurned = 1u << 0;
inline constexpr uint32_t kEntrySkipped = 1u << 1;
inline constexpr uint32_t kEntryBackupWritten = 1u << 2;
inline constexpr uint32_t kEntryReplaced = 1u << 3;

// The decoded file, as a test station (or a test) reads it.
struct RemoteResult {
  uint32_t layout = 0;
  int32_t reportCode = 0;
  int32_t errorCode = 0;
  bool rcdbSaved = false;
  int64_t started = 0, ended = 0;
  uint32_t entryCount = 0, burned = 0, skipped = 0, flags = 0, deviceClass = 0;
  std::string bootloaderVersion, modelNumber, softwareVersion, serialNumber, variantCode, formatVersion;
  int32_t restrictionCode = -1;
  std::string targetVersion, producerVersion, radioDataFile, packagePath, backupPath, failedEntry, payloadText;
  struct Entry {
    std::string name;
    int32_t result = 0;
    uint32_t flags = 0;
    uint32_t imageLength = 0;
  };
  std::vector<Entry> entries;
  std::string log;
};

// The file's bytes for a finished (or failed) run; a run that sent no report (a stop ended it)
// is written with kRemoteResultStopped as its report code.
Bytes EncodeRemoteResult(const UpgradeSummary& summary, const LinkFacts& link, const std::string& radioDataFile);
// Reads a result file's bytes; none when the record is short, its magic or size differ, or the
// data block does not fit the file.
std::optional<RemoteResult> DecodeRemoteResult(ByteView file);
// Writes the file (created or truncated); false when it cannot be written.
bool WriteRemoteResult(const std::string& path, const UpgradeSummary& summary, const LinkFacts& link,
                       const std::string& radioDataFile);

}  // namespace lw
