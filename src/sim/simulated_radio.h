// A simulated radio: main and (for a repeater) receive-side flash, a bootloader version, a
// device class and radio data, speaking XRCP on a pair of bulk pipes.
//
// It decodes every frame it receives itself and checks the length, check word, markers and
// checksum; a bad frame gets no answer. It answers the version query (0x0342), the state query
// (0x0201), memory reads (0x01C2) and erases (0x01C4), takes memory writes (0x01C3, no answer)
// into NOR flash, and acknowledges the generic commands its profile knows. Any other code gets
// no answer. A radio with a bootloader up to 01.04.005 does not know memory selectors: all its
// memory requests address the main side. Faults of the profile change or withhold answers, refuse writes or pull the radio
// out. Every request is kept in a log for tests to assert on.
//
// Thread-safe: the host side (a transport, or a USB emulation handler thread) and a test may
// use it at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "link/link_frame.h"
#include "sim/sim_flash.h"
#include "sim/sim_profile.h"

namespace lw::sim {

// One received frame, as the radio understood it.
struct SimRequest {
  uint16_t code = 0;
  Bytes payload;
  FrameFault fault = FrameFault::None;  // not None: the frame was rejected unanswered
  bool refused = false;                 // the write pipe did not take it
  bool dropped = false;                 // taken, then lost by the radio (the drop_write fault)
  bool answered = false;                // an answer was queued (possibly garbled, short or late)

  // Fields of memory requests (0 when the payload is shorter).
  uint8_t Selector() const { return payload.empty() ? 0 : payload[0]; }
  uint32_t Address() const { return payload.size() >= 5 ? Le32(&payload[1]) : 0; }
  uint16_t Length() const { return payload.size() >= 7 ? Le16(&payload[5]) : 0; }
  ByteView Data() const { return payload.size() > 7 ? ByteView(payload).subspan(7) : ByteView{}; }
};

class SimulatedRadio {
 public:
  explicit SimulatedRadio(SimProfile profile);

  const SimProfile& profile() const { return profile_; }
  const std::string& path() const { return profile_.path; }

  // --- The radio's end of the pipes ---------------------------------------------------------

  // Takes one write from the host (normally one LinkFrame). Returns the bytes taken: all of
  // them, or 0 when the radio is unplugged or refuses this request.
  size_t AcceptWrite(ByteView bytes);
  // Hands out up to n bytes of the next answer, waiting at most timeoutMs for one to be ready.
  // An answer is handed out in as many reads as the host needs. 0 on time-out or unplugged.
  size_t ReadAnswer(uint8_t* buffer, size_t n, int timeoutMs);
  bool HasAnswer() const;

  // --- Plugging -----------------------------------------------------------------------------

  bool Unplugged() const;
  // Pulls the radio out (pending answers are lost) or puts it back.
  void Unplug();
  void Replug();
  // Called (outside the radio's lock, on the thread that caused it) when the unplug fault
  // pulls the radio out by itself.
  void SetUnplugListener(std::function<void()> listener);

  // --- What tests look at -------------------------------------------------------------------

  // selector 0: main side; 16: receive side (only with a receive side).
  SimFlash& Flash(uint8_t selector);
  std::vector<SimRequest> Requests() const;
  // Requests of one code that were good frames.
  std::vector<SimRequest> Requests(uint16_t code) const;
  size_t RequestCount() const;
  void ClearRequests();
  // Keeping payloads costs memory on long runs; the benchmark may turn it off.
  void SetKeepPayloads(bool keep);
  // So does the log of requests itself (about 50 bytes a request, 4 MB for a 40 MB upgrade):
  // off, Requests() stays empty, and a benchmark measures what the program holds, not the
  // radio's notes.
  void SetKeepRequests(bool keep);
  // The time the radio's own work took (taking requests, answering, its flash), so that a
  // benchmark can tell the host's share of a run from the radio's: both run in one process, on
  // the host's thread. Counted only while switched on.
  void SetCountBusy(bool on);
  double BusySeconds() const;
  // Adds processor time the simulation spent for this radio elsewhere (the simulated link's
  // sleeps), when counting is on.
  void AddBusy(std::chrono::nanoseconds cpu);
  // The time its erases kept it busy (eraseBytesPerSecond), in all: part of the least time an
  // upgrade can take, though no processor works for it.
  double EraseSeconds() const;
  // Requests the radio could not carry out (selector without a side, range off the flash,
  // short payload, unknown code), one text each.
  std::vector<std::string> ProtocolErrors() const;
  std::vector<FlashError> FlashErrors() const;  // both sides

 private:
  struct Pending {
    Bytes bytes;
    size_t taken = 0;
    std::chrono::steady_clock::time_point readyAt;
  };

  void HandleFrame(ByteView frame, SimRequest& request);
  bool Answer(uint16_t code, ByteView payload, Bytes& answer);
  SimFlash* Side(uint8_t selector, const char* what);
  void Queue(uint16_t code, ByteView payload, uint32_t countOfCode, uint32_t countOfAll);
  void Problem(std::string text);
  void Record(SimRequest request);
  // Babble owed by now (never more than `n`), and when the next byte of it is due.
  size_t BabbleDue(std::chrono::steady_clock::time_point now, size_t n,
                   std::chrono::steady_clock::time_point* next) const;

  SimProfile profile_;
  SimFlash main_;
  std::unique_ptr<SimFlash> receive_;
  int64_t answerDelayNs_ = 0;  // the time the request being answered keeps the radio busy
  std::atomic<int64_t> eraseNanoseconds_{0};

  mutable std::mutex mutex_;
  std::condition_variable answerReady_;
  std::deque<Pending> outbox_;
  // A deque: a long run's log grows without being copied into fresh memory at every doubling.
  std::deque<SimRequest> log_;
  std::vector<std::string> problems_;
  std::map<uint16_t, uint32_t> countByCode_;
  uint32_t countAll_ = 0;
  bool unplugged_ = false;
  // The babble fault: when the radio was plugged in, and how many bytes of it were read since.
  std::chrono::steady_clock::time_point pluggedAt_ = std::chrono::steady_clock::now();
  uint64_t babbled_ = 0;
  std::atomic<bool> countBusy_{false};
  std::atomic<int64_t> busyNanoseconds_{0};
  bool keepPayloads_ = true;
  bool keepRequests_ = true;
  std::function<void()> unplugListener_;
};

}  // namespace lw::sim
