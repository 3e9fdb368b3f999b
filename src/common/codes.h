// Return codes of the radio-link routines and the worker report protocol. The numbers are
// fixed: logs, test stations and the remote result files carry them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace lw {

// Radio-link routine results: 0 is success, negatives are failures.
inline constexpr int kOk = 0;
inline constexpr int kNoAnswer = -1;
inline constexpr int kWriteRefused = -2;
inline constexpr int kConversionFailed = -8000;
inline constexpr int kValidationFailed = -8001;
inline constexpr int kComponentCheckFailed = -8002;
// Read-back verify ("Verify Writes"): the flash does not hold what was written.
inline constexpr int kVerifyMismatch = -8003;
// The image being written could not be read from its file (it changed or ended while it was
// being burned). The operation turns it into report 10 naming the file; it is never a report
// 9 code.
inline constexpr int kImageUnreadable = -8004;

// Window messages of the report protocol (kept for logs and traces).
inline constexpr int kWmWorkerReport = 1690;
inline constexpr int kWmProgress = 1691;

// What a worker tells the controller at its end (plus the question 13).
enum class ReportCode : int {
  StartWorker = 0,
  Finished = 2,
  OpenFailed = 8,
  ReadError = 9,
  PackageError = 10,
  BootloaderLow = 12,
  AskRestore = 13,
  RestoreChosen = 15,
  FirmwareBeyond = 17,
  ModelBeyond = 18,
  RadioTypeBeyond = 19,
  ExternMissing = 20,
  RcdbFormatError = 21,
  SerialBeyond = 24,
  CustomerCodeBeyond = 27,
  BurnFailed = 29,
};

// Payload of report 9 when it is not 0.
struct UpgradeFailure {
  UpgradeFailure() = default;
  UpgradeFailure(int32_t code, int32_t saved, std::string text = {})
      : errorCode(code), rcdbSaved(saved), detail(std::move(text)) {}

  int32_t errorCode = 0;
  int32_t rcdbSaved = 0;  // 1 = a backup of the radio's data was written before the failure
  // Ready to show: what exactly failed, when the code alone does not say it (kVerifyMismatch
  // names the kind, the side and the first differing address). Empty otherwise.
  std::string detail;
};

}  // namespace lw
