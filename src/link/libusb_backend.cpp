#include "link/libusb_backend.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>

#include "common/bytes.h"
#include "common/text.h"

namespace lw {

struct LibusbHotplugThunk {
  static int LIBUSB_CALL Event(libusb_context*, libusb_device* device, libusb_hotplug_event, void* user) {
    // Only the descriptor may be looked at from inside libusb's callback: note the event; the
    // watcher thread tells the receiver once the callback has returned.
    auto* backend = static_cast<LibusbBackend*>(user);
    if (backend->Matches(device, UsbDeviceClass::Primary) || backend->Matches(device, UsbDeviceClass::Fallback))
      backend->pending_ = true;
    return 0;
  }
};

namespace {

// Big enough for any answer (10,242 bytes) and a multiple of every bulk packet size, so that a
// transfer never overflows; what a read does not take is kept for the next one.
constexpr int kInTransferSize = 16384;

// The serial string as sysfs has it, which needs no access to the device itself (the radio
// may belong to another user, or be open already).
std::string SysfsSerial(uint8_t bus, const uint8_t* ports, int count) {
  std::string name = std::to_string(bus) + "-";
  for (int i = 0; i < count; ++i) name += (i ? "." : "") + std::to_string(ports[i]);
  std::ifstream in("/sys/bus/usb/devices/" + name + "/serial");
  std::string serial;
  if (!in || !std::getline(in, serial)) return "";
  return Trim(serial);
}

// Keeps a path usable as a value in ports.ini and as a file-name-like token.
std::string CleanSerial(const std::string& serial) {
  std::string out;
  for (char c : serial) {
    const bool safe = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
                      c == '_' || c == '.';
    out += safe ? c : '_';
  }
  return out.substr(0, 64);
}

class LibusbPipes : public UsbPipes {
 public:
  LibusbPipes(libusb_device_handle* handle, int interface, uint8_t in, uint8_t out, int writeTimeoutMs)
      : handle_(handle), interface_(interface), in_(in), out_(out), writeTimeoutMs_(writeTimeoutMs) {
    rx_.resize(kInTransferSize);
  }
  ~LibusbPipes() override {
    libusb_release_interface(handle_, interface_);
    libusb_close(handle_);
  }

  size_t Read(uint8_t* buffer, size_t n, int timeoutMs) override {
    if (n == 0) return 0;
    if (rxBegin_ == rxEnd_) {
      if (gone_) return 0;
      int got = 0;
      // libusb reads 0 as "wait forever"; a read here always gives up.
      int rc = libusb_bulk_transfer(handle_, in_, rx_.data(), kInTransferSize, &got, std::max(timeoutMs, 1));
      if (rc == LIBUSB_ERROR_NO_DEVICE) gone_ = true;
      if ((rc != 0 && rc != LIBUSB_ERROR_TIMEOUT) || got <= 0) return 0;
      rxBegin_ = 0;
      rxEnd_ = size_t(got);
    }
    const size_t take = std::min(n, rxEnd_ - rxBegin_);
    std::memcpy(buffer, rx_.data() + rxBegin_, take);
    rxBegin_ += take;
    return take;
  }

  size_t Write(const uint8_t* buffer, size_t n) override {
    if (n == 0 || gone_ || n > size_t(INT32_MAX)) return 0;
    int sent = 0;
    int rc = libusb_bulk_transfer(handle_, out_, const_cast<uint8_t*>(buffer), int(n), &sent, writeTimeoutMs_);
    if (rc == LIBUSB_ERROR_NO_DEVICE) gone_ = true;
    return rc == 0 ? size_t(sent) : 0;
  }

 private:
  libusb_device_handle* handle_;
  int interface_;
  uint8_t in_, out_;
  int writeTimeoutMs_;
  Bytes rx_;
  size_t rxBegin_ = 0, rxEnd_ = 0;
  bool gone_ = false;
};

struct BulkInterface {
  int number = -1;
  uint8_t in = 0, out = 0;
};

BulkInterface FindBulkInterface(libusb_device* device) {
  BulkInterface found;
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != 0 &&
      libusb_get_config_descriptor(device, 0, &config) != 0)
    return found;
  for (int i = 0; i < config->bNumInterfaces && found.number < 0; ++i) {
    const libusb_interface& interface = config->interface[i];
    for (int a = 0; a < interface.num_altsetting && found.number < 0; ++a) {
      const libusb_interface_descriptor& alt = interface.altsetting[a];
      uint8_t in = 0, out = 0;
      for (int e = 0; e < alt.bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor& ep = alt.endpoint[e];
        if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
        if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
          if (!in) in = ep.bEndpointAddress;
        } else if (!out) {
          out = ep.bEndpointAddress;
        }
      }
      if (in && out) found = {alt.bInterfaceNumber, in, out};
    }
  }
  libusb_free_config_descriptor(config);
  return found;
}

}  // namespace

Result<std::unique_ptr<LibusbBackend>> LibusbBackend::Create(const LibusbOptions& options) {
  libusb_context* context = nullptr;
  int rc = libusb_init(&context);
  if (rc != 0) return Status::Error(Format("cannot initialise USB access: %s", libusb_error_name(rc)));
  return std::unique_ptr<LibusbBackend>(new LibusbBackend(context, options));
}

LibusbBackend::LibusbBackend(libusb_context* context, const LibusbOptions& options)
    : context_(context), options_(options) {}

LibusbBackend::~LibusbBackend() {
  StopWatching();
  libusb_exit(context_);
}

bool LibusbBackend::Matches(libusb_device* device, UsbDeviceClass cls) const {
  libusb_device_descriptor descriptor{};
  if (libusb_get_device_descriptor(device, &descriptor) != 0) return false;
  const auto& ids = cls == UsbDeviceClass::Primary ? options_.ids.primary : options_.ids.fallback;
  const UsbId id{descriptor.idVendor, descriptor.idProduct};
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::string LibusbBackend::PathOf(libusb_device* device) const {
  const uint8_t bus = libusb_get_bus_number(device);
  uint8_t ports[8];
  const int count = libusb_get_port_numbers(device, ports, int(sizeof ports));
  std::string path = Format("usb:%u-", unsigned(bus));
  if (count > 0) {
    for (int i = 0; i < count; ++i) path += (i ? "." : "") + std::to_string(ports[i]);
  } else {
    // No port chain known: the address on the bus is the best name there is.
    path += Format("a%u", unsigned(libusb_get_device_address(device)));
  }
  std::string serial = count > 0 ? SysfsSerial(bus, ports, count) : "";
  if (!serial.empty()) path += ":" + CleanSerial(serial);
  return path;
}

std::optional<std::vector<std::string>> LibusbBackend::Enumerate(UsbDeviceClass cls) {
  libusb_device** list = nullptr;
  ssize_t count = libusb_get_device_list(context_, &list);
  if (count < 0) return std::nullopt;
  std::vector<std::string> paths;
  for (ssize_t i = 0; i < count; ++i)
    if (Matches(list[i], cls)) paths.push_back(PathOf(list[i]));
  libusb_free_device_list(list, 1);
  return paths;
}

std::unique_ptr<UsbPipes> LibusbBackend::Open(const std::string& path) {
  UsbOpenFailure failure;
  return OpenExplained(path, failure);
}

std::unique_ptr<UsbPipes> LibusbBackend::OpenExplained(const std::string& path, UsbOpenFailure& failure) {
  failure = {};
  libusb_device** list = nullptr;
  ssize_t count = libusb_get_device_list(context_, &list);
  if (count < 0) {
    failure.detail = Format("cannot list USB devices: %s", libusb_error_name(int(count)));
    return nullptr;
  }
  std::unique_ptr<UsbPipes> pipes;
  bool found = false;
  for (ssize_t i = 0; i < count && !found; ++i) {
    libusb_device* device = list[i];
    if (!Matches(device, UsbDeviceClass::Primary) && !Matches(device, UsbDeviceClass::Fallback)) continue;
    if (PathOf(device) != path) continue;
    found = true;
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(device, &descriptor);
    auto fail = [&](int rc) {
      failure.accessDenied = rc == LIBUSB_ERROR_ACCESS;
      failure.detail = Format("%s (%04x:%04x): %s", path.c_str(), descriptor.idVendor, descriptor.idProduct,
                              rc ? libusb_error_name(rc) : "no interface with a bulk IN and a bulk OUT endpoint");
    };
    BulkInterface bulk = FindBulkInterface(device);
    if (bulk.number < 0) {
      fail(0);
      break;
    }
    libusb_device_handle* handle = nullptr;
    if (int rc = libusb_open(device, &handle); rc != 0) {
      fail(rc);
      break;
    }
    libusb_set_auto_detach_kernel_driver(handle, 1);
    if (int rc = libusb_claim_interface(handle, bulk.number); rc != 0) {
      fail(rc);
      libusb_close(handle);
      break;
    }
    pipes = std::make_unique<LibusbPipes>(handle, bulk.number, bulk.in, bulk.out, options_.writeTimeoutMs);
  }
  libusb_free_device_list(list, 1);
  if (!found) failure.detail = path + ": no such radio is attached";
  return pipes;
}

std::optional<UsbDeviceDetails> LibusbBackend::Describe(const std::string& path) {
  libusb_device** list = nullptr;
  ssize_t count = libusb_get_device_list(context_, &list);
  if (count < 0) return std::nullopt;
  std::optional<UsbDeviceDetails> details;
  for (ssize_t i = 0; i < count && !details; ++i) {
    libusb_device* device = list[i];
    if (!Matches(device, UsbDeviceClass::Primary) && !Matches(device, UsbDeviceClass::Fallback)) continue;
    if (PathOf(device) != path) continue;
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(device, &descriptor);
    details = UsbDeviceDetails{};
    details->vendor = descriptor.idVendor;
    details->product = descriptor.idProduct;
    uint8_t ports[8];
    const int depth = libusb_get_port_numbers(device, ports, int(sizeof ports));
    if (depth > 0) details->serial = SysfsSerial(libusb_get_bus_number(device), ports, depth);
  }
  libusb_free_device_list(list, 1);
  if (!details) return std::nullopt;
  // Opening is the only honest answer to "may this user open it": permissions, ACLs from the
  // seat (uaccess) and security modules all have their say.
  details->openable = OpenExplained(path, details->failure) != nullptr;
  return details;
}

void LibusbBackend::SetHotplugCallback(std::function<void()> callback) {
  StopWatching();
  {
    MutexLock lock(callbackMutex_);
    callback_ = std::move(callback);
    if (!callback_) return;
  }
  StartWatching();
}

void LibusbBackend::StartWatching() {
  stop_ = false;
  pending_ = false;
  if (!options_.forcePolling && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
    libusb_hotplug_callback_handle handle = 0;
    int rc = libusb_hotplug_register_callback(
        context_, libusb_hotplug_event(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        libusb_hotplug_flag(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        &LibusbHotplugThunk::Event, this, &handle);
    if (rc == LIBUSB_SUCCESS) hotplugHandle_ = handle;
  }
  watcher_ = std::thread([this] { WatchLoop(); });
}

void LibusbBackend::StopWatching() {
  if (!watcher_.joinable()) return;
  stop_ = true;
  if (hotplugHandle_) {
    // Deregistering also wakes the event handling of the watcher.
    libusb_hotplug_deregister_callback(context_, hotplugHandle_);
    hotplugHandle_ = 0;
  }
  watcher_.join();
}

std::vector<std::string> LibusbBackend::PresentPaths() {
  std::vector<std::string> paths;
  for (auto cls : {UsbDeviceClass::Primary, UsbDeviceClass::Fallback})
    if (auto found = Enumerate(cls)) paths.insert(paths.end(), found->begin(), found->end());
  std::sort(paths.begin(), paths.end());
  return paths;
}

void LibusbBackend::Notify() {
  std::function<void()> callback;
  {
    MutexLock lock(callbackMutex_);
    callback = callback_;
  }
  if (callback) callback();
}

void LibusbBackend::WatchLoop() {
  if (hotplugHandle_) {
    while (!stop_) {
      timeval tv{0, 200 * 1000};
      libusb_handle_events_timeout_completed(context_, &tv, nullptr);
      // Any device coming or going may be a radio of either class; the receiver rescans.
      if (pending_.exchange(false)) Notify();
    }
    return;
  }
  std::vector<std::string> last = PresentPaths();
  auto next = std::chrono::steady_clock::now();
  while (!stop_) {
    next += std::chrono::milliseconds(options_.pollIntervalMs);
    while (!stop_ && std::chrono::steady_clock::now() < next)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (stop_) break;
    std::vector<std::string> now = PresentPaths();
    if (now != last) {
      last = std::move(now);
      Notify();
    }
  }
}

}  // namespace lw
