#include "sim/simulated_radio.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/text.h"
#include "link/xrcp.h"

namespace lw::sim {

namespace {
constexpr size_t kMaxKeptProblems = 1000;
// The largest read one answer can carry: 10,242 bytes minus the frames and the 8-byte head.
constexpr uint32_t kMaxReadLength = kMaxAnswerLength - kCommandFrameOverhead - kLinkHeaderSize - 8;

bool AnyMatches(const std::vector<FaultRule>& rules, uint16_t code, uint32_t countOfCode, uint32_t countOfAll,
                int* delayMs = nullptr) {
  for (const FaultRule& rule : rules) {
    if (rule.Matches(code, countOfCode, countOfAll)) {
      if (delayMs) *delayMs = rule.delayMs;
      return true;
    }
  }
  return false;
}

void AppendMemoryHead(Bytes& out, uint32_t address, uint16_t length) {
  out.push_back(0);  // status: done
  out.push_back(0);
  AppendLe32(out, address);
  AppendLe16(out, length);
}
}  // namespace

SimulatedRadio::SimulatedRadio(SimProfile profile)
    : profile_(std::move(profile)), receive_(std::make_unique<SimFlash>()) {
  if (!profile_.radioData.empty()) main_.Load(profile_.radioDataAddress, profile_.radioData);
  for (const SimImage& image : profile_.images) {
    SimFlash& flash = image.selector == kReceiveSelector ? *receive_ : main_;
    flash.Load(image.address, image.data);
  }
  if (!profile_.infoBlock.empty()) main_.Load(kInfoBlockAddress, profile_.infoBlock);
  if (!profile_.rxInfoBlock.empty()) receive_->Load(kInfoBlockAddress, profile_.rxInfoBlock);
  for (const StuckBits& bits : profile_.faults.stuck) main_.SetStuckBits(bits.address, bits.mask);
}

SimFlash& SimulatedRadio::Flash(uint8_t selector) { return selector == kReceiveSelector ? *receive_ : main_; }

void SimulatedRadio::Problem(std::string text) {
  if (problems_.size() < kMaxKeptProblems) problems_.push_back(std::move(text));
}

SimFlash* SimulatedRadio::Side(uint8_t selector, const char* what) {
  // Bootloaders up to 01.04.005 predate the selector: they read the byte but always work on
  // the main side, which is why the host must send them 0. Anything else is the host's error,
  // kept as one so that a test sees it, while the radio does what such a radio does.
  if (selector == kMainSelector) return &main_;
  if (!IsNewProtocol(profile_.bootloader)) {
    Problem(Format("%s with selector %u sent to bootloader %s, which knows no selector", what, unsigned(selector),
                   profile_.bootloader.c_str()));
    return &main_;
  }
  if (selector == kReceiveSelector && profile_.receiveSide) return receive_.get();
  Problem(Format("%s with selector %u, which this radio does not have", what, unsigned(selector)));
  return nullptr;
}

namespace {

int64_t NowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Adds the time between its construction and its end to a counter, when counting is on. The
// radio's work runs on the caller's thread and never waits inside these spans, so their time is
// the processor time it takes (on a machine that is not busy with other work); the steady
// clock is read without a system call, unlike a thread's CPU clock.
class BusyCount {
 public:
  BusyCount(const std::atomic<bool>& on, std::atomic<int64_t>& total)
      : total_(on.load(std::memory_order_relaxed) ? &total : nullptr), start_(total_ ? NowNanoseconds() : 0) {}
  ~BusyCount() {
    if (total_) total_->fetch_add(NowNanoseconds() - start_, std::memory_order_relaxed);
  }

 private:
  std::atomic<int64_t>* total_;
  int64_t start_;
};

}  // namespace

void SimulatedRadio::SetCountBusy(bool on) { countBusy_ = on; }
double SimulatedRadio::BusySeconds() const { return double(busyNanoseconds_.load()) * 1e-9; }
void SimulatedRadio::AddBusy(std::chrono::nanoseconds cpu) {
  if (countBusy_.load(std::memory_order_relaxed)) busyNanoseconds_.fetch_add(cpu.count(), std::memory_order_relaxed);
}
double SimulatedRadio::EraseSeconds() const { return double(eraseNanoseconds_.load()) * 1e-9; }

size_t SimulatedRadio::AcceptWrite(ByteView bytes) {
  BusyCount count(countBusy_, busyNanoseconds_);
  std::unique_lock lock(mutex_);
  if (unplugged_) return 0;
  if (profile_.faults.unplugAfter && countAll_ >= profile_.faults.unplugAfter) {
    unplugged_ = true;
    outbox_.clear();
    auto listener = unplugListener_;
    lock.unlock();
    answerReady_.notify_all();
    if (listener) listener();
    return 0;
  }

  size_t offset = 0;
  while (offset < bytes.size()) {
    SimRequest request;
    const size_t remaining = bytes.size() - offset;
    const uint16_t length = remaining >= 2 ? Le16(bytes.data() + offset) : 0;
    if (length < kMinAnswerLength || length > remaining) {
      // Not a frame this radio can find the end of: the rest of the write is lost.
      request.fault = FrameFault::BadLength;
      if (remaining >= 7) request.code = Le16(bytes.data() + offset + 5);
      Record(std::move(request));
      break;
    }
    ByteView frame = bytes.subspan(offset, length);
    offset += length;
    request.code = Le16(frame.data() + 5);
    request.fault = VerifyLinkFrame(frame);
    if (request.fault != FrameFault::None) {
      Record(std::move(request));
      continue;
    }
    const uint16_t payloadLength = Le16(frame.data() + 7);
    ByteView payload = frame.subspan(9, payloadLength);
    const uint32_t countOfCode = ++countByCode_[request.code];
    const uint32_t countOfAll = ++countAll_;
    if (AnyMatches(profile_.faults.refuse, request.code, countOfCode, countOfAll)) {
      request.refused = true;
      if (keepPayloads_) request.payload.assign(payload.begin(), payload.end());
      Record(std::move(request));
      return 0;
    }
    Bytes answer;
    bool answered;
    if (AnyMatches(profile_.faults.drop, request.code, countOfCode, countOfAll) &&
        (request.code == kCmdMemoryWrite || request.code == kCmdMemoryErase)) {
      // Taken and acknowledged as usual, but lost before the flash: a write changes nothing,
      // an erase is answered without erasing.
      request.dropped = true;
      answered = request.code == kCmdMemoryErase && payload.size() >= 7;
      if (answered) AppendMemoryHead(answer, Le32(&payload[1]), Le16(&payload[5]));
    } else {
      answered = Answer(request.code, payload, answer);
    }
    if (answered && !AnyMatches(profile_.faults.noAnswer, request.code, countOfCode, countOfAll)) {
      Queue(request.code, answer, countOfCode, countOfAll);
      request.answered = true;
    }
    if (keepPayloads_) request.payload.assign(payload.begin(), payload.end());
    Record(std::move(request));
  }
  lock.unlock();
  answerReady_.notify_all();
  return bytes.size();
}

bool SimulatedRadio::Answer(uint16_t code, ByteView p, Bytes& out) {
  auto field = [&](size_t at, size_t width) -> uint32_t {
    if (p.size() < at + width) return 0;
    return width == 1 ? p[at] : width == 2 ? Le16(&p[at]) : Le32(&p[at]);
  };
  const uint8_t selector = uint8_t(field(0, 1));
  const uint32_t address = field(1, 4);
  const uint16_t length = uint16_t(field(5, 2));
  switch (code) {
    case kCmdBootloaderVersion: {
      for (char c : profile_.bootloader)
        if (c != '.') out.push_back(uint8_t(c));
      return true;
    }
    case kCmdRadioState:
      out = {0, uint8_t(p.empty() ? 0 : p[0]), uint8_t(profile_.radioState)};
      return true;
    case kCmdMemoryRead: {
      if (p.size() < 7) return Problem("memory read with a payload shorter than 7 bytes"), false;
      SimFlash* flash = Side(selector, "memory read");
      if (!flash) return false;
      if (length > kMaxReadLength) {
        Problem(Format("memory read of %u bytes, more than one answer carries", unsigned(length)));
        return false;
      }
      out.reserve(8 + length);
      AppendMemoryHead(out, address, length);
      if (!flash->Read(address, length, out)) {
        Problem(Format("memory read at 0x%06X beyond the flash", address));
        return false;
      }
      return true;
    }
    case kCmdMemoryWrite: {
      if (p.size() < 7) return Problem("memory write with a payload shorter than 7 bytes"), false;
      SimFlash* flash = Side(selector, "memory write");
      if (!flash) return false;
      ByteView data = p.subspan(7);
      if (data.size() != length) {
        Problem(Format("memory write at 0x%06X announces %u bytes and carries %zu", address, unsigned(length),
                       data.size()));
        data = data.first(std::min<size_t>(data.size(), length));
      }
      flash->Program(address, data);
      return false;  // writes are never answered
    }
    case kCmdMemoryErase: {
      if (p.size() < 7) return Problem("memory erase with a payload shorter than 7 bytes"), false;
      SimFlash* flash = Side(selector, "memory erase");
      if (!flash || !flash->Erase(address, length)) return false;
      if (profile_.eraseBytesPerSecond) {
        answerDelayNs_ = int64_t(double(length) * double(kEraseUnit) * 1e9 / double(profile_.eraseBytesPerSecond));
        eraseNanoseconds_ += answerDelayNs_;
      }
      AppendMemoryHead(out, address, length);
      return true;
    }
    default:
      if (profile_.genericCodes.count(code)) {
        out = {0, 0};
        return true;
      }
      Problem(Format("unknown command 0x%04X", unsigned(code)));
      return false;
  }
}

void SimulatedRadio::Queue(uint16_t code, ByteView payload, uint32_t countOfCode, uint32_t countOfAll) {
  Pending pending;
  pending.bytes = EncodeLinkFrame(code, payload);
  pending.readyAt = std::chrono::steady_clock::now() + std::chrono::nanoseconds(std::exchange(answerDelayNs_, 0));
  const SimFaults& faults = profile_.faults;
  if (AnyMatches(faults.garble, code, countOfCode, countOfAll)) pending.bytes[pending.bytes.size() - 3] ^= 0x5A;
  if (AnyMatches(faults.shortAnswer, code, countOfCode, countOfAll))
    pending.bytes.resize(std::max<size_t>(2, pending.bytes.size() / 2));
  int delayMs = 0;
  if (AnyMatches(faults.delay, code, countOfCode, countOfAll, &delayMs))
    pending.readyAt += std::chrono::milliseconds(delayMs);
  outbox_.push_back(std::move(pending));
}

size_t SimulatedRadio::ReadAnswer(uint8_t* buffer, size_t n, int timeoutMs) {
  if (n == 0) return 0;
  std::unique_lock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    if (unplugged_) return 0;
    const auto now = std::chrono::steady_clock::now();
    auto nextBabble = deadline;
    if (const size_t babble = BabbleDue(now, n, &nextBabble); babble > 0) {
      // Two bytes that read as a length the host accepts (10,240), so that it goes on to wait
      // for a body that never makes a frame.
      for (size_t i = 0; i < babble; ++i) buffer[i] = (babbled_ + i) % 2 == 0 ? 0x00 : 0x28;
      babbled_ += babble;
      return babble;
    }
    if (!outbox_.empty() && outbox_.front().readyAt <= now) {
      BusyCount count(countBusy_, busyNanoseconds_);  // the hand-over, not the wait before it
      Pending& front = outbox_.front();
      const size_t take = std::min(n, front.bytes.size() - front.taken);
      std::memcpy(buffer, front.bytes.data() + front.taken, take);
      front.taken += take;
      if (front.taken == front.bytes.size()) outbox_.pop_front();
      return take;
    }
    if (now >= deadline) return 0;
    auto until = std::min(deadline, nextBabble);
    if (!outbox_.empty()) until = std::min(until, outbox_.front().readyAt);
    answerReady_.wait_until(lock, until);
  }
}

size_t SimulatedRadio::BabbleDue(std::chrono::steady_clock::time_point now, size_t n,
                                 std::chrono::steady_clock::time_point* next) const {
  const uint64_t rate = profile_.faults.babbleBytesPerSecond;
  if (rate == 0) return 0;
  const double seconds = std::chrono::duration<double>(now - pluggedAt_).count();
  const uint64_t owed = uint64_t(seconds * double(rate));
  if (owed > babbled_) return size_t(std::min<uint64_t>(owed - babbled_, n));
  *next = pluggedAt_ + std::chrono::nanoseconds(int64_t(double(babbled_ + 1) * 1e9 / double(rate)));
  return 0;
}

bool SimulatedRadio::HasAnswer() const {
  std::lock_guard lock(mutex_);
  return !outbox_.empty();
}

bool SimulatedRadio::Unplugged() const {
  std::lock_guard lock(mutex_);
  return unplugged_;
}

void SimulatedRadio::Unplug() {
  {
    std::lock_guard lock(mutex_);
    unplugged_ = true;
    outbox_.clear();
  }
  answerReady_.notify_all();
}

void SimulatedRadio::Replug() {
  std::lock_guard lock(mutex_);
  unplugged_ = false;
  pluggedAt_ = std::chrono::steady_clock::now();
  babbled_ = 0;
  // A radio plugged in again starts afresh, and the unplug fault has had its turn.
  countAll_ = 0;
  countByCode_.clear();
  profile_.faults.unplugAfter = 0;
}

void SimulatedRadio::SetUnplugListener(std::function<void()> listener) {
  std::lock_guard lock(mutex_);
  unplugListener_ = std::move(listener);
}

std::vector<SimRequest> SimulatedRadio::Requests() const {
  std::lock_guard lock(mutex_);
  return std::vector<SimRequest>(log_.begin(), log_.end());
}

std::vector<SimRequest> SimulatedRadio::Requests(uint16_t code) const {
  std::lock_guard lock(mutex_);
  std::vector<SimRequest> out;
  for (const SimRequest& r : log_)
    if (r.code == code && r.fault == FrameFault::None) out.push_back(r);
  return out;
}

size_t SimulatedRadio::RequestCount() const {
  std::lock_guard lock(mutex_);
  return log_.size();
}

void SimulatedRadio::ClearRequests() {
  std::lock_guard lock(mutex_);
  log_.clear();
  problems_.clear();
}

void SimulatedRadio::Record(SimRequest request) {
  if (keepRequests_) log_.push_back(std::move(request));
}

void SimulatedRadio::SetKeepRequests(bool keep) {
  std::lock_guard lock(mutex_);
  keepRequests_ = keep;
}

void SimulatedRadio::SetKeepPayloads(bool keep) {
  std::lock_guard lock(mutex_);
  keepPayloads_ = keep;
}

std::vector<std::string> SimulatedRadio::ProtocolErrors() const {
  std::lock_guard lock(mutex_);
  return problems_;
}

std::vector<FlashError> SimulatedRadio::FlashErrors() const {
  std::lock_guard lock(mutex_);
  std::vector<FlashError> all = main_.Errors();
  all.insert(all.end(), receive_->Errors().begin(), receive_->Errors().end());
  return all;
}

}  // namespace lw::sim
