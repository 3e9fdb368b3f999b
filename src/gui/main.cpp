// loftwise: the desktop window.
#include <QApplication>
#include <QLineEdit>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/front_end_assembly.h"
#include "app/startup.h"
#include "common/program_dir.h"
#include "common/version.h"
#include "engine/conversion_interface.h"
#include "gui/main_window.h"
#include "gui/window_session.h"
#include "ui/translate.h"

namespace {

const char kUsage[] =
    "usage: loftwise [--home DIR] [--sim PROFILE]... [--package FILE.fud] [Qt options]\n"
    "Opens the Loftwise window: choose an upgrade package (.fud), pick the radio's USB port and\n"
    "press Upgrade. Right click the window for the menu (interface language, skins, package\n"
    "language, the radio models a package is for, backup folder).\n"
    "  --home DIR       program directory holding set.ini, Torvex.ini, the language files and\n"
    "                   the skins (default: $LOFTWISE_HOME, else the folder of this program; a\n"
    "                   per-user copy when that folder is not writable)\n"
    "  --sim PROFILE    attach a simulated radio instead of using USB: a profile file, or the\n"
    "                   name of one in the program directory's sim/ folder (portable, repeater);\n"
    "                   repeat it for several radios\n"
    "  --package FILE   choose this upgrade package at start, as the browse button does\n"
    "  --help           this text\n"
    "  --version        print the version and exit\n"
    "A second start brings the running window to the front, unless radios are attached (then\n"
    "each radio may have a window of its own).\n"
    "The window listens for test-station requests on TCP port 5150 at set.ini's \"Remote Bind\n"
    "Address\" (127.0.0.1 as shipped); see docs/remote-control.md.\n";

int Fail(const std::string& text) {
  std::fprintf(stderr, "loftwise: %s\n", text.c_str());
  return 2;
}

struct Arguments {
  std::string home, package;
  std::vector<std::string> simProfiles;
};

// Reads the command line; an exit status when the program ends here (--help, --version, a
// missing value).
std::optional<int> ReadArguments(int argc, char** argv, Arguments& a) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(arg, "--version") == 0) {
      std::fputs(lw::VersionLine("loftwise").c_str(), stdout);
      return 0;
    }
    for (const char* option : {"--home", "--sim", "--package"}) {
      if (std::strcmp(arg, option) != 0) continue;
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return Fail(std::string(option) + " needs a value (see --help)");
      const std::string value = argv[++i];
      if (option[2] == 'h')
        a.home = value;
      else if (option[2] == 's')
        a.simProfiles.push_back(value);
      else
        a.package = value;
    }
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  if (std::optional<int> status = ReadArguments(argc, argv, arguments)) return *status;
  const std::string& home = arguments.home;
  const std::string& package = arguments.package;
  const std::vector<std::string>& simProfiles = arguments.simProfiles;

  QApplication app(argc, argv);
  app.setApplicationName("Loftwise");
  lw::gui::MainWindow window(home);

  // The port scan is part of the start-up: radios of the primary class lift the
  // single-instance rule. The link is made there, with the settings the start-up reads.
  std::unique_ptr<lw::RadioLink> link;
  std::string linkError;
  lw::StartupOptions options;
  options.homeOption = home;
  options.scanPorts = [&] {
    const std::string dir = lw::ChooseProgramDirectory(home).directory;
    lw::ProgramSettings settings;
    lw::ReadProgramSettings(lw::JoinPath(dir, lw::kSettingsFileName), settings);
    auto opened = lw::RadioLink::Open(dir, settings, simProfiles);
    if (opened.ok())
      link = std::move(opened).value();
    else
      linkError = opened.status().message();
    if (!link) {
      if (!simProfiles.empty()) return false;  // reported below, before anything is shown
      link = lw::RadioLink::WithoutRadios(dir, settings);
    }
    return link->Scan() == 1;
  };
  options.onRaise = [&window] {
    QMetaObject::invokeMethod(&window, [&window] { window.BringToFront(); }, Qt::QueuedConnection);
  };
  lw::StartupState state = lw::RunStartup(window.Port(), options);
  if (state.outcome == lw::StartupState::Outcome::AnotherInstanceRuns) return 0;
  if (!link) return Fail(linkError);
  if (!state.programDirectory.problem.empty())
    std::fprintf(stderr, "loftwise: %s; settings and backups will not be kept\n", state.programDirectory.problem.c_str());

  window.Start(std::move(state));
  lw::gui::WindowSession session(window, *link, std::string(lw::BuiltConversionDigest()));
  if (!linkError.empty()) window.Port().LogLine(lw::Translate("USB cannot be used:") + " " + linkError);
  if (!package.empty()) window.ChoosePackagePath(QString::fromStdString(package));
  window.show();
  // Last of the start-up: test stations may drive the window from now on. Without the
  // listener (the port is taken, say) the window works on; the failure is printed.
  if (!session.StartRemoteControl())
    std::fprintf(stderr, "loftwise: the remote control listener cannot be set up on %s:%u\n",
                 window.Settings().remoteBindAddress.c_str(), unsigned(lw::kRemotePort));
  return app.exec();
}
