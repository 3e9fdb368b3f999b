// loftwise-cli restore: burns a radio's backup (.rcd) back into it.
#include "cli/command.h"
#include "cli/upgrade_session.h"

namespace lw::cli {
namespace {

int RunRestore(const std::vector<std::string>& argv);

const CommandInfo kInfo{
    "restore",
    "restore [--port N] [--sim PROFILE] [--package FILE] BACKUP.rcd [--json] [--show-mark] [--verify] "
    "[--replay COMMLOG] [--home DIR]",
    "restore a radio's data from one of its backups (see loftwise-cli backups)", RunRestore};

int RunRestore(const std::vector<std::string>& argv) {
  // --yes / --no are taken for symmetry with upgrade; a restore run asks no question.
  Args args(argv, {"port", "sim", "home", "package", "replay", "trace-file"},
            {"yes", "no", "json", "show-mark", "verify", "radio-event", "help"});
  if (args.Flag("help")) {
    return Usage(kInfo,
                 "Runs the upgrade with the backup's data in place of the radio's: the package is\n"
                 "looked up for the backup's model (or given with --package FILE), the package's\n"
                 "admission rules are not applied. When the whole run has finished (report 2) the\n"
                 "backup file is deleted, since the radio holds its data again; a restore that\n"
                 "fails anywhere keeps it as it was, for the next try.\n\n"
                 "--package FILE  the package to burn with the backup's data\n" +
                     std::string(kSessionOptionsHelp));
  }
  SessionOptions options;
  auto port = args.Number("port");
  if (!args.ok()) return Fail(args.error());
  if (args.Positionals().size() != 1) return Fail("restore takes one BACKUP.rcd (see --help)");
  options.kind = SessionKind::Restore;
  options.port = port;
  options.home = args.Value("home").value_or("");
  options.simProfiles = args.Values("sim");
  options.restorationFile = args.Positionals()[0];
  options.package = args.Value("package").value_or("");
  options.json = args.Flag("json");
  options.answer = false;  // a restore run asks no question; keep the console from waiting
  options.showMark = args.Flag("show-mark");
  options.verify = args.Flag("verify");
  options.replay = args.Value("replay").value_or("");
  options.radioEvent = args.Flag("radio-event");
  options.traceFile = args.Value("trace-file").value_or("");
  if (options.traceFile.find('/') != std::string::npos || options.traceFile == "." || options.traceFile == "..")
    return Fail("--trace-file takes a file name (the file goes to the program directory)");
  if (!options.replay.empty() && (!options.simProfiles.empty() || options.port))
    return Fail("--replay plays the recorded radio: it excludes --sim and --port");
  return RunUpgradeSession(options);
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
