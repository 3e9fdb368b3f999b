// Small fixtures of the link tests: a transport wired to simulated radios with short pipe
// time-outs, and a temporary folder.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>

#include "link/port_store.h"
#include "link/usb_transport.h"
#include "sim/simulated_backend.h"

namespace lw::test {

// Pipe reads give up after 20 ms, so that a silent radio costs the tests little.
inline LinkOptions FastLinkOptions() {
  LinkOptions options;
  options.readTimeoutMs = 20;
  return options;
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/lw_link_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// One simulated radio attached, scanned and opened as port 1.
struct SimLink {
  explicit SimLink(sim::SimProfile profile = sim::DefaultSimProfile(), LinkOptions options = FastLinkOptions())
      : transport(backend, &store, options) {
    radio = backend.Attach(std::move(profile));
    int classFlag = 0;
    transport.Scan(nullptr, classFlag);
    opened = transport.Open(1);
    transport.SetAnswerTimeout(300);
  }

  sim::SimulatedBackend backend;
  MemoryPortStore store;
  UsbTransport transport;
  std::shared_ptr<sim::SimulatedRadio> radio;
  bool opened = false;
};

// A radio that says exactly the bytes a test queues, in the chunks it queues them, and records
// what it was sent: for answers no well-behaved radio gives.
class ScriptedBackend : public UsbBackend {
 public:
  struct State {
    std::deque<Bytes> chunks;
    std::vector<Bytes> written;
    // Once the chunks are used up: this pattern, repeated to fill every read, while `endless`
    // is set (a radio that never stops talking). Set before the exchange; only `endless` may
    // change while one runs.
    Bytes pattern;
    std::atomic<bool> endless{false};
    size_t patternAt = 0;
  };
  class Pipes : public UsbPipes {
   public:
    explicit Pipes(State& s) : s_(s) {}
    size_t Read(uint8_t* buffer, size_t n, int) override {
      if (n == 0) return 0;
      if (s_.chunks.empty()) {
        if (!s_.endless || s_.pattern.empty()) return 0;
        for (size_t i = 0; i < n; ++i) buffer[i] = s_.pattern[s_.patternAt++ % s_.pattern.size()];
        return n;
      }
      Bytes& front = s_.chunks.front();
      size_t take = std::min(n, front.size());
      std::copy(front.begin(), front.begin() + take, buffer);
      front.erase(front.begin(), front.begin() + take);
      if (front.empty()) s_.chunks.pop_front();
      return take;
    }
    size_t Write(const uint8_t* buffer, size_t n) override {
      s_.written.emplace_back(buffer, buffer + n);
      return n;
    }

   private:
    State& s_;
  };

  std::optional<std::vector<std::string>> Enumerate(UsbDeviceClass cls) override {
    if (cls == UsbDeviceClass::Primary) return std::vector<std::string>{"scripted"};
    return std::vector<std::string>{};
  }
  std::unique_ptr<UsbPipes> Open(const std::string&) override { return std::make_unique<Pipes>(state); }
  void SetHotplugCallback(std::function<void()>) override {}

  State state;
};

struct ScriptedLink {
  explicit ScriptedLink(LinkOptions options = FastLinkOptions()) : transport(backend, nullptr, options) {
    int classFlag = 0;
    transport.Scan(nullptr, classFlag);
    opened = transport.Open(1);
    transport.SetAnswerTimeout(100);
  }
  void Say(Bytes bytes) { backend.state.chunks.push_back(std::move(bytes)); }
  ScriptedBackend backend;
  UsbTransport transport;
  bool opened = false;
};

}  // namespace lw::test
