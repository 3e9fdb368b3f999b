#include "cli/upgrade_session.h"

#include <filesystem>
#include <iostream>

#include "app/front_end_assembly.h"
#include "app/run_tally.h"
#include "app/startup.h"
#include "cli/command.h"
#include "cli/console_port.h"
#include "cli/console_setup.h"
#include "common/bytes.h"
#include "engine/conversion_interface.h"
#include "engine/restore_list.h"
#include "link/port_list.h"
#include "link/replay_backend.h"
#include "link/usb_transport.h"
#include "link/xrcp.h"
#include "package/fud_reader.h"
#include "ui/translate.h"

namespace lw::cli {

const char* const kSessionOptionsHelp =
    "--port N        the radio on port N (see \"loftwise-cli ports\"); default: the port the\n"
    "                window would select (the first radio that opens)\n"
    "--sim PROFILE   a simulated radio instead of USB (a profile file, or the name of one in\n"
    "                the program directory's sim/ folder: portable, repeater)\n"
    "--yes | --no    the answer to the question whether to restore from an existing backup;\n"
    "                without either it is asked on the terminal (no terminal: the default, Yes)\n"
    "--json          one JSON object per line and event instead of text: {\"event\":\"log\"|\n"
    "                \"phase\"|\"progress\"|\"notice\"|\"question\"|\"report\", ...}\n"
    "--verify        read every written area back from the radio and compare it (set.ini's\n"
    "                \"Verify Writes\" for this run); a difference fails the run with error\n"
    "                -8003, naming the image, the side and the first differing address\n"
    "--replay COMMLOG  play a Comm.log recorded by this program (with \"CommLog\" on) as the\n"
    "                radio: every request must equal the recorded one, which is answered as\n"
    "                it was then; a request that differs stops the run and is printed with its\n"
    "                line of the log (see docs/replay.md). Excludes --sim and --port\n"
    "--radio-event   with --json, add {\"event\":\"radio\",\"serial\":S,\"model\":M} as soon as the\n"
    "                radio's data were read (what --all's workers tell it)\n"
    "--trace-file NAME  with \"CommLog\" on, trace to NAME in the program directory instead of\n"
    "                Comm.log (--all gives each radio's worker Comm-portNNN.log, NNN its port)\n"
    "--show-mark     after the run, read the radio's InfoBlock (0xFE0000) and show its status\n"
    "                bytes 12-16 (F0 after a completed upgrade)\n"
    "--home DIR      the program directory (set.ini, Torvex.ini, UpgradeFile/, Restore/)\n"
    "Exit status: 0 when the run ended with \"Upgrading Finished!\" (report 2), 1 when it ended\n"
    "with any other report, 2 for bad options or files.\n";

namespace {

// Reads the InfoBlock of one side over the link; empty when the radio does not answer.
Bytes ReadInfoBlock(UsbTransport& transport, uint8_t selector) {
  AnswerPtr answer =
      transport.Exchange(kCmdMemoryRead, MemoryRequest(selector, kInfoBlockAddress, kInfoBlockSize), true);
  transport.ReleaseAnswer();
  if (!answer) return {};
  auto memory = ParseMemoryAnswer(*answer);
  if (!memory) return {};
  return Bytes(memory->data.begin(), memory->data.end());
}

void ShowMark(UsbTransport& transport, int port, bool repeater, bool json) {
  if (!transport.Open(port)) {
    std::cerr << "loftwise-cli: the radio on port " << port << " cannot be opened to read its InfoBlock\n";
    return;
  }
  std::vector<std::pair<uint8_t, size_t>> sides{{kMainSide, 17}};
  if (repeater) sides.push_back({kReceiveSide, 15});
  for (auto [selector, end] : sides) {
    Bytes block = ReadInfoBlock(transport, selector);
    const bool readable = block.size() >= end;
    bool complete = readable;
    for (size_t i = 12; readable && i < end; ++i) complete = complete && block[i] == 0xF0;
    const std::string bytes = readable ? HexString(ByteView(block).first(end)) : "";
    const char* side = selector == kMainSide ? "main" : "receive";
    if (json) {
      std::cout << "{\"event\":\"infoblock\",\"side\":\"" << side << "\",\"bytes\":" << JsonString(bytes)
                << ",\"complete\":" << (complete ? "true" : "false") << "}\n";
    } else if (!readable) {
      std::cout << "InfoBlock (" << side << " side): no answer\n";
    } else {
      std::cout << "InfoBlock (" << side << " side) at 0xFE0000, bytes 0-" << end - 1 << ": " << bytes << "\n"
                << "  status bytes 12-" << end - 1 << ": " << (complete ? "upgrade complete (F0)" : "not marked")
                << "\n";
    }
  }
  transport.Close();
}

}  // namespace

void ReportReplay(const ReplayBackend& replay, bool json) {
  std::string text = replay.Divergence();
  if (text.empty() && replay.Exhausted())
    text = Format(
        "the recording ends at request %zu of %zu (nothing recorded after it): the radio was taken as "
        "unplugged there",
        replay.RequestsReplayed(), replay.RequestsRecorded());
  if (json) {
    std::cout << "{\"event\":\"replay\",\"requests\":" << replay.RequestsReplayed()
              << ",\"recorded\":" << replay.RequestsRecorded()
              << ",\"diverged\":" << (replay.Divergence().empty() ? "false" : "true")
              << ",\"exhausted\":" << (replay.Exhausted() ? "true" : "false") << ",\"message\":" << JsonString(text)
              << "}\n";
  } else if (!text.empty()) {
    std::cerr << "loftwise-cli: " << text << "\n";
  } else {
    std::cout << "Replayed " << replay.RequestsReplayed() << " of " << replay.RequestsRecorded()
              << " recorded requests\n";
  }
}

namespace {

// The files named on the command line; a message for Fail when one is missing.
std::string MissingFile(const SessionOptions& o) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (o.kind == SessionKind::Restore && !fs::is_regular_file(o.restorationFile, ec))
    return "no such backup file: " + o.restorationFile;
  if (!o.package.empty() && !fs::is_regular_file(o.package, ec)) return "no such package: " + o.package;
  return {};
}

// The radios of the session (real, simulated or replayed), scanned, with --port selected.
Result<std::unique_ptr<RadioLink>> OpenSessionLink(const SessionOptions& o, StartupState& st) {
  const std::string home = st.programDirectory.directory;
  auto opened = OpenRadioLink(home, st.settings, o.simProfiles, o.replay);
  if (!opened) return opened.status();
  std::unique_ptr<RadioLink> link = std::move(opened).value();
  if (link->replay()) UseReplaySettings(st.settings, *link->replay());
  if (!o.traceFile.empty()) link->SetTracePath(home + o.traceFile);
  // With --port only that radio is opened: under --all the others belong to other workers.
  if (o.port && *o.port >= 1 && *o.port <= 255) {
    link->Scan(PortText(int(*o.port)));
  } else {
    link->Scan();
  }
  if (o.port && !SelectRadioPort(*link, *o.port)) return Status::Error(NoRadioOnPort(*o.port));
  return link;
}

// What the run's end leaves to the console: the serial whose backups the operator chose to
// restore from (empty when not asked).
struct SessionEnd {
  bool started = false;
  bool restoreAsked = false;
  std::string restoreSerial;
};

// Starts the operation and runs the console until it is over, counting how its runs ended.
SessionEnd RunOperation(const SessionOptions& o, OperationController& controller, ConsolePort& port, RunTally& tally) {
  namespace fs = std::filesystem;
  SessionEnd end;
  controller.SetReportObserver([&](ReportCode code, const ReportPayload& payload) {
    port.Report(code, payload);
    tally.Count(code);
  });
  if (o.json && o.radioEvent)
    controller.SetRadioObserver([](const std::string& serial, const std::string& model) {
      std::cout << "{\"event\":\"radio\",\"serial\":" << JsonString(serial) << ",\"model\":" << JsonString(model)
                << "}\n"
                << std::flush;
    });
  controller.SetRestoreAction([&](const std::string& serial) {
    end.restoreAsked = true;
    end.restoreSerial = serial;
  });

  end.started = o.kind == SessionKind::Restore ? controller.StartRestore(fs::absolute(o.restorationFile).string())
                                               : controller.StartUpgrade();
  if (end.started) {
    port.RunUntil([&] { return controller.phase() == OperationPhase::Idle; }, [&] { tally.Tick(controller); });
    // An auto-test series with no input files ends at once, with nothing run.
    if (o.kind == SessionKind::AutoTest && controller.autoTestFiles().empty()) tally.CountFailure();
  }
  // The run is over: whatever still arrives is not counted.
  controller.SetReportObserver({});
  controller.SetRestoreAction({});
  controller.SetRadioObserver({});
  return end;
}

void ShowBackups(const std::string& backupDirectory, const std::string& serial) {
  RestoreList list(backupDirectory, serial);
  std::cout << "Backups of radio " << serial << ":\n";
  for (const RestoreRow& row : list.rows())
    if (row.serial == serial) std::cout << "  " << row.FullPath() << "  (" << row.date << ")\n";
  std::cout << "Restore one with: loftwise-cli restore [--port N] BACKUP.rcd\n";
}

}  // namespace

int RunUpgradeSession(const SessionOptions& o) {
  if (std::string missing = MissingFile(o); !missing.empty()) return Fail(missing);

  ConsolePort port(ConsolePort::ForTerminal(o.json, o.answer), std::cout, std::cerr, std::cin);
  StartupState st = ConsoleStartup(port, o.home);
  // The subcommand says which operation runs, whatever set.ini's "AutoTest" says.
  st.settings.autoTest = o.kind == SessionKind::AutoTest;
  if (o.verify) st.settings.verifyWrites = true;

  auto opened = OpenSessionLink(o, st);
  if (!opened) return Fail(opened.status().message());
  std::unique_ptr<RadioLink> link = std::move(opened).value();

  OperationAssembly assembly(st, *link, port, std::string(BuiltConversionDigest()));
  if (std::string problem = ChoosePackageProblem(assembly, o.package); !problem.empty()) return Fail(problem);
  UpgradeRunner& runner = assembly.runner();

  RunTally tally;
  const SessionEnd end = RunOperation(o, assembly.controller(), port, tally);
  if (!end.started) return Fail("the operation could not be started");
  runner.WaitIdle();
  port.RunPending();

  if (end.restoreAsked && !o.json) ShowBackups(st.backupDirectory, end.restoreSerial);
  if (ReplayBackend* replay = link->replay()) ReportReplay(*replay, o.json);
  if (o.showMark) {
    const int selected = link->ports().SelectedPort();
    if (selected >= 1) ShowMark(link->transport(), selected, runner.linkFacts().deviceClass == 2, o.json);
  }
  return tally.Succeeded() ? 0 : 1;
}

int RunSessionCommand(const CommandInfo& info, SessionKind kind, const std::vector<std::string>& argv,
                      const std::string& details) {
  Args args(argv, {"port", "sim", "home", "replay", "trace-file"},
            {"yes", "no", "json", "show-mark", "verify", "all", "radio-event", "help"});
  if (args.Flag("help")) return Usage(info, details);
  SessionOptions options;
  auto port = args.Number("port");
  if (!args.ok()) return Fail(args.error());
  if (args.Flag("yes") && args.Flag("no")) return Fail("--yes and --no exclude each other");
  if (args.Positionals().size() > 1)
    return Fail(std::string(info.name) + " takes at most one PACKAGE (see --help)");
  options.kind = kind;
  options.port = port;
  options.home = args.Value("home").value_or("");
  options.simProfiles = args.Values("sim");
  if (!args.Positionals().empty()) options.package = args.Positionals()[0];
  options.json = args.Flag("json");
  if (args.Flag("yes")) options.answer = true;
  if (args.Flag("no")) options.answer = false;
  options.showMark = args.Flag("show-mark");
  options.verify = args.Flag("verify");
  options.replay = args.Value("replay").value_or("");
  if (!options.replay.empty() && (!options.simProfiles.empty() || options.port))
    return Fail("--replay plays the recorded radio: it excludes --sim and --port");
  options.all = args.Flag("all");
  options.traceFile = args.Value("trace-file").value_or("");
  if (options.traceFile.find('/') != std::string::npos || options.traceFile == "." || options.traceFile == "..")
    return Fail("--trace-file takes a file name (the file goes to the program directory)");
  options.radioEvent = args.Flag("radio-event");
  if (options.all) {
    if (kind != SessionKind::Upgrade) return Fail("--all is an option of upgrade");
    if (options.port || !options.replay.empty() || options.showMark)
      return Fail("--all upgrades every radio: it excludes --port, --replay and --show-mark");
    return RunUpgradeAll(options);
  }
  return RunUpgradeSession(options);
}

}  // namespace lw::cli
