// loftwise-cli autotest: the auto-test series over AutoTest_InFile/*.rcdb.
#include "cli/command.h"
#include "cli/upgrade_session.h"

namespace lw::cli {
namespace {

int RunAutoTest(const std::vector<std::string>& argv);

const CommandInfo kInfo{"autotest", "autotest [--port N] [--sim PROFILE] [PACKAGE] [--yes|--no] [--json] [--show-mark] [--home DIR]",
                        "upgrade once per radio data file of AutoTest_InFile/ (the \"AutoTest\" series)",
                        RunAutoTest};

int RunAutoTest(const std::vector<std::string>& argv) {
  Args args(argv, {"port", "sim", "home"}, {"yes", "no", "json", "show-mark", "help"});
  if (args.Flag("help")) {
    return Usage(kInfo,
                 "Runs the upgrade once for every file AutoTest_InFile/*.rcdb of the program directory,\n"
                 "in name order, taking the radio data from the file instead of reading them from the\n"
                 "radio. The series goes on after a run ends with a refusal or a package error (reports\n"
                 "2, 10, 17-21, 24, 27) and stops at any other report. The bootloader check is skipped.\n\n" +
                     std::string(kSessionOptionsHelp) +
                     "Here exit status 0 means every file of the series ended with report 2.\n");
  }
  SessionOptions options;
  auto port = args.Number("port");
  if (!args.ok()) return Fail(args.error());
  if (args.Flag("yes") && args.Flag("no")) return Fail("--yes and --no exclude each other");
  if (args.Positionals().size() > 1) return Fail("autotest takes at most one PACKAGE (see --help)");
  options.kind = SessionKind::AutoTest;
  options.port = port;
  options.home = args.Value("home").value_or("");
  options.simProfiles = args.Values("sim");
  if (!args.Positionals().empty()) options.package = args.Positionals()[0];
  options.json = args.Flag("json");
  if (args.Flag("yes")) options.answer = true;
  if (args.Flag("no")) options.answer = false;
  options.showMark = args.Flag("show-mark");
  return RunUpgradeSession(options);
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
