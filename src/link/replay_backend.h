// Plays a recorded Comm.log as the radio, so that a session recorded on a real radio (an
// operator's failed upgrade, say) runs again on any machine, byte for byte.
//
// The recording is the trace this program writes with "CommLog" on (see comm_log.h): request
// lines "PC -> Radio(...)" and, after each, the answer lines "PC <- Radio(...)" it got. While
// replaying, every request the program sends must equal the next recorded request (the time
// stamps are not compared); the answer lines recorded after it are then handed out as the
// radio's answer, each with the 2-byte length field the trace leaves out. A request with no
// answer lines after it gets none, as it did then.
//
// The replay ends in one of two ways before the recording's end:
//   divergence  a request differs from the recorded one: the radio is gone from then on (a
//               link failure for the run), and Divergence() says which request, which line
//               of the log and the first differing byte;
//   exhausted   the program sends a request beyond the last recorded one, or, in a log cut
//               off in the middle of a line, the last recorded request has no answer after it:
//               the radio behaves as if unplugged at that point.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/status.h"
#include "link/comm_log.h"
#include "link/usb_backend.h"

namespace lw {

struct TraceFrame {
  TraceDirection direction = TraceDirection::ToRadio;
  Bytes bytes;
  int line = 0;          // 1-based line number in the log
  std::time_t when = 0;  // the line's time stamp, local time
};

// Reads the lines of a Comm.log. Blank lines are skipped; a last line without its line end (a
// log cut off while it was written) is dropped, and `cutOff` (may be null) tells whether there
// was one. An error naming the line for anything that is not a trace line.
Result<std::vector<TraceFrame>> ParseTrace(std::string_view text, bool* cutOff = nullptr);

class ReplayBackend : public UsbBackend {
 public:
  // The device path under which the recording shows as one radio of the primary class.
  static constexpr const char* kPathPrefix = "replay:";

  // An error when the file cannot be read, is not a trace, or holds no request.
  static Result<std::unique_ptr<ReplayBackend>> Load(const std::string& path);
  // `cutOff`: the log lost its end (see ParseTrace), so its last request, when nothing was
  // recorded after it, is where the radio went away.
  explicit ReplayBackend(std::vector<TraceFrame> frames, std::string name = "Comm.log", bool cutOff = false);

  std::optional<std::vector<std::string>> Enumerate(UsbDeviceClass cls) override;
  std::unique_ptr<UsbPipes> Open(const std::string& path) override;
  void SetHotplugCallback(std::function<void()> callback) override;

  // Empty while the replay follows the recording; else what differed, ready to print.
  std::string Divergence() const;
  // The replay ran to the end of the recording: the program asked for more than was recorded,
  // or the last request of a cut-off log had no answer.
  bool Exhausted() const;
  // Requests replayed so far, and in the whole recording.
  size_t RequestsReplayed() const;
  size_t RequestsRecorded() const;
  // The time stamp of the first recorded line: the day the recorded session ran.
  std::time_t RecordedStart() const;

 private:
  class Pipes;
  size_t Write(const uint8_t* buffer, size_t n);
  size_t Read(uint8_t* buffer, size_t n);
  void Gone(std::unique_lock<std::mutex>& lock);

  const std::vector<TraceFrame> frames_;
  const std::string name_;
  const std::string path_;
  const bool cutOff_;
  size_t recordedRequests_ = 0;

  mutable std::mutex mutex_;
  size_t next_ = 0;      // the next frame to look at
  size_t replayed_ = 0;  // requests matched
  Bytes pending_;        // answer bytes not yet read
  size_t pendingAt_ = 0;
  bool gone_ = false;
  bool exhausted_ = false;
  std::string divergence_;
  std::function<void()> hotplug_;
};

}  // namespace lw
