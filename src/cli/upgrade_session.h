// One radio operation from the console: what "upgrade", "restore" and "autotest" share. It
// runs the program's start-up, opens the radios (USB, or simulated with --sim), and drives the
// same operation controller and runner as the window, with the console as the window port.
//
// Exit status: 0 when every operation ended with report 2 ("Upgrading Finished!"), 1 when one
// ended with any other report or the watchdog, 2 for bad input (one line on stderr).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lw::cli {

enum class SessionKind { Upgrade, Restore, AutoTest };

struct SessionOptions {
  SessionKind kind = SessionKind::Upgrade;
  std::string home;                   // --home
  std::vector<std::string> simProfiles;  // --sim (repeatable)
  std::optional<long long> port;      // --port N: the radio to use; else the list's choice
  std::string package;                // PACKAGE; empty: looked up by the radio's model
  std::string restorationFile;        // restore: BACKUP.rcd
  bool json = false;
  std::optional<bool> answer;         // --yes / --no
  bool showMark = false;              // --show-mark: read the InfoBlock after the run
  bool verify = false;                // --verify: read back every written area (as "Verify Writes")
  std::string replay;                 // --replay COMMLOG: a recorded session plays the radio
  bool all = false;                   // --all: every radio at once, one worker process each
  std::string traceFile;              // --trace-file NAME: the trace's file in the program directory
  bool radioEvent = false;            // --radio-event: end --json with the radio's serial and model
};

int RunUpgradeSession(const SessionOptions& options);
// upgrade --all (upgrade_all.cpp).
int RunUpgradeAll(const SessionOptions& options);

// Shared option text of the three commands.
extern const char* const kSessionOptionsHelp;

struct CommandInfo;
}  // namespace lw::cli

namespace lw {
class ReplayBackend;
}  // namespace lw

namespace lw::cli {
// After a replayed run: how the replay ended (a divergence, a recording that ran out), on
// stderr, or as {"event":"replay",...} with --json.
void ReportReplay(const ReplayBackend& replay, bool json);

// The command line of "upgrade" and "autotest": [--port N] [--sim PROFILE]... [PACKAGE]
// [--yes|--no] [--json] [--show-mark] [--verify] [--replay COMMLOG] [--home DIR]. Prints the usage with `details` on --help,
// one error line for bad options, else runs the session of `kind`.
int RunSessionCommand(const CommandInfo& info, SessionKind kind, const std::vector<std::string>& argv,
                      const std::string& details);

}  // namespace lw::cli
