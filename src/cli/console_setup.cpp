#include "cli/console_setup.h"

#include "app/front_end_assembly.h"
#include "app/startup.h"
#include "cli/console_port.h"
#include "common/program_dir.h"
#include "link/port_list.h"
#include "ui/translate.h"

namespace lw::cli {

ProgramSettings ReadCommandSettings(const std::string& home) {
  ProgramSettings settings;
  ReadProgramSettings(JoinPath(home, kSettingsFileName), settings);
  return settings;
}

Result<std::unique_ptr<RadioLink>> OpenRadioLink(const std::string& home, const ProgramSettings& settings,
                                                 const std::vector<std::string>& simProfiles,
                                                 const std::string& replay) {
  if (!replay.empty()) return RadioLink::OpenReplay(home, settings, replay);
  return RadioLink::Open(home, settings, simProfiles);
}

StartupState ConsoleStartup(ConsolePort& port, const std::string& home) {
  StartupOptions startup;
  startup.homeOption = home;
  startup.singleInstance = false;
  startup.promptForBackupFolder = false;
  return RunStartup(port, startup);
}

bool SelectRadioPort(RadioLink& link, long long number) {
  return number >= 1 && number <= 255 && link.ports().Select(PortText(int(number)));
}

std::string NoRadioOnPort(long long number) {
  return "no radio on port " + std::to_string(number) + " (see loftwise-cli ports)";
}

std::string ChoosePackageProblem(OperationAssembly& assembly, const std::string& package) {
  if (package.empty()) return {};
  const PackageStatus status = assembly.ChoosePackage(package);
  if (status == PackageStatus::Ok) return {};
  return "the package " + package + " cannot be used: " +
         Translate(status == PackageStatus::OpenFailed ? "Opening file failed!" : "fud file format error!");
}

}  // namespace lw::cli
