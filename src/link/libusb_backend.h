// The real USB backend, over libusb.
//
// A radio is a USB device whose vendor:product pair is in the list of its class (UsbIdConfig).
// Its path is "usb:BUS-PORT.PORT..." from the bus number and the chain of hub ports, plus
// ":SERIAL" when the device has a serial string, so that a radio keeps its path (and therefore
// its port number) for as long as it stays in the same socket. Opening claims the first
// interface that has a bulk IN and a bulk OUT endpoint; reads use libusb's time-out.
//
// Hot-plug: libusb's hot-plug callbacks where the platform has them, else a rescan every
// second that compares the present paths; either calls the callback set with
// SetHotplugCallback from a thread of this backend.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include <string>
#include <thread>
#include <vector>
#include "common/status.h"
#include "common/thread_annotations.h"

#include "link/usb_backend.h"
#include "link/usb_ids.h"

struct libusb_context;
struct libusb_device;

namespace lw {

struct LibusbOptions {
  UsbIdConfig ids = DefaultUsbIds();
  int writeTimeoutMs = 5000;
  int pollIntervalMs = 1000;
  // Rescan periodically even where libusb offers hot-plug callbacks.
  bool forcePolling = false;
};

class LibusbBackend : public UsbBackend {
 public:
  // An error when libusb cannot be initialised.
  static Result<std::unique_ptr<LibusbBackend>> Create(const LibusbOptions& options);
  ~LibusbBackend() override;

  std::optional<std::vector<std::string>> Enumerate(UsbDeviceClass cls) override;
  std::unique_ptr<UsbPipes> Open(const std::string& path) override;
  std::unique_ptr<UsbPipes> OpenExplained(const std::string& path, UsbOpenFailure& failure) override;
  std::optional<UsbDeviceDetails> Describe(const std::string& path) override;
  void SetHotplugCallback(std::function<void()> callback) override;

  // True when arrivals and removals come from libusb's callbacks rather than from rescans.
  bool UsesHotplugCallbacks() const { return hotplugHandle_ != 0; }

 private:
  LibusbBackend(libusb_context* context, const LibusbOptions& options);
  bool Matches(libusb_device* device, UsbDeviceClass cls) const;
  std::string PathOf(libusb_device* device) const;
  void StartWatching();
  void StopWatching();
  void WatchLoop();
  std::vector<std::string> PresentPaths();
  void Notify();

  libusb_context* context_;
  LibusbOptions options_;

  Mutex callbackMutex_;
  std::function<void()> callback_ LW_GUARDED_BY(callbackMutex_);
  std::thread watcher_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> pending_{false};
  int hotplugHandle_ = 0;

  friend struct LibusbHotplugThunk;
};

}  // namespace lw
