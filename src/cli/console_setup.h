// What the commands that reach radios set up before their work: the program's settings, the
// radios, the start-up of an operation, the --port selection and the package.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/status.h"
#include "config/settings.h"

namespace lw {
class OperationAssembly;
class RadioLink;
struct StartupState;
}  // namespace lw

namespace lw::cli {

class ConsolePort;

// set.ini of the program directory `home`; a missing file keeps the defaults.
ProgramSettings ReadCommandSettings(const std::string& home);

// The radios of a command: the recording `replay` played back when it is not empty, else the
// simulated radios of `simProfiles`, else real USB; the reason when that fails.
Result<std::unique_ptr<RadioLink>> OpenRadioLink(const std::string& home, const ProgramSettings& settings,
                                                 const std::vector<std::string>& simProfiles,
                                                 const std::string& replay);

// The start-up of a command that runs operations from the console: no single-instance rule, no
// question for the backup folder.
StartupState ConsoleStartup(ConsolePort& port, const std::string& home);

// Selects the radio on port `number` (--port); false when there is none.
bool SelectRadioPort(RadioLink& link, long long number);
std::string NoRadioOnPort(long long number);

// Chooses PACKAGE (none when empty); the message for Fail when it cannot be used, else "".
std::string ChoosePackageProblem(OperationAssembly& assembly, const std::string& package);

}  // namespace lw::cli
