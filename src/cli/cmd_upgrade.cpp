// loftwise-cli upgrade: one full upgrade of the connected (or simulated) radio.
#include "cli/command.h"
#include "cli/upgrade_session.h"

namespace lw::cli {
namespace {

int RunUpgrade(const std::vector<std::string>& argv);

const CommandInfo kInfo{
    "upgrade",
    "upgrade [--port N | --all] [--sim PROFILE]... [PACKAGE] [--yes|--no] [--json] [--show-mark] [--verify] "
    "[--replay COMMLOG] [--home DIR]",
    "upgrade a radio from a package (.fud), as the window's Upgrade button does", RunUpgrade};

int RunUpgrade(const std::vector<std::string>& argv) {
  return RunSessionCommand(kInfo, SessionKind::Upgrade, argv,
                           "Checks the radio's bootloader, reads and identifies its configuration data, applies the\n"
                           "package's rules, backs the data up before they are overwritten, burns every entry of\n"
                           "the package and marks the upgrade complete in the radio. Without PACKAGE the package\n"
                           "is looked up for the radio's model in set.ini's [UPGRADE FILE] rules. set.ini's\n"
                           "\"AutoTest\" is ignored here (see loftwise-cli autotest).\n\n"
                           "--all           upgrade every radio of the port list (with several --sim, every\n"
                           "                simulated radio) at once, each in a worker process of its own; a radio\n"
                           "                that fails does not stop the others. Questions take --yes/--no\n"
                           "                (without either: Yes). A line per radio while they run, a table at the\n"
                           "                end; with --json every event of every radio with \"port\":N added,\n"
                           "                then {\"event\":\"summary\",\"results\":[{\"port\":N,\"code\":C},...]}.\n"
                           "                Status 0 only when every radio ended with report 2\n" +
                               std::string(kSessionOptionsHelp));
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
