// UsbTransport: finds the radios attached over USB, gives each a stable small port number, opens
// one radio at a time as a pair of bulk pipes, moves raw bytes, and exchanges framed requests
// and answers with it. The main window owns one for the life of the process; the port list
// scans through it and the operation workers open, use and close it.
//
// Port numbers: a scan loads the persistent map (PortStore), keeps the numbers of the radios it
// has seen before and gives radios never seen the numbers R+1, R+2, ... in enumeration order,
// R being the number of distinct paths already in the map. Only 1 to 255 are usable, since the
// port list and Open carry the number as one byte.
//
// One radio may be open per process, whatever number of transport objects exist.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/bytes.h"
#include "common/thread_annotations.h"
#include "link/port_store.h"
#include "link/radio_answer.h"
#include "link/usb_backend.h"

namespace lw {

// Configuration of the link, passed in by the front ends from the settings.
struct LinkOptions {
  // How long one pipe read waits for its first byte.
  int readTimeoutMs = 1000;
  // Verify each answer's check word, checksum, markers and inner length, and treat a bad
  // answer as no answer ("Check Answers"; off only for firmware known to send bad check words).
  bool checkAnswers = true;
  // Trace every frame to `commLogPath` ("CommLog" nonzero).
  bool commLog = false;
  std::string commLogPath = "Comm.log";
};

inline constexpr int kDefaultAnswerTimeoutMs = 5000;
// A device path that cannot carry a 7-character pipe suffix and its terminator within 260
// characters is refused, so that paths stay usable on every platform the map is shared with.
inline constexpr size_t kMaxDevicePathLength = 260;
inline constexpr size_t kPortBufferSize = 256;

class UsbTransport {
 public:
  // `store` may be null (no persistence). Both must outlive the transport.
  UsbTransport(UsbBackend& backend, PortStore* store, LinkOptions options = {});
  ~UsbTransport();
  UsbTransport(const UsbTransport&) = delete;
  UsbTransport& operator=(const UsbTransport&) = delete;

  // --- Finding radios ---------------------------------------------------------------------

  // Scans for radios. `classFlag` in: 0 starts with the primary class, 1 with the fallback class
  // (any other value returns 0 at once); out: 1 when the radios were found under the primary
  // class, else 0. The primary class falling back to the fallback class when it yields no radio.
  // `portsOut` (optional, kPortBufferSize bytes) receives the present port numbers, ascending;
  // it is left untouched when no radio is found. Returns the number of radios found.
  uint16_t Scan(uint8_t* portsOut, int& classFlag);

  uint16_t DeviceCount() const { return deviceCount_; }
  // The present radios after the last scan: port number -> path.
  PortNumberMap PortMap() const;

  // --- Opening ----------------------------------------------------------------------------

  // True when the radio of `port` is open and connected (also when it already was), false when
  // it cannot be opened: unknown port, path too long, absent radio, or another radio open in
  // this process. Opening drains whatever the radio still had to say, which takes one read
  // time-out. Why it failed is LastOpenFailure: a bool and not a Status, because callers also
  // read that failure where no Open of theirs ran (the port list's probing found no radio).
  bool Open(int port);
  // Why the last Open failed, as the backend told it (empty after a successful Open and at the
  // start of every scan). A refused access is what the operator can do something about.
  UsbOpenFailure LastOpenFailure() const;
  // True when a radio was open and is now closed, false when nothing was open.
  bool Close();
  bool IsOpened() const { return opened_; }
  bool IsConnected() const { return connected_; }

  // --- Raw pipes --------------------------------------------------------------------------

  // Reads up to n bytes, waiting at most the read time-out. 0 on time-out, error, n = 0 or
  // when nothing is open.
  size_t ReadPipe(uint8_t* buffer, size_t n);
  // Writes n bytes; the number written, 0 on error, n = 0 or when nothing is open.
  size_t WritePipe(const uint8_t* buffer, size_t n);

  // --- Exchanges --------------------------------------------------------------------------

  void SetAnswerTimeout(int ms) { answerTimeoutMs_ = ms; }
  int AnswerTimeout() const { return answerTimeoutMs_; }

  // The stop flag of the operation now using the link (null: none). An exchange gives up as
  // soon as it is set, so a stopped operation waits for at most one pipe read, never for a
  // radio that keeps talking. Set by the thread that then runs the exchanges (see
  // LinkStopScope).
  void SetStopFlag(std::shared_ptr<const std::atomic<bool>> stop) { stop_ = std::move(stop); }

  // Sends one request: builds the CommandFrame and LinkFrame, writes them in one write and,
  // when an answer is wanted, reads the answer's length and body until the answer time-out
  // (measured over both phases). `bytesWritten` gets what the write pipe reported (0 when it
  // failed, or when the payload is longer than kMaxRequestPayload, which is not sent).
  //
  // Returns the answer, which also takes the answer slot, or null: always when no answer is
  // wanted, when none came in time, and when the stop flag is set. Empty answers (a length of
  // 2) are skipped, but only within the same time-out. An answer whose length field lies outside 11..10242 is
  // no answer (the rest of it is drained); so is, while answers are checked, one whose check
  // word, checksum, markers or inner length are wrong. After an exchange that got no good
  // answer, the next request first drains stale input, so that a late answer is never taken for
  // the answer to a later request.
  AnswerPtr Exchange(uint16_t command, ByteView payload, bool waitForAnswer, size_t& bytesWritten);
  // The same with the payload in two parts, `head` then `data`, gathered into the request frame
  // without a copy of their own (the block writes send each block this way).
  AnswerPtr Exchange(uint16_t command, ByteView head, ByteView data, bool waitForAnswer, size_t& bytesWritten);
  AnswerPtr Exchange(uint16_t command, ByteView payload, bool waitForAnswer);

  // The last answer received (null after Open, ReleaseAnswer or an exchange without answer).
  const AnswerPtr& AnswerSlot() const { return answerSlot_; }
  // Empties the answer slot. A caller still holding the answer keeps it.
  void ReleaseAnswer() { answerSlot_.reset(); }
  // Creates the trace file anew, empty.
  void ClearTrace();

  const LinkOptions& options() const { return options_; }
  void SetOptions(const LinkOptions& options) { options_ = options; }

 private:
  uint16_t ScanClass(uint8_t* portsOut, int& classFlag, bool allowFallback);
  void Trace(int direction, ByteView bytes);
  void DrainInput(Bytes* keep);
  bool Elapsed(std::chrono::steady_clock::time_point start) const;
  // The two phases of reading an answer, both bounded by the answer time-out from `start` and
  // by the stop flag: its length field (none when none came), then the rest of its bytes.
  std::optional<uint16_t> ReadAnswerLength(std::chrono::steady_clock::time_point start);
  bool ReadAnswerBody(size_t bodySize, std::chrono::steady_clock::time_point start);
  bool StopSet() const { return stop_ && stop_->load(); }

  UsbBackend& backend_;
  PortStore* store_;
  LinkOptions options_;

  mutable Mutex mapMutex_;
  PortNumberMap portMap_ LW_GUARDED_BY(mapMutex_);
  std::atomic<uint16_t> deviceCount_{0};
  std::atomic<bool> storeGate_{true};  // signalled: a scan may write the store
  UsbOpenFailure lastOpenFailure_ LW_GUARDED_BY(mapMutex_);

  std::unique_ptr<UsbPipes> pipes_;
  std::atomic<bool> opened_{false};
  std::atomic<bool> connected_{false};
  std::atomic<int> answerTimeoutMs_{kDefaultAnswerTimeoutMs};

  Bytes request_;      // the LinkFrame being sent
  Bytes answerBody_;   // the answer after its length field
  AnswerPtr answerSlot_;
  bool staleInput_ = false;  // the last exchange ended without a good answer
  std::shared_ptr<const std::atomic<bool>> stop_;
};

// Gives the link an operation's stop flag for the life of the scope, and takes it back after,
// so that a later user of the link is not stopped by a flag of an operation long over.
class LinkStopScope {
 public:
  LinkStopScope(UsbTransport& transport, std::shared_ptr<const std::atomic<bool>> stop) : transport_(transport) {
    transport_.SetStopFlag(std::move(stop));
  }
  ~LinkStopScope() { transport_.SetStopFlag(nullptr); }
  LinkStopScope(const LinkStopScope&) = delete;
  LinkStopScope& operator=(const LinkStopScope&) = delete;

 private:
  UsbTransport& transport_;
};

}  // namespace lw
