// The seam between the transport and whatever reaches the radios: real USB through libusb, or
// simulated radios inside this process. The transport above it needs only what is listed here:
// an enumeration that yields a stable path per attached radio of a device class, a way to open
// that radio's bulk IN and bulk OUT pipes, a read that returns at most the requested bytes and
// gives up after a time-out, a blocking write, and a signal when radios come or go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lw {

// The two classes a radio may show itself as. The fallback class is looked at only when the
// primary class yields no radio.
enum class UsbDeviceClass { Primary, Fallback };

// The pipes of one opened radio. Closing is destruction.
class UsbPipes {
 public:
  virtual ~UsbPipes() = default;
  // Reads up to `n` bytes from the bulk IN pipe, waiting at most `timeoutMs` for the first of
  // them. Returns the number of bytes read: 0 on time-out, on error (for example a radio that
  // was unplugged) or when n is 0. Bytes the radio sent beyond `n` are kept for the next read.
  virtual size_t Read(uint8_t* buffer, size_t n, int timeoutMs) = 0;
  // Writes `n` bytes to the bulk OUT pipe and returns the number written (0 on error).
  virtual size_t Write(const uint8_t* buffer, size_t n) = 0;
};

// Why a radio could not be opened. A refusal by the system (the device node belongs to
// another user or group) has a remedy the operator must be told about; everything else is
// reported as a failed open, as before.
struct UsbOpenFailure {
  bool accessDenied = false;
  std::string detail;  // e.g. "usb:1-2 (1209:0001): LIBUSB_ERROR_ACCESS"; may be empty
};

// What the port list shows about one present radio beyond its path.
struct UsbDeviceDetails {
  uint16_t vendor = 0, product = 0;
  std::string serial;  // empty when the device has none
  bool openable = false;
  UsbOpenFailure failure;  // why it cannot be opened (openable false)
};

class UsbBackend {
 public:
  virtual ~UsbBackend() = default;

  // The paths of the radios of one class that are present now, in enumeration order. nullopt
  // when the set of devices cannot be obtained at all (as opposed to an empty set).
  virtual std::optional<std::vector<std::string>> Enumerate(UsbDeviceClass cls) = 0;

  // Opens the radio at `path` (of either class). nullptr when it is absent or cannot be opened.
  virtual std::unique_ptr<UsbPipes> Open(const std::string& path) = 0;
  // The same, saying why it failed in `failure` when the backend can tell.
  virtual std::unique_ptr<UsbPipes> OpenExplained(const std::string& path, UsbOpenFailure& failure) {
    failure = {};
    return Open(path);
  }

  // Vendor:product, serial and whether this user may open the radio at `path`; nullopt when
  // the backend has nothing to add to the path (simulated radios) or the radio is gone. It
  // opens and closes the radio, so never call it for the radio an operation holds.
  virtual std::optional<UsbDeviceDetails> Describe(const std::string& path) { return std::nullopt; }

  // Called after a radio of either class arrived or left. It may run on a thread of the
  // backend; the receiver hands the event to its user-interface thread, which refreshes the
  // port list. An empty function stops the notifications.
  virtual void SetHotplugCallback(std::function<void()> callback) = 0;
};

}  // namespace lw
