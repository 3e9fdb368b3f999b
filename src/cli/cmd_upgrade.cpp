// loftwise-cli upgrade: one full upgrade of the connected (or simulated) radio.
#include "cli/command.h"
#include "cli/upgrade_session.h"

namespace lw::cli {
namespace {

int RunUpgrade(const std::vector<std::string>& argv);

const CommandInfo kInfo{"upgrade",
                        "upgrade [--port N | --all] [--sim PROFILE]... [PACKAGE] [--yes|--no] [--json] [--show-mark] [--verify] "
                        "[--replay COMMLOG] [--home DIR]",
                        "upgrade a radio from a package (.fud), as the window's Upgrade button does", RunUpgrade};

int RunUpgrade(const std::vector<std::string>& argv) {
  return RunSessionCommand(kInfo, SessionKind::Upgrade, argv,
                           "Checks the radio's bootloader, reads and identifies its configuration data, applies the\n"
                           "package's rules, backs the data up before they are overwritten, burns every entry of\n"
                           "the package and marks the upgrade complete in the radio. Without PACKAGE the package\n"
                           "is looked up for the radio's model in set.ini's [UPGRADE FILE] rules. set.ini's\n"
                           "\"AutoTest\" is ignored here (see loftwise-cli autotest).\n\n" +
                               std::string(kSessionOptionsHelp));
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
