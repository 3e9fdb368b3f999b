// loftwise-cli serve: the remote control listener without a window, until interrupted.
#include <atomic>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <thread>

#include "app/front_end_assembly.h"
#include "app/startup.h"
#include "cli/command.h"
#include "cli/console_port.h"
#include "cli/console_setup.h"
#include "engine/conversion_interface.h"
#include "link/port_list.h"
#include "ui/translate.h"

namespace lw::cli {
namespace {

volatile std::sig_atomic_t gStop = 0;

int RunServe(const std::vector<std::string>& argv);

const CommandInfo kInfo{
    "serve", "serve [--sim PROFILE] [--port N] [--port-number 5150] [PACKAGE] [--yes|--no] [--json] [--home DIR]",
    "run the remote control listener (XUID and UPGRADE requests over TCP) until interrupted", RunServe};

const char* const kServeHelp =
    "Listens for test-station requests, one request line per connection:\n"
    "  XUID:<identity file>      is the radio of this identity file eligible for the\n"
    "                            package?  -> \"ok\" or \"Error_Code=N\" (-1, 19, 17, 27)\n"
    "  UPGRADE:<radio data file> upgrade the radio from that data file; the result file\n"
    "                            (<file without .rcd>.fuc) is written beside it\n"
    "                            -> \"ok\" or \"Error_Code=N\" (30: an operation is running)\n"
    "Requests and the upgrade's progress are logged on the console. The listener binds to\n"
    "set.ini's \"Remote Bind Address\" (shipped as 127.0.0.1: this computer only). Runs until\n"
    "interrupted (Ctrl-C, SIGTERM); a running upgrade is then stopped at its next request.\n"
    "See docs/remote-control.md.\n\n"
    "PACKAGE             the open package the requests are checked against and upgrade\n"
    "                    with; without it set.ini's rules apply and the upgrade looks the\n"
    "                    package up by the radio's model\n"
    "--sim PROFILE       a simulated radio instead of USB (a profile file, or a name in the\n"
    "                    program directory's sim/ folder: portable, repeater)\n"
    "--port N            the radio on port N (see \"loftwise-cli ports\"); default: the first\n"
    "--port-number P     the TCP port to listen on (default 5150; 0: any free port)\n"
    "--yes | --no        the answer when a backup of the radio already exists\n"
    "--json              one JSON object per line and event\n"
    "--home DIR          the program directory\n"
    "Exit status: 0 after an interrupt, 1 when the listener cannot be set up, 2 for bad\n"
    "options or files.\n";

struct ServeOptions {
  std::optional<long long> radioPort;  // --port
  std::optional<long long> tcpPort;    // --port-number
  std::string package;
  std::optional<bool> answer;  // --yes / --no
  bool json = false;
  std::vector<std::string> simProfiles;
  std::string home;
};

// The options of serve; a message for Fail when they are wrong.
std::string ParseServeOptions(Args& args, ServeOptions& o) {
  o.radioPort = args.Number("port");
  o.tcpPort = args.Number("port-number");
  if (!args.ok()) return args.error();
  if (args.Flag("yes") && args.Flag("no")) return "--yes and --no exclude each other";
  if (args.Positionals().size() > 1) return "serve takes at most one PACKAGE (see --help)";
  if (o.tcpPort && (*o.tcpPort < 0 || *o.tcpPort > 65535)) return "--port-number must be 0 to 65535";
  o.package = args.Positionals().empty() ? "" : args.Positionals()[0];
  std::error_code ec;
  if (!o.package.empty() && !std::filesystem::is_regular_file(o.package, ec)) return "no such package: " + o.package;
  if (args.Flag("yes")) o.answer = true;
  if (args.Flag("no")) o.answer = false;
  o.json = args.Flag("json");
  o.simProfiles = args.Values("sim");
  o.home = args.Value("home").value_or("");
  return {};
}

void AnnounceListening(const std::string& address, int port, bool json) {
  if (json) {
    std::cout << "{\"event\":\"listening\",\"address\":" << JsonString(address) << ",\"port\":" << port << "}"
              << std::endl;
  } else {
    std::cout << "Listening on " << address << ":" << port << " (Ctrl-C to stop)" << std::endl;
  }
}

// Runs the console, ticking the controller, until SIGINT or SIGTERM.
void ServeUntilInterrupted(ConsolePort& port, OperationController& controller) {
  gStop = 0;
  auto previousInt = std::signal(SIGINT, [](int) { gStop = 1; });
  auto previousTerm = std::signal(SIGTERM, [](int) { gStop = 1; });
  port.RunUntil([] { return gStop != 0; }, [&controller] { controller.Tick(); }, std::chrono::milliseconds(100));
  std::signal(SIGINT, previousInt);
  std::signal(SIGTERM, previousTerm);
}

// Stops the listener and what it runs. A handler may be waiting for this thread while the
// server stops: its tasks are served meanwhile.
void StopServing(ConsolePort& port, OperationAssembly& assembly) {
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    assembly.StopRemoteServer();
    stopped = true;
  });
  port.RunUntil([&] { return stopped.load(); }, [] {}, std::chrono::milliseconds(50));
  stopper.join();
  assembly.runner().WaitIdle();
  port.RunPending();
}

int RunServe(const std::vector<std::string>& argv) {
  Args args(argv, {"sim", "port", "port-number", "home"}, {"yes", "no", "json", "help"});
  if (args.Flag("help")) return Usage(kInfo, kServeHelp);
  ServeOptions o;
  if (std::string wrong = ParseServeOptions(args, o); !wrong.empty()) return Fail(wrong);

  ConsolePort port(ConsolePort::ForTerminal(o.json, o.answer), std::cout, std::cerr, std::cin);
  StartupState st = ConsoleStartup(port, o.home);
  st.settings.autoTest = false;  // the remote upgrade is one file at a time

  auto opened = RadioLink::Open(st.programDirectory.directory, st.settings, o.simProfiles);
  if (!opened) return Fail(opened.status().message());
  std::unique_ptr<RadioLink> link = std::move(opened).value();
  link->Scan();
  if (o.radioPort && !SelectRadioPort(*link, *o.radioPort)) return Fail(NoRadioOnPort(*o.radioPort));

  // The console starts no operation of its own, but the remote upgrade obeys the same
  // controller as it does in the window.
  OperationAssembly assembly(st, *link, port, std::string(BuiltConversionDigest()));
  if (std::string problem = ChoosePackageProblem(assembly, o.package); !problem.empty()) return Fail(problem);

  RemoteServerOptions serverOptions;
  serverOptions.bindAddress = st.settings.remoteBindAddress;
  serverOptions.port = o.tcpPort ? uint16_t(*o.tcpPort) : kRemotePort;
  if (!assembly.StartRemoteServer(serverOptions))
    return Fail("the remote control listener cannot be set up on " + serverOptions.bindAddress + ":" +
                    std::to_string(serverOptions.port),
                1);
  AnnounceListening(serverOptions.bindAddress, assembly.remoteServer()->port(), o.json);

  ServeUntilInterrupted(port, assembly.controller());
  StopServing(port, assembly);
  if (!o.json) std::cout << "Stopped." << std::endl;
  return 0;
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
