// UsbTransport on simulated radios: port numbering and the persistent map, the class fallback,
// opening and closing, the raw pipes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "link/link_frame.h"
#include "link/xrcp.h"
#include "link_fixture.h"

namespace lw {
namespace {

using sim::DefaultSimProfile;
using sim::SimProfile;
using test::FastLinkOptions;
using test::TempDir;

SimProfile Radio(const std::string& path, UsbDeviceClass cls = UsbDeviceClass::Primary) {
  SimProfile profile = DefaultSimProfile(path);
  profile.path = path;
  profile.usbClass = cls;
  return profile;
}

std::vector<int> Ports(const uint8_t* buffer, size_t count) { return std::vector<int>(buffer, buffer + count); }

struct Bench {
  explicit Bench(PortNumberMap stored = {}) : store(dir.File("ports.ini")) {
    if (!stored.empty()) store.Save(stored);
  }
  uint16_t Scan(uint8_t* ports, int& flag) {
    UsbTransport transport(backend, &store, FastLinkOptions());
    return transport.Scan(ports, flag);
  }
  TempDir dir;
  IniPortStore store;
  sim::SimulatedBackend backend;
};

TEST(TransportScan, NewRadioGetsTheNextNumberAndIsStored) {
  Bench bench({{1, "sim:a"}, {2, "sim:b"}});
  for (auto path : {"sim:a", "sim:b", "sim:c"}) bench.backend.Attach(Radio(path));
  uint8_t ports[kPortBufferSize] = {};
  int flag = 0;
  EXPECT_EQ(bench.Scan(ports, flag), 3);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(Ports(ports, 3), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(bench.store.Load(), (PortNumberMap{{1, "sim:a"}, {2, "sim:b"}, {3, "sim:c"}}));
}

TEST(TransportScan, ReattachedRadioKeepsItsNumberWhileOthersAreAbsent) {
  Bench bench({{1, "sim:a"}, {2, "sim:b"}, {3, "sim:c"}});
  bench.backend.Attach(Radio("sim:c"));
  uint8_t ports[kPortBufferSize] = {};
  int flag = 0;
  EXPECT_EQ(bench.Scan(ports, flag), 1);
  EXPECT_EQ(ports[0], 3);
  // Numbers of absent radios are never deleted.
  EXPECT_EQ(bench.store.Load().size(), 3u);
}

TEST(TransportScan, TwoNewRadiosNumberedInEnumerationOrder) {
  Bench bench({{1, "sim:a"}});
  bench.backend.Attach(Radio("sim:z"));
  bench.backend.Attach(Radio("sim:m"));
  int flag = 0;
  UsbTransport transport(bench.backend, &bench.store, FastLinkOptions());
  transport.Scan(nullptr, flag);
  EXPECT_EQ(transport.PortMap(), (PortNumberMap{{2, "sim:z"}, {3, "sim:m"}}));
}

// A hand-edited map with a gap or a repeated path must not make a new radio take over the
// number of another one.
TEST(TransportScan, NumberTakenInTheStoreIsNotReused) {
  Bench bench({{1, "sim:a"}, {2, "sim:a"}, {3, "sim:b"}});  // R = 2 distinct paths
  bench.backend.Attach(Radio("sim:new"));
  int flag = 0;
  UsbTransport transport(bench.backend, &bench.store, FastLinkOptions());
  transport.Scan(nullptr, flag);
  EXPECT_EQ(transport.PortMap(), (PortNumberMap{{4, "sim:new"}}));
  EXPECT_EQ(bench.store.Load()[3], "sim:b");
}

// A number above 255 (a hand-edited ports.ini) cannot be addressed: it is skipped, not cut to a
// byte, where it would name port 44 and perhaps another radio. Its radio gets a number of its
// own, and the line stays in the file.
TEST(TransportScan, ANumberAbove255InTheStoreIsSkippedNotCutToAByte) {
  Bench bench({{300, "sim:far"}, {1, "sim:a"}});
  bench.backend.Attach(Radio("sim:far"));
  int flag = 0;
  UsbTransport transport(bench.backend, &bench.store, FastLinkOptions());
  uint8_t ports[8] = {};
  ASSERT_EQ(transport.Scan(ports, flag), 1);
  EXPECT_EQ(transport.PortMap(), (PortNumberMap{{2, "sim:far"}}));
  EXPECT_EQ(ports[0], 2);
  EXPECT_EQ(bench.store.Load()[300], "sim:far") << "no value is ever deleted";
}

TEST(TransportScan, FallbackClassOnlyWhenThePrimaryHasNoRadio) {
  {
    Bench bench;
    bench.backend.Attach(Radio("sim:old", UsbDeviceClass::Fallback));
    uint8_t ports[kPortBufferSize] = {};
    int flag = 0;
    EXPECT_EQ(bench.Scan(ports, flag), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(ports[0], 1);
  }
  {
    Bench bench;
    bench.backend.Attach(Radio("sim:old", UsbDeviceClass::Fallback));
    bench.backend.Attach(Radio("sim:new"));
    uint8_t ports[kPortBufferSize] = {};
    int flag = 0;
    EXPECT_EQ(bench.Scan(ports, flag), 1);
    EXPECT_EQ(flag, 1);
  }
  {
    // Starting with the fallback class does not go back to the primary one.
    Bench bench;
    bench.backend.Attach(Radio("sim:new"));
    int flag = 1;
    EXPECT_EQ(bench.Scan(nullptr, flag), 0);
    EXPECT_EQ(flag, 0);
  }
}

TEST(TransportScan, NoRadioLeavesBufferAndStoreAlone) {
  Bench bench;
  uint8_t ports[kPortBufferSize];
  std::fill(std::begin(ports), std::end(ports), 0xAA);
  int flag = 0;
  EXPECT_EQ(bench.Scan(ports, flag), 0);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(ports[0], 0xAA);
  EXPECT_FALSE(std::filesystem::exists(bench.store.path()));
}

TEST(TransportScan, ListThatCannotBeHadForgetsTheNumbersOfTheLastScan) {
  TempDir dir;
  IniPortStore store(dir.File("ports.ini"));
  sim::SimulatedBackend backend;
  backend.Attach(Radio("sim:a"));
  UsbTransport transport(backend, &store, FastLinkOptions());
  int flag = 0;
  ASSERT_EQ(transport.Scan(nullptr, flag), 1);
  ASSERT_EQ(transport.PortMap(), (PortNumberMap{{1, "sim:a"}}));

  backend.SetEnumerationFails(true);
  flag = 0;
  EXPECT_EQ(transport.Scan(nullptr, flag), 0);
  EXPECT_TRUE(transport.PortMap().empty());
  EXPECT_FALSE(transport.Open(1)) << "port 1 of the earlier scan still opens a radio";
  EXPECT_EQ(store.Load(), (PortNumberMap{{1, "sim:a"}})) << "the stored numbers are kept";
}

TEST(TransportScan, ClassFlagOtherThanZeroOrOneScansNothing) {
  Bench bench;
  bench.backend.Attach(Radio("sim:a"));
  int flag = 2;
  EXPECT_EQ(bench.Scan(nullptr, flag), 0);
  EXPECT_EQ(flag, 2);
}

TEST(PortStore, FileKeepsOtherEntriesAndSkipsWhatIsNotOurs) {
  TempDir dir;
  const std::string file = dir.File("sub/ports.ini");
  IniPortStore store(file);
  EXPECT_TRUE(store.Load().empty());
  ASSERT_TRUE(store.Save({{1, "usb:1-1"}, {7, "usb:2-3.1:AB12"}}));
  ASSERT_TRUE(store.Save({{2, "usb:1-2"}}));
  {
    std::ofstream out(file, std::ios::app);
    out << "junk line\n0=usb:zero\nx=usb:x\n99999999=usb:big\n5=\n";
  }
  EXPECT_EQ(IniPortStore(file).Load(),
            (PortNumberMap{{1, "usb:1-1"}, {2, "usb:1-2"}, {7, "usb:2-3.1:AB12"}}));
}

TEST(PortStore, DefaultPathFollowsXdgConfigHome) {
  const char* old = getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
  EXPECT_EQ(DefaultPortStorePath(), "/tmp/xdg-test/loftwise/ports.ini");
  if (old) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");
}

struct OpenBench {
  OpenBench() : transport(backend, &store, FastLinkOptions()) {}
  void ScanAll() {
    int flag = 0;
    transport.Scan(nullptr, flag);
  }
  sim::SimulatedBackend backend;
  MemoryPortStore store;
  UsbTransport transport;
};

TEST(TransportOpen, PathLimitLeavesRoomForThePipeSuffix) {
  for (size_t length : {252u, 253u}) {
    OpenBench bench;
    bench.backend.Attach(Radio(std::string(length, 'p')));
    bench.ScanAll();
    EXPECT_EQ(bench.transport.Open(1), length + 8 <= 260) << length;
    bench.transport.Close();
  }
}

TEST(TransportOpen, OpenTwiceAndCloseTwice) {
  OpenBench bench;
  auto radio = bench.backend.Attach(Radio("sim:a"));
  bench.ScanAll();
  EXPECT_FALSE(bench.transport.Close());
  ASSERT_TRUE(bench.transport.Open(1));
  EXPECT_TRUE(bench.transport.IsConnected());
  // Already connected: nothing touches the pipes (a drain would swallow this waiting answer).
  ASSERT_GT(radio->AcceptWrite(BuildLinkFrame(kCmdRadioState, Bytes{7})), 0u);
  EXPECT_TRUE(bench.transport.Open(1));
  EXPECT_TRUE(radio->HasAnswer());
  EXPECT_TRUE(bench.transport.Close());
  EXPECT_FALSE(bench.transport.Close());
  EXPECT_FALSE(bench.transport.IsOpened());
}

TEST(TransportOpen, UnknownPortAndAbsentRadioFail) {
  OpenBench bench;
  bench.backend.Attach(Radio("sim:a"));
  bench.ScanAll();
  EXPECT_FALSE(bench.transport.Open(2));
  bench.backend.Detach("sim:a");
  EXPECT_FALSE(bench.transport.Open(1));
  EXPECT_FALSE(bench.transport.IsOpened());
}

TEST(TransportOpen, SecondRadioRefusedWhileOneIsOpenInTheProcess) {
  OpenBench first;
  first.backend.Attach(Radio("sim:a"));
  first.ScanAll();
  OpenBench second;
  second.backend.Attach(Radio("sim:b"));
  second.ScanAll();
  ASSERT_TRUE(first.transport.Open(1));
  EXPECT_FALSE(second.transport.Open(1));
  first.transport.Close();
  EXPECT_TRUE(second.transport.Open(1));
  second.transport.Close();
}

TEST(TransportOpen, OpeningDrainsWhatTheRadioStillHadToSay) {
  OpenBench bench;
  auto radio = bench.backend.Attach(Radio("sim:a"));
  bench.ScanAll();
  radio->AcceptWrite(BuildLinkFrame(kCmdBootloaderVersion, {}));
  ASSERT_TRUE(radio->HasAnswer());
  ASSERT_TRUE(bench.transport.Open(1));
  EXPECT_FALSE(radio->HasAnswer());
  bench.transport.Close();
}

TEST(TransportPipes, ReadTimesOutWithZeroAndUnplugFailsBothWays) {
  OpenBench bench;
  bench.backend.Attach(Radio("sim:a"));
  bench.ScanAll();
  uint8_t buffer[16];
  EXPECT_EQ(bench.transport.ReadPipe(buffer, sizeof buffer), 0u) << "nothing open";
  ASSERT_TRUE(bench.transport.Open(1));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(bench.transport.ReadPipe(buffer, sizeof buffer), 0u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  EXPECT_EQ(bench.transport.ReadPipe(buffer, 0), 0u);
  Bytes frame = BuildLinkFrame(kCmdBootloaderVersion, {});
  EXPECT_EQ(bench.transport.WritePipe(frame.data(), frame.size()), frame.size());
  EXPECT_GT(bench.transport.ReadPipe(buffer, sizeof buffer), 0u);

  bench.backend.Detach("sim:a");
  EXPECT_EQ(bench.transport.WritePipe(frame.data(), frame.size()), 0u);
  EXPECT_EQ(bench.transport.ReadPipe(buffer, sizeof buffer), 0u);
  EXPECT_FALSE(QueryBootloaderVersion(bench.transport));
  bench.transport.Close();
}

}  // namespace
}  // namespace lw
