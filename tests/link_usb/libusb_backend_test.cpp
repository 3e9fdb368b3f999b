// LibusbBackend against an emulated USB device: umockdev stands in for the kernel (sysfs and
// the usbfs device node) and hands every ioctl libusb makes to the handler below, whose bulk
// endpoints are served by a simulated radio. libusb itself runs unmodified.
//
// Run under umockdev-wrapper (it preloads the emulation); without it libusb sees no device and
// the tests are skipped.
#include <gtest/gtest.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>

#include "../patch/patch_test_support.h"
#include "../support/null_sink.h"
#include "common/text.h"
#include "config/settings.h"
#include "engine/connect_step.h"
#include "link/libusb_backend.h"
#include "link/link_frame.h"
#include "link/port_list.h"
#include "link/usb_access.h"
#include "link/usb_transport.h"
#include "link/xrcp.h"
#include "sim/simulated_radio.h"

namespace lw {
namespace {

using Clock = std::chrono::steady_clock;

// The emulated radio: one USB device in a umockdev testbed, its usbfs ioctls served from a
// simulated radio.
class EmulatedRadio {
 public:
  EmulatedRadio(UMockdevTestbed* testbed, std::string sysfsName, int devnum, UsbId id, const char* serial)
      : testbed_(testbed), sysfsName_(std::move(sysfsName)), devnum_(devnum) {
    radio = std::make_shared<sim::SimulatedRadio>(sim::DefaultSimProfile("emulated"));
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedRadio::OnIoctl), this);
    const std::string node = Format("/dev/bus/usb/001/%03d", devnum_);
    GError* error = nullptr;
    EXPECT_TRUE(umockdev_testbed_attach_ioctl(testbed_, node.c_str(), handler_, &error));
    if (error) g_error_free(error);

    const std::string device = Format(
        "P: /devices/pci0000:00/0000:00:14.0/usb1/%s\n"
        "N: bus/usb/001/%03d\n"
        "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
        "E: BUSNUM=001\nE: DEVNUM=%03d\nE: DEVNAME=%s\n"
        "A: idVendor=%04x\\n\nA: idProduct=%04x\\n\n"
        "A: busnum=1\\n\nA: devnum=%d\\n\nA: speed=480\\n\n"
        "A: bConfigurationValue=1\\n\nA: bNumConfigurations=1\\n\n"
        "%s"
        "H: descriptors=%s\n",
        sysfsName_.c_str(), devnum_, devnum_, node.c_str(), id.vendor, id.product, devnum_,
        serial ? Format("A: serial=%s\\n\n", serial).c_str() : "", DescriptorHex(id).c_str());
    EXPECT_TRUE(umockdev_testbed_add_from_string(testbed_, device.c_str(), &error));
    if (error) {
      ADD_FAILURE() << error->message;
      g_error_free(error);
    }
  }

  ~EmulatedRadio() {
    std::lock_guard lock(mutex_);
    for (auto* list : {&flying_, &done_, &discarded_})
      for (UMockdevIoctlData* urb : *list) umockdev_ioctl_data_unref(urb);
    umockdev_testbed_detach_ioctl(testbed_, Format("/dev/bus/usb/001/%03d", devnum_).c_str(), nullptr);
    g_object_unref(handler_);
  }

  // Pulls the device out: it leaves sysfs, and its open node fails every further transfer.
  void Unplug() {
    {
      std::lock_guard lock(mutex_);
      unplugged_ = true;
      for (UMockdevIoctlData* urb : flying_) {
        reinterpret_cast<usbdevfs_urb*>(urb->data)->status = -ESHUTDOWN;
        done_.push_back(urb);
      }
      flying_.clear();
    }
    const std::string syspath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + sysfsName_;
    umockdev_testbed_uevent(testbed_, syspath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, syspath.c_str());
  }

  // Takes this user's access to the device node away, as on a system without the udev rule.
  void DenyAccess() {
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    const std::string node = std::string(root) + Format("/dev/bus/usb/001/%03d", devnum_);
    g_free(root);
    EXPECT_EQ(::chmod(node.c_str(), 0), 0) << node;
  }

  std::shared_ptr<sim::SimulatedRadio> radio;

 private:
  // Device, configuration, one vendor-class interface with bulk IN 0x81 and bulk OUT 0x01
  // (512-byte packets); iSerialNumber 3.
  static std::string DescriptorHex(UsbId id) {
    return Format("1201000200000040%02x%02x%02x%02x000101020301", id.vendor & 0xFF, id.vendor >> 8,
                  id.product & 0xFF, id.product >> 8) +
           "0902200001010080320904000002ff00000007058102000200070501020002" "00";
  }

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<EmulatedRadio*>(self)->Handle(client);
  }

  // An IN transfer completes as soon as the radio has something to say.
  void CompleteReads() {
    while (!flying_.empty()) {
      auto* urb = reinterpret_cast<usbdevfs_urb*>(flying_.front()->data);
      size_t got = radio->ReadAnswer(static_cast<uint8_t*>(urb->buffer), size_t(urb->buffer_length), 0);
      if (got == 0) return;
      urb->actual_length = int(got);
      urb->status = 0;
      done_.push_back(flying_.front());
      flying_.pop_front();
    }
  }

  gboolean Handle(UMockdevIoctlClient* client) {
    std::lock_guard lock(mutex_);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
        *reinterpret_cast<guint32*>(caps->data) =
            USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        umockdev_ioctl_data_unref(caps);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_CLAIMINTERFACE:
      case USBDEVFS_RELEASEINTERFACE:
      case USBDEVFS_CLEAR_HALT:
      case USBDEVFS_RESETEP:
        umockdev_ioctl_client_complete(client, unplugged_ ? -1 : 0, unplugged_ ? ENODEV : 0);
        return TRUE;
      case USBDEVFS_GETDRIVER:
      case USBDEVFS_IOCTL:  // detaching a kernel driver: there is none
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return TRUE;
      case USBDEVFS_SUBMITURB: {
        if (unplugged_) {
          umockdev_ioctl_client_complete(client, -1, ENODEV);
          return TRUE;
        }
        UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        UMockdevIoctlData* buffer =
            umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer), gsize(urb->buffer_length), nullptr);
        if (urb->endpoint & 0x80) {
          flying_.push_back(urbData);
          CompleteReads();
        } else {
          size_t taken = radio->AcceptWrite(ByteView(buffer->data, size_t(urb->buffer_length)));
          urb->actual_length = int(taken);
          urb->status = taken ? 0 : -EPIPE;
          done_.push_back(urbData);
        }
        umockdev_ioctl_data_unref(buffer);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY: {
        if (!unplugged_) CompleteReads();
        std::deque<UMockdevIoctlData*>* from = !discarded_.empty() ? &discarded_ : !done_.empty() ? &done_ : nullptr;
        if (!from) {
          umockdev_ioctl_client_complete(client, -1, EAGAIN);
          return TRUE;
        }
        UMockdevIoctlData* urbData = from->front();
        from->pop_front();
        if (from == &discarded_) {
          auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
          urb->status = -ENOENT;
          urb->actual_length = 0;
        }
        UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
        umockdev_ioctl_data_set_ptr(pointer, 0, urbData);
        umockdev_ioctl_client_complete(client, 0, 0);
        umockdev_ioctl_data_unref(pointer);
        umockdev_ioctl_data_unref(urbData);
        return TRUE;
      }
      case USBDEVFS_DISCARDURB: {
        // How a libusb time-out cancels a read.
        const gulong address = gulong(*reinterpret_cast<void**>(arg->data));
        for (auto it = flying_.begin(); it != flying_.end(); ++it) {
          if ((*it)->client_addr == address) {
            discarded_.push_back(*it);
            flying_.erase(it);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
          }
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
      }
      default:
        return FALSE;
    }
  }

  UMockdevTestbed* testbed_;
  std::string sysfsName_;
  int devnum_;
  UMockdevIoctlBase* handler_;
  std::mutex mutex_;
  std::deque<UMockdevIoctlData*> flying_, done_, discarded_;
  bool unplugged_ = false;
};

constexpr UsbId kPrimary{0x1209, 0x0001};
constexpr UsbId kFallback{0x1209, 0x0002};

class LibusbBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* preload = getenv("LD_PRELOAD");
    if (!preload || !strstr(preload, "umockdev-preload")) GTEST_SKIP() << "not running under umockdev-wrapper";
    testbed_ = umockdev_testbed_new();
  }
  void TearDown() override {
    radios_.clear();
    if (testbed_) g_object_unref(testbed_);
  }

  EmulatedRadio& Plug(std::string sysfsName, int devnum, UsbId id, const char* serial) {
    radios_.push_back(std::make_unique<EmulatedRadio>(testbed_, std::move(sysfsName), devnum, id, serial));
    return *radios_.back();
  }

  std::unique_ptr<LibusbBackend> Backend(LibusbOptions options = {}) {
    auto backend = LibusbBackend::Create(options);
    EXPECT_TRUE(backend) << backend.status().message();
    return backend ? std::move(backend).value() : nullptr;
  }

  static LinkOptions Quick() {
    LinkOptions options;
    options.readTimeoutMs = 150;
    return options;
  }

  UMockdevTestbed* testbed_ = nullptr;
  std::vector<std::unique_ptr<EmulatedRadio>> radios_;
};

TEST_F(LibusbBackendTest, ScanFindsAndNumbersRadiosByClass) {
  Plug("1-1", 2, kPrimary, "LW0001");
  Plug("1-3", 4, UsbId{0x1d6b, 0x0002}, nullptr);  // not a radio
  auto backend = Backend();
  MemoryPortStore store;
  UsbTransport transport(*backend, &store, Quick());
  uint8_t ports[kPortBufferSize] = {};
  int flag = 0;
  EXPECT_EQ(transport.Scan(ports, flag), 1);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(transport.PortMap(), (PortNumberMap{{1, "usb:1-1:LW0001"}}));
  EXPECT_EQ(*backend->Enumerate(UsbDeviceClass::Fallback), std::vector<std::string>{});
}

TEST_F(LibusbBackendTest, FallbackClassAndPathWithoutSerial) {
  Plug("1-3", 3, kFallback, nullptr);
  auto backend = Backend();
  MemoryPortStore store;
  UsbTransport transport(*backend, &store, Quick());
  int flag = 0;
  EXPECT_EQ(transport.Scan(nullptr, flag), 1);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(transport.PortMap(), (PortNumberMap{{1, "usb:1-3"}}));
}

TEST_F(LibusbBackendTest, ConnectStepAndBlockLoopsThroughLibusb) {
  EmulatedRadio& emulated = Plug("1-1", 2, kPrimary, "LW0001");
  auto backend = Backend();
  MemoryPortStore store;
  UsbTransport transport(*backend, &store, Quick());
  PortList list(transport);
  list.RefreshPortList();
  ASSERT_EQ(list.SelectedText(), "USB(001)");
  ASSERT_TRUE(transport.Open(1));
  transport.SetAnswerTimeout(kVersionQueryTimeoutMs);
  EXPECT_EQ(QueryBootloaderVersion(transport), "01.04.006");
  EXPECT_EQ(QueryRadioState(transport), 0);

  // Answers larger than one packet, and a read whose answers the transport takes in pieces.
  Bytes image(3000);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 7 + 1);
  ProgressSteps steps;
  ASSERT_EQ(EraseArea(transport, steps, 0x100000, 0x1000, 0x1000, 0), kOk);
  ASSERT_EQ(WriteAscending(transport, steps, 0x100000, image, 512, 0), kOk);
  Bytes back;
  ASSERT_EQ(ReadArea(transport, steps, 0x100000, 3000, 2048, 0, back), kOk);
  EXPECT_EQ(back, image);
  EXPECT_EQ(emulated.radio->Requests(kCmdMemoryWrite).size(), 6u);
  EXPECT_TRUE(emulated.radio->FlashErrors().empty());
  transport.Close();
}

TEST_F(LibusbBackendTest, ReadTimesOutWithZeroAfterAboutOneSecond) {
  Plug("1-1", 2, kPrimary, "LW0001");
  auto backend = Backend();
  MemoryPortStore store;
  UsbTransport transport(*backend, &store);  // the real read time-out, 1,000 ms
  int flag = 0;
  transport.Scan(nullptr, flag);
  ASSERT_TRUE(transport.Open(1));
  uint8_t buffer[64];
  const auto start = Clock::now();
  EXPECT_EQ(transport.ReadPipe(buffer, sizeof buffer), 0u);
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(950));
  EXPECT_LT(waited, std::chrono::milliseconds(2500));
  // The cancelled read left nothing behind: the next request is answered normally.
  transport.SetAnswerTimeout(2000);
  EXPECT_EQ(QueryBootloaderVersion(transport), "01.04.006");
  transport.Close();
}

TEST_F(LibusbBackendTest, UnpluggingMakesReadsAndWritesFail) {
  EmulatedRadio& emulated = Plug("1-1", 2, kPrimary, "LW0001");
  auto backend = Backend();
  MemoryPortStore store;
  UsbTransport transport(*backend, &store, Quick());
  int flag = 0;
  transport.Scan(nullptr, flag);
  ASSERT_TRUE(transport.Open(1));
  EXPECT_TRUE(QueryRadioState(transport));
  emulated.Unplug();
  Bytes frame = BuildLinkFrame(kCmdBootloaderVersion, {});
  EXPECT_EQ(transport.WritePipe(frame.data(), frame.size()), 0u);
  uint8_t buffer[64];
  EXPECT_EQ(transport.ReadPipe(buffer, sizeof buffer), 0u);
  transport.SetAnswerTimeout(300);
  EXPECT_FALSE(QueryRadioState(transport));
  transport.Close();
  EXPECT_EQ(transport.Scan(nullptr, flag), 0);
}

// Both ways of learning of arrivals and removals: libusb's hot-plug callbacks (udev events,
// which umockdev emulates) and the periodic rescan used where there are none.
TEST_F(LibusbBackendTest, HotplugNoticesArrivalAndRemoval) {
  for (bool polling : {false, true}) {
    LibusbOptions options;
    options.forcePolling = polling;
    options.pollIntervalMs = 50;
    auto backend = Backend(options);
    std::mutex mutex;
    std::condition_variable changed;
    int events = 0;
    backend->SetHotplugCallback([&] {
      std::lock_guard lock(mutex);
      ++events;
      changed.notify_all();
    });
    EXPECT_EQ(backend->UsesHotplugCallbacks(), !polling);
    auto waitFor = [&](int count) {
      std::unique_lock lock(mutex);
      return changed.wait_for(lock, std::chrono::seconds(3), [&] { return events >= count; });
    };
    EmulatedRadio& emulated = Plug("1-1", 2, kPrimary, "LW0001");
    EXPECT_TRUE(waitFor(1)) << "arrival, polling " << polling;
    emulated.Unplug();
    EXPECT_TRUE(waitFor(2)) << "removal, polling " << polling;
    backend->SetHotplugCallback(nullptr);
    radios_.clear();
  }
}

// The connect step's final report, nothing else.
class FinalReport : public test::NullSink {
 public:
  void Report(ReportCode c, ReportPayload p) override {
    code = c;
    payload = std::move(p);
  }

  std::optional<ReportCode> code;
  ReportPayload payload;
};

// A radio whose device node this user may not open (no udev rule): libusb's refusal must
// reach the operator as the remedy, not as a bare "Open USB failed!", whether the upgrade
// names the port or the port list found nothing it could open. A radio next to it that the
// user may open is told apart.
TEST_F(LibusbBackendTest, ARadioTheUserMayNotOpenIsReportedWithTheRemedy) {
  Plug("1-1", 2, kPrimary, "LW0001").DenyAccess();
  auto backend = Backend();
  MemoryPortStore store;
  UsbTransport transport(*backend, &store, Quick());
  patch_test::PermissionsEnforced enforced;  // root would open it all the same
  if (!enforced.ok()) GTEST_SKIP() << "cannot drop the permission override";

  PortList list(transport);
  list.RefreshPortList();
  ASSERT_EQ(list.Entries().size(), 2u);
  EXPECT_EQ(list.SelectedText(), "None") << "nothing this user can open";
  const UsbOpenFailure failure = transport.LastOpenFailure();
  EXPECT_TRUE(failure.accessDenied);
  EXPECT_EQ(failure.detail, "usb:1-1:LW0001 (1209:0001): LIBUSB_ERROR_ACCESS");

  ProgramSettings settings;
  for (int port : {list.SelectedPort(), 1}) {
    SCOPED_TRACE(port);
    FinalReport sink;
    RunConnectStep(transport, port, settings, sink);
    ASSERT_EQ(sink.code, ReportCode::OpenFailed);
    const std::string text = PayloadText(sink.payload);
    EXPECT_EQ(text.rfind("No permission to open the radio's USB device (usb:1-1:LW0001 (1209:0001)", 0), 0u) << text;
    EXPECT_NE(text.find(kUdevRulePath), std::string::npos) << text;
    EXPECT_NE(text.find("docs/usb-access.md"), std::string::npos) << text;
  }

  auto denied = backend->Describe("usb:1-1:LW0001");
  ASSERT_TRUE(denied);
  EXPECT_EQ(UsbIdText({denied->vendor, denied->product}), "1209:0001");
  EXPECT_EQ(denied->serial, "LW0001");
  EXPECT_FALSE(denied->openable);
  EXPECT_TRUE(denied->failure.accessDenied);

  Plug("1-2", 3, kPrimary, "LW0002");
  list.RefreshPortList();
  EXPECT_EQ(list.SelectedText(), "USB(002)");
  EXPECT_FALSE(transport.LastOpenFailure().accessDenied) << "the open that worked clears the refusal";
  auto allowed = backend->Describe("usb:1-2:LW0002");
  ASSERT_TRUE(allowed);
  EXPECT_TRUE(allowed->openable);
  EXPECT_FALSE(backend->Describe("usb:1-9"));
}

}  // namespace
}  // namespace lw
