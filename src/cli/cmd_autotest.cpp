// loftwise-cli autotest: the auto-test series over AutoTest_InFile/*.rcdb.
#include "cli/command.h"
#include "cli/upgrade_session.h"

namespace lw::cli {
namespace {

int RunAutoTest(const std::vector<std::string>& argv);

const CommandInfo kInfo{"autotest",
                        "autotest [--port N] [--sim PROFILE] [PACKAGE] [--yes|--no] [--json] [--show-mark] [--verify] "
                        "[--replay COMMLOG] [--home DIR]",
                        "upgrade once per radio data file of AutoTest_InFile/ (the \"AutoTest\" series)", RunAutoTest};

int RunAutoTest(const std::vector<std::string>& argv) {
  return RunSessionCommand(kInfo, SessionKind::AutoTest, argv,
                           "Runs the upgrade once for every file AutoTest_InFile/*.rcdb of the program directory,\n"
                           "in name order, taking the radio data from the file instead of reading them from the\n"
                           "radio. The series goes on after a run ends with a refusal or a package error (reports\n"
                           "2, 10, 17-21, 24, 27) and stops at any other report. The bootloader check is skipped.\n\n" +
                               std::string(kSessionOptionsHelp) +
                               "Here exit status 0 means every file of the series ended with report 2.\n");
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
