// loftwise-cli upgrade: one full upgrade of the connected (or simulated) radio.
#include "cli/command.h"
#include "cli/upgrade_session.h"

namespace lw::cli {
namespace {

int RunUpgrade(const std::vector<std::string>& argv);

const CommandInfo kInfo{"upgrade",
                        "upgrade [--port N] [--sim PROFILE] [PACKAGE] [--yes|--no] [--json] [--show-mark] [--home DIR]",
                        "upgrade a radio from a package (.fud), as the window's Upgrade button does", RunUpgrade};

int RunUpgrade(const std::vector<std::string>& argv) {
  Args args(argv, {"port", "sim", "home"}, {"yes", "no", "json", "show-mark", "help"});
  if (args.Flag("help")) {
    return Usage(kInfo,
                 "Checks the radio's bootloader, reads and identifies its configuration data, applies the\n"
                 "package's rules, backs the data up before they are overwritten, burns every entry of\n"
                 "the package and marks the upgrade complete in the radio. Without PACKAGE the package\n"
                 "is looked up for the radio's model in set.ini's [UPGRADE FILE] rules. set.ini's\n"
                 "\"AutoTest\" is ignored here (see loftwise-cli autotest).\n\n" +
                     std::string(kSessionOptionsHelp));
  }
  SessionOptions options;
  auto port = args.Number("port");
  if (!args.ok()) return Fail(args.error());
  if (args.Flag("yes") && args.Flag("no")) return Fail("--yes and --no exclude each other");
  if (args.Positionals().size() > 1) return Fail("upgrade takes at most one PACKAGE (see --help)");
  options.kind = SessionKind::Upgrade;
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
