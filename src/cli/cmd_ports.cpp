// loftwise-cli ports: the port list as the window shows it, for scripts and support staff.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <iostream>
#include <mutex>

#include "app/front_end_assembly.h"
#include "cli/command.h"
#include "cli/console_setup.h"
#include "common/program_dir.h"
#include "config/settings.h"
#include "link/port_list.h"
#include "link/usb_ids.h"
#include "link/usb_transport.h"
#include "sim/sim_setup.h"

namespace lw::cli {
namespace {

int RunPorts(const std::vector<std::string>& argv);

const CommandInfo kInfo{"ports", "ports [--sim PROFILE]... [--replay COMMLOG] [--watch] [--home DIR]",
                        "list the USB ports of the attached radios, the selected one marked", RunPorts};

const char* kDetails =
    "Scans for radios (the primary USB class, else the fallback class), numbers new ones in\n"
    "$XDG_CONFIG_HOME/loftwise/ports.ini, and prints the port list one entry a line: \"None\",\n"
    "then \"USB(NNN)\" per radio. The entry the window would select is marked with \"*\": the\n"
    "first radio that can be opened (opening one takes about a second), else \"None\".\n\n"
    "--sim PROFILE   use simulated radios instead of USB (repeatable; a profile file, or the\n"
    "                name of one in the program directory's sim/ folder: portable, repeater);\n"
    "                simulated radios are numbered from 1 and not written to ports.ini\n"
    "--replay COMMLOG  the radio of a Comm.log recorded by this program, played back (see\n"
    "                docs/replay.md): it shows as USB(001)\n"
    "--watch         print the list again whenever a radio is plugged in or removed, until\n"
    "                interrupted\n"
    "The USB identifiers come from \"USB Primary IDs\" and \"USB Fallback IDs\" in set.ini.\n\n"
    "For a real radio the line goes on with its USB path, vendor:product, serial and whether\n"
    "this user may open it (\"can open\", \"no permission\" with the remedy, or the reason), e.g.\n"
    "  USB(001)  usb:1-4:LW0001  1209:0001  serial LW0001  can open\n"
    "Without permission, install the udev rule (docs/usb-access.md).\n";

std::atomic<bool> gInterrupted{false};

// The details of a radio the port list holds; nothing for simulated radios, whose path is all
// there is to say.
std::string Details(RadioLink& link, int port) {
  const PortNumberMap map = link.transport().PortMap();
  auto it = map.find(port);
  if (it == map.end()) return "";
  std::string line = "  " + it->second;
  auto details = link.backend().Describe(it->second);
  if (!details) return line;
  line += "  " + UsbIdText({details->vendor, details->product});
  line += "  serial " + (details->serial.empty() ? std::string("-") : details->serial);
  if (details->openable) return line + "  can open";
  if (details->failure.accessDenied) return line + "  no permission: install the udev rule (docs/usb-access.md)";
  return line + "  cannot open" + (details->failure.detail.empty() ? "" : " (" + details->failure.detail + ")");
}

void PrintList(RadioLink& link) {
  const PortList& list = link.ports();
  // Described after the list was built: describing opens each radio, which the selection
  // has already done once.
  for (int i = 0; i < int(list.Entries().size()); ++i) {
    const PortListEntry& entry = list.Entries()[size_t(i)];
    std::cout << (i == list.SelectedIndex() ? "* " : "  ") << entry.text
              << (entry.port ? Details(link, entry.port) : "") << "\n";
  }
  std::cout.flush();
}

int RunPorts(const std::vector<std::string>& argv) {
  Args args(argv, {"sim", "home", "replay"}, {"watch", "help"});
  if (args.Flag("help")) return Usage(kInfo, kDetails);
  if (!args.ok()) return Fail(args.error());
  if (!args.Positionals().empty()) return Fail("ports takes no arguments (see --help)");

  const std::string home = ResolveProgramDirectory(args.Value("home").value_or(""));
  const ProgramSettings settings = ReadCommandSettings(home);
  const std::string replay = args.Value("replay").value_or("");
  if (!replay.empty() && !args.Values("sim").empty()) return Fail("--replay and --sim exclude each other");
  auto opened = OpenRadioLink(home, settings, args.Values("sim"), replay);
  if (!opened) return Fail(opened.status().message());
  std::unique_ptr<RadioLink> link = std::move(opened).value();
  PortList& list = link->ports();
  link->Scan();
  PrintList(*link);
  if (!args.Flag("watch")) return 0;

  // Hot-plug events arrive on a thread of the backend; the list is refreshed here, on the
  // thread that owns it.
  std::mutex mutex;
  std::condition_variable changed;
  bool pending = false;
  link->SetHotplugHandler([&] {
    std::lock_guard lock(mutex);
    pending = true;
    changed.notify_one();
  });
  std::signal(SIGINT, [](int) { gInterrupted = true; });
  std::signal(SIGTERM, [](int) { gInterrupted = true; });
  while (!gInterrupted) {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, std::chrono::milliseconds(200), [&] { return pending; });
    if (!pending) continue;
    pending = false;
    lock.unlock();
    list.RefreshPortList();
    std::cout << "\n";
    PrintList(*link);
  }
  link->SetHotplugHandler({});
  return 0;
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
