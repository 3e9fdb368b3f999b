// loftwise-cli probe: what radio is this? Opens it, asks its bootloader version and its state.
#include <iostream>

#include "app/front_end_assembly.h"
#include "cli/command.h"
#include "cli/console_setup.h"
#include "cli/upgrade_session.h"
#include "common/program_dir.h"
#include "config/settings.h"
#include "link/comm_log.h"
#include "link/port_list.h"
#include "link/usb_access.h"
#include "link/usb_transport.h"
#include "link/xrcp.h"
#include "sim/sim_setup.h"

namespace lw::cli {
namespace {

int RunProbe(const std::vector<std::string>& argv);

const CommandInfo kInfo{"probe", "probe [--port N] [--sim PROFILE | --replay COMMLOG] [--home DIR]",
                        "open a radio and print its bootloader version and state", RunProbe};

const char* kDetails =
    "Opens the radio of port N (default: the port the port list would select, see \"ports\"),\n"
    "asks its bootloader version (command 0x0342, 3,000 ms time-out) and its state (command\n"
    "0x0201, the \"Timeout MilliSecond\" time-out of set.ini), prints both and closes it.\n"
    "Nothing is written to the radio. With \"CommLog\" nonzero in set.ini every frame is\n"
    "appended to Comm.log in the program directory, as during an upgrade.\n\n"
    "--port N        the port number as in USB(NNN)\n"
    "--sim PROFILE   use a simulated radio instead of USB (a profile file, or the name of one\n"
    "                in the program directory's sim/ folder: portable, repeater)\n"
    "--replay COMMLOG  play a Comm.log recorded by this program as the radio (see\n"
    "                docs/replay.md); a request that differs from the recording is printed\n\n"
    "Output: \"port: USB(NNN) PATH\", \"bootloader: VERSION\" (with \"(newer protocol)\" above\n"
    "01.04.005), \"state: N\". Exit status 2 when no radio opens or it does not answer; a radio\n"
    "this user has no permission to open is named with the remedy (docs/usb-access.md).\n";

int RunProbe(const std::vector<std::string>& argv) {
  Args args(argv, {"port", "sim", "home", "replay"}, {"help"});
  if (args.Flag("help")) return Usage(kInfo, kDetails);
  auto port = args.Number("port");
  if (!args.ok()) return Fail(args.error());
  if (!args.Positionals().empty()) return Fail("probe takes no arguments (see --help)");
  if (args.Values("sim").size() > 1) return Fail("probe works on one radio: give --sim once");
  if (port && (*port < 1 || *port > 255)) return Fail("--port must be 1 to 255");

  const std::string home = ResolveProgramDirectory(args.Value("home").value_or(""));
  const ProgramSettings settings = ReadCommandSettings(home);
  const std::string replay = args.Value("replay").value_or("");
  if (!replay.empty() && !args.Values("sim").empty()) return Fail("--replay and --sim exclude each other");
  auto opened = OpenRadioLink(home, settings, args.Values("sim"), replay);
  if (!opened) return Fail(opened.status().message());
  std::unique_ptr<RadioLink> link = std::move(opened).value();
  UsbTransport& transport = link->transport();
  // How a replay ended is told whatever the probe's own outcome.
  struct ReplayNote {
    RadioLink& link;
    ~ReplayNote() {
      if (link.replay()) ReportReplay(*link.replay(), false);
    }
  } note{*link};

  int chosen = 0;
  if (port) {
    int classFlag = 0;
    transport.Scan(nullptr, classFlag);
    chosen = int(*port);
  } else {
    link->Scan();
    chosen = link->ports().SelectedPort();
    if (chosen == 0) {
      const UsbOpenFailure failure = transport.LastOpenFailure();
      if (failure.accessDenied) return Fail("no radio found that can be opened. " + UsbAccessText(failure));
      return Fail("no radio found that can be opened");
    }
  }
  const std::string path = transport.PortMap().count(chosen) ? transport.PortMap().at(chosen) : "";
  if (!transport.Open(chosen)) {
    if (path.empty()) return Fail(PortText(chosen) + ": no radio with this port number is attached");
    const UsbOpenFailure failure = transport.LastOpenFailure();
    if (failure.accessDenied) return Fail(PortText(chosen) + ": " + UsbAccessText(failure));
    return Fail(PortText(chosen) + ": the radio cannot be opened (" + path + ")");
  }
  std::cout << "port: " << PortText(chosen) << " " << path << "\n";

  transport.SetAnswerTimeout(kVersionQueryTimeoutMs);
  auto version = QueryBootloaderVersion(transport);
  transport.SetAnswerTimeout(int(settings.timeoutMs));
  if (!version) {
    transport.Close();
    return Fail("no answer to the bootloader version query (0x0342)");
  }
  std::cout << "bootloader: " << *version << (IsNewProtocol(*version) ? " (newer protocol)" : "") << "\n";
  auto state = QueryRadioState(transport);
  transport.Close();
  if (!state) return Fail("no answer to the state query (0x0201)");
  std::cout << "state: " << *state << "\n";
  return 0;
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
