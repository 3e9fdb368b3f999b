// The port list model: entries, keeping the operator's choice, probing, hot-plug.
#include <gtest/gtest.h>

#include "link/port_list.h"
#include "link_fixture.h"

namespace lw {
namespace {

using test::FastLinkOptions;

struct ListBench {
  ListBench() : transport(backend, &store, FastLinkOptions()), list(transport) {}
  std::shared_ptr<sim::SimulatedRadio> Plug(const std::string& path) {
    sim::SimProfile profile = sim::DefaultSimProfile(path);
    profile.path = path;
    return backend.Attach(profile);
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& e : list.Entries()) out.push_back(e.text);
    return out;
  }
  sim::SimulatedBackend backend;
  MemoryPortStore store;
  UsbTransport transport;
  PortList list;
};

TEST(PortList, NoRadioGivesOnlyNone) {
  ListBench bench;
  EXPECT_EQ(bench.list.RefreshPortList(), 0);
  EXPECT_EQ(bench.Texts(), (std::vector<std::string>{"None"}));
  EXPECT_EQ(bench.list.SelectedText(), "None");
  EXPECT_EQ(bench.list.SelectedPort(), 0);
}

TEST(PortList, PortTextHasThreeDigits) {
  EXPECT_EQ(PortText(12), "USB(012)");
  EXPECT_EQ(PortText(7), "USB(007)");
  EXPECT_EQ(PortText(255), "USB(255)");
}

TEST(PortList, SecondRadioKeepsTheChoiceAndRemovalFallsBack) {
  ListBench bench;
  bench.Plug("sim:a");
  EXPECT_EQ(bench.list.RefreshPortList(), 1);
  EXPECT_EQ(bench.list.SelectedText(), "USB(001)");
  bench.Plug("sim:b");
  bench.list.RefreshPortList();
  EXPECT_EQ(bench.Texts(), (std::vector<std::string>{"None", "USB(001)", "USB(002)"}));
  EXPECT_EQ(bench.list.SelectedPort(), 1);
  // The operator picks the second; it survives a refresh even when typed differently.
  ASSERT_TRUE(bench.list.Select("usb(002)"));
  bench.list.RefreshPortList();
  EXPECT_EQ(bench.list.SelectedPort(), 2);
  // Removing the selected radio selects the first remaining one that opens.
  bench.backend.Detach("sim:b");
  bench.list.RefreshPortList();
  EXPECT_EQ(bench.list.SelectedText(), "USB(001)");
  bench.backend.Detach("sim:a");
  bench.list.RefreshPortList();
  EXPECT_EQ(bench.list.SelectedText(), "None");
  EXPECT_FALSE(bench.transport.IsOpened()) << "probing closes what it opened";
}

TEST(PortList, RadioThatCannotBeOpenedIsListedButNotChosen) {
  ListBench bench;
  bench.Plug("sim:a");
  bench.Plug(std::string(300, 'x'));  // a path too long to open
  bench.list.Select("None");
  bench.backend.Detach("sim:a");
  bench.list.RefreshPortList();
  EXPECT_EQ(bench.Texts().size(), 2u);
  EXPECT_EQ(bench.list.SelectedText(), "None");
}

// A hot-plug event during an operation must not close the radio the operation holds.
TEST(PortList, RefreshWhileARadioIsOpenDoesNotProbe) {
  ListBench bench;
  bench.Plug("sim:a");
  bench.list.RefreshPortList();
  ASSERT_TRUE(bench.transport.Open(1));
  bench.list.Select("None");
  bench.Plug("sim:b");
  bench.list.RefreshPortList();
  EXPECT_TRUE(bench.transport.IsConnected());
  EXPECT_EQ(bench.list.SelectedText(), "None");
  bench.transport.Close();
}

// A process told which radio to use (a worker of upgrade --all) selects it without opening any
// other: those belong to other processes. Without a wanted radio the list probes as before.
TEST(PortList, AWantedRadioIsSelectedWithoutOpeningTheOthers) {
  struct CountingBackend : UsbBackend {
    sim::SimulatedBackend inner;
    std::vector<std::string> opened;
    std::optional<std::vector<std::string>> Enumerate(UsbDeviceClass cls) override { return inner.Enumerate(cls); }
    std::unique_ptr<UsbPipes> Open(const std::string& path) override {
      opened.push_back(path);
      return inner.Open(path);
    }
    void SetHotplugCallback(std::function<void()> callback) override { inner.SetHotplugCallback(callback); }
  };
  for (const char* wanted : {"USB(002)", "usb(002)", "USB(009)", ""}) {
    SCOPED_TRACE(wanted);
    CountingBackend backend;
    for (const char* path : {"sim:a", "sim:b", "sim:c"}) {
      sim::SimProfile profile = sim::DefaultSimProfile(path);
      profile.path = path;
      backend.inner.Attach(profile);
    }
    MemoryPortStore store;
    UsbTransport transport(backend, &store, FastLinkOptions());
    PortList list(transport);
    list.RefreshPortList(wanted);
    const bool present = std::string(wanted).size() && std::string(wanted) != "USB(009)";
    EXPECT_EQ(list.SelectedText(), present ? "USB(002)" : "USB(001)");
    EXPECT_EQ(backend.opened, present ? std::vector<std::string>{} : std::vector<std::string>{"sim:a"});
  }
}

TEST(PortList, HotplugEventsReachTheList) {
  ListBench bench;
  int refreshes = 0;
  bench.backend.SetHotplugCallback([&] {
    ++refreshes;
    bench.list.RefreshPortList();
  });
  bench.Plug("sim:a");
  EXPECT_EQ(bench.Texts(), (std::vector<std::string>{"None", "USB(001)"}));
  bench.backend.Detach("sim:a");
  EXPECT_EQ(bench.Texts(), (std::vector<std::string>{"None"}));
  EXPECT_EQ(refreshes, 2);
  bench.backend.SetHotplugCallback(nullptr);
}

}  // namespace
}  // namespace lw
