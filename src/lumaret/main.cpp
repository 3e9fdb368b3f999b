// lumaret: installs the patch beside it into an installed Loftwise. Opens the "Upgrade Patch"
// dialog, or with --install-dir / --batch runs the same steps on the console.
#include <QApplication>
#include <cstdlib>
#include <iostream>

#include "common/program_dir.h"
#include "common/version.h"
#include "patch/install_record.h"
#include "patch/patch_command_line.h"
#include "patch_dialog.h"

namespace {

int UsageError(const std::string& message) {
  std::cerr << "lumaret: " << message << " (see lumaret --help)\n";
  return 2;
}

bool HasDisplay(const lw::LumaretOptions& options) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  for (const std::string& arg : options.toolkitArgs) {
    if (arg == "-platform") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const lw::LumaretOptions options =
      lw::ParseLumaretArgs(std::vector<std::string>(argv + 1, argv + argc));
  switch (options.mode) {
    case lw::LumaretOptions::Mode::kHelp:
      std::cout << lw::LumaretUsage();
      return 0;
    case lw::LumaretOptions::Mode::kVersion:
      std::cout << lw::VersionLine("lumaret");
      return 0;
    case lw::LumaretOptions::Mode::kError:
      return UsageError(options.error);
    case lw::LumaretOptions::Mode::kBatch:
      return lw::RunPatchBatch(lw::ExecutableDirectory(), options.installDir,
                               lw::ReadInstallLocation, std::cout, std::cerr);
    case lw::LumaretOptions::Mode::kWindow:
      break;
  }
  if (!HasDisplay(options)) {
    return UsageError("no display for the dialog; use --install-dir DIR or --batch");
  }

  QApplication app(argc, argv);
  // The toolkit has taken its own arguments out of argv; anything left is a mistake.
  const lw::LumaretOptions rest =
      lw::ParseLumaretArgs(std::vector<std::string>(argv + 1, argv + argc));
  if (!rest.toolkitArgs.empty()) return UsageError("unknown argument: " + rest.toolkitArgs.front());

  lw::PatchDialog dialog(lw::ExecutableDirectory(), lw::ReadInstallLocation);
  dialog.show();
  return app.exec();
}
