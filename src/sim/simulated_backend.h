// The backend of simulated radios: radios live in this process and can be attached and
// detached at run time, so hot-plug can be tested and shown without hardware.
//
// The link between host and radio is modelled by the radio's profile: with bytes_per_second 0
// (the default) bytes move as fast as the host can move them; otherwise each request costs the
// profile's latency and every byte its share of the rate, kept on a running clock so that
// sleeping in small steps does not add up to a slower link than asked for.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/usb_backend.h"
#include "sim/simulated_radio.h"

namespace lw::sim {

class SimulatedBackend : public UsbBackend {
 public:
  SimulatedBackend() = default;
  ~SimulatedBackend() override;

  // Plugs a radio in (its path must be unique); the hot-plug callback runs.
  std::shared_ptr<SimulatedRadio> Attach(SimProfile profile);
  void Attach(std::shared_ptr<SimulatedRadio> radio);
  // Pulls the radio with this path out: open pipes to it fail from now on; the hot-plug
  // callback runs. False when no such radio is attached.
  bool Detach(const std::string& path);
  // The attached radio with this path (also one that pulled itself out by a fault), or null.
  std::shared_ptr<SimulatedRadio> Radio(const std::string& path) const;
  std::vector<std::shared_ptr<SimulatedRadio>> Radios() const;
  // While set, the device list cannot be had at all (Enumerate gives nullopt), as when the
  // system's USB list cannot be read.
  void SetEnumerationFails(bool fails);

  std::optional<std::vector<std::string>> Enumerate(UsbDeviceClass cls) override;
  std::unique_ptr<UsbPipes> Open(const std::string& path) override;
  // Runs on the thread that attached or detached the radio (or on the thread whose request
  // made a radio pull itself out).
  void SetHotplugCallback(std::function<void()> callback) override;

 private:
  void Notify();

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<SimulatedRadio>> radios_;
  std::function<void()> callback_;
  bool enumerationFails_ = false;
};

}  // namespace lw::sim
