#include "sim/simulated_backend.h"

#include <time.h>

#include <chrono>
#include <thread>

namespace lw::sim {

namespace {

using Clock = std::chrono::steady_clock;

// The link's running clock: each transfer is booked after the previous one; the caller sleeps
// only when the booked time is well ahead of the real one, and a sleep that overshoots is made
// good by the transfers after it.
class LinkPacer {
 public:
  LinkPacer(SimulatedRadio& radio, uint64_t bytesPerSecond, int latencyUs)
      : radio_(radio), rate_(bytesPerSecond), latencyUs_(latencyUs) {}

  void Transfer(size_t bytes, bool request) {
    if (rate_ == 0 && (latencyUs_ == 0 || !request)) return;
    int64_t ns = rate_ ? int64_t(double(bytes) * 1e9 / double(rate_)) : 0;
    if (request) ns += int64_t(latencyUs_) * 1000;
    // The clock is read once a millisecond of link time has been booked, not for every
    // transfer: sleeps come in stretches of milliseconds anyway, and each reading costs the
    // caller time that is not the link's.
    unread_ += std::chrono::nanoseconds(ns);
    if (unread_ < std::chrono::milliseconds(1)) {
      booked_ += std::chrono::nanoseconds(ns);
      return;
    }
    unread_ = {};
    const auto now = Clock::now();
    // A link idle for a while starts afresh; a sleep that overshot (a busy machine) does not
    // count as idle, so its lateness is made good by the transfers after it.
    if (now - booked_ > std::chrono::milliseconds(50)) booked_ = now;
    booked_ += std::chrono::nanoseconds(ns);
    // Every sleep costs the caller's thread processor time of its own: sleep seldom, in
    // stretches of a few milliseconds, and book that time to the simulated radio (the link is
    // part of the simulation, not of the program that drives it).
    if (booked_ - now > std::chrono::milliseconds(4)) {
      const auto before = ThreadCpuTime();
      std::this_thread::sleep_until(booked_);
      radio_.AddBusy(ThreadCpuTime() - before);
    }
  }

 private:
  static std::chrono::nanoseconds ThreadCpuTime() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
  }

  SimulatedRadio& radio_;
  uint64_t rate_;
  int latencyUs_;
  Clock::time_point booked_{};
  std::chrono::nanoseconds unread_{};  // booked since the clock was last read
};

class SimulatedPipes : public UsbPipes {
 public:
  explicit SimulatedPipes(std::shared_ptr<SimulatedRadio> radio)
      : radio_(std::move(radio)), pacer_(*radio_, radio_->profile().bytesPerSecond, radio_->profile().latencyUs) {}

  size_t Read(uint8_t* buffer, size_t n, int timeoutMs) override {
    if (n == 0) return 0;
    size_t got = radio_->ReadAnswer(buffer, n, timeoutMs);
    if (got) pacer_.Transfer(got, false);
    return got;
  }

  size_t Write(const uint8_t* buffer, size_t n) override {
    if (n == 0) return 0;
    pacer_.Transfer(n, true);
    return radio_->AcceptWrite(ByteView(buffer, n));
  }

 private:
  std::shared_ptr<SimulatedRadio> radio_;
  LinkPacer pacer_;
};

}  // namespace

SimulatedBackend::~SimulatedBackend() {
  for (auto& radio : radios_) radio->SetUnplugListener(nullptr);
}

std::shared_ptr<SimulatedRadio> SimulatedBackend::Attach(SimProfile profile) {
  auto radio = std::make_shared<SimulatedRadio>(std::move(profile));
  Attach(radio);
  return radio;
}

void SimulatedBackend::Attach(std::shared_ptr<SimulatedRadio> radio) {
  if (radio->Unplugged()) radio->Replug();
  radio->SetUnplugListener([this] { Notify(); });
  {
    std::lock_guard lock(mutex_);
    std::erase_if(radios_, [&](const auto& r) { return r->path() == radio->path(); });
    radios_.push_back(std::move(radio));
  }
  Notify();
}

bool SimulatedBackend::Detach(const std::string& path) {
  std::shared_ptr<SimulatedRadio> radio;
  {
    std::lock_guard lock(mutex_);
    for (auto it = radios_.begin(); it != radios_.end(); ++it) {
      if ((*it)->path() == path) {
        radio = *it;
        radios_.erase(it);
        break;
      }
    }
  }
  if (!radio) return false;
  radio->SetUnplugListener(nullptr);
  radio->Unplug();
  Notify();
  return true;
}

std::shared_ptr<SimulatedRadio> SimulatedBackend::Radio(const std::string& path) const {
  std::lock_guard lock(mutex_);
  for (const auto& radio : radios_)
    if (radio->path() == path) return radio;
  return nullptr;
}

std::vector<std::shared_ptr<SimulatedRadio>> SimulatedBackend::Radios() const {
  std::lock_guard lock(mutex_);
  return radios_;
}

void SimulatedBackend::SetEnumerationFails(bool fails) {
  std::lock_guard lock(mutex_);
  enumerationFails_ = fails;
}

std::optional<std::vector<std::string>> SimulatedBackend::Enumerate(UsbDeviceClass cls) {
  std::lock_guard lock(mutex_);
  if (enumerationFails_) return std::nullopt;
  std::vector<std::string> paths;
  for (const auto& radio : radios_)
    if (radio->profile().usbClass == cls && !radio->Unplugged()) paths.push_back(radio->path());
  return paths;
}

std::unique_ptr<UsbPipes> SimulatedBackend::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (const auto& radio : radios_)
    if (radio->path() == path && !radio->Unplugged()) return std::make_unique<SimulatedPipes>(radio);
  return nullptr;
}

void SimulatedBackend::SetHotplugCallback(std::function<void()> callback) {
  std::lock_guard lock(mutex_);
  callback_ = std::move(callback);
}

void SimulatedBackend::Notify() {
  std::function<void()> callback;
  {
    std::lock_guard lock(mutex_);
    callback = callback_;
  }
  if (callback) callback();
}

}  // namespace lw::sim
