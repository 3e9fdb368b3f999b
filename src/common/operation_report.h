// How a running operation (the connect step, the upgrade worker) talks back to the operation
// controller. The workers live below the controller, so this contract lives here where both
// see it: a worker gets an OperationSink and never touches the window.
//
// Protocol: a worker sends exactly one final report (a ReportCode with its payload), plus the
// question 13 through AskRestore, and progress while it runs. Every call may be made from any
// thread; the sink hands the event to the user-interface thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <variant>

#include "common/codes.h"

namespace lw {

// The record of reports 18 and 24: the text shown first (model / serial number), then a
// second text for the log or a test station.
struct TwoTexts {
  std::string first;
  std::string second;
};

// What a report carries:
//   none        0, 2, 8, 15, 27, 29, and 9 without a failure record
//   int         10: 0 the package cannot be opened, 1 wrong magic
//               21: the record-list parser's error code (1..4), 0 when it has none to give
//   ImageLoadFailure  10 when an image file of an entry could not be loaded
//   UpgradeFailure  9 with a failure record
//   text        12 (the radio's boot version), 13 (serial number), 17, 19, 20
//   TwoTexts    18, 24
// Report 10 for an image of an entry that could not be loaded: the kind as for the plain report
// (0 cannot be opened, 1 not usable), and one line, ready to show, naming the file and why.
struct ImageLoadFailure {
  int kind = 0;
  std::string detail;
};

using ReportPayload = std::variant<std::monostate, int, UpgradeFailure, std::string, TwoTexts, ImageLoadFailure>;

// The text of a payload (the first text of a two-text record); empty when it has none.
inline std::string PayloadText(const ReportPayload& payload) {
  if (auto* text = std::get_if<std::string>(&payload)) return *text;
  if (auto* two = std::get_if<TwoTexts>(&payload)) return two->first;
  return {};
}

class OperationSink {
 public:
  virtual ~OperationSink() = default;

  // The final report (window message 1690). Send it as the worker's last act.
  virtual void Report(ReportCode code, ReportPayload payload = {}) = 0;
  // Progress position within the current phase (window message 1691); the watchdog counts a
  // change of position as progress.
  virtual void Progress(int position) = 0;
  // A new progress phase: its text (ready to show) and step total; the position restarts at 0.
  virtual void Phase(const std::string& text, int total) = 0;
  // A log list line (ready to show; the window adds the time stamp).
  virtual void Log(const std::string& text) = 0;
  // No package was chosen and the worker found the one for this radio: its path, so that the
  // window loads and shows the package that is really being burned. The default ignores it.
  virtual void PackageFound(const std::string& path) {}
  // The radio's data were read and tell which radio it is. The default ignores it.
  virtual void RadioIdentified(const std::string& serial, const std::string& model) {}

  // The question 13: a backup of radio `serial` exists; restore from it? Blocks until the
  // operator answered (true = restore) with no time-out. Returns false at once when the
  // operation is being stopped.
  virtual bool AskRestore(const std::string& serial) = 0;

  // The exit-allowed flag: a worker clears it around steps that must not be interrupted.
  virtual void SetExitAllowed(bool allowed) = 0;
  // The link-busy flag: set by the connect step once the port is open.
  virtual void SetLinkBusy(bool busy) = 0;

  // Cooperative stop: set when the watchdog gave up on the operation. A worker checks it
  // before every radio request and ends without a report once it is set; the flag can also be
  // handed to the transport so that it refuses further requests.
  virtual bool StopRequested() const = 0;
  virtual std::shared_ptr<const std::atomic<bool>> StopFlag() const = 0;
};

}  // namespace lw
