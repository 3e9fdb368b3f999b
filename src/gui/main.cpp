// loftwise: the desktop window.
#include <QApplication>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/program_dir.h"
#include "gui/main_window.h"

namespace {

const char kUsage[] =
    "usage: loftwise [--home DIR] [Qt options]\n"
    "Opens the Loftwise window: choose an upgrade package (.fud), pick the radio's USB port and\n"
    "press Upgrade. Right click the window for the menu (interface language, skins, package\n"
    "language, backup folder).\n"
    "  --home DIR   program directory holding set.ini, the language files and the skins\n"
    "               (default: $LOFTWISE_HOME, else the folder of this program)\n"
    "  --help       this text\n";

}  // namespace

int main(int argc, char** argv) {
  std::string home;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--home") == 0) {
      if (i + 1 >= argc) {
        std::fputs("loftwise: --home needs a folder\n", stderr);
        return 2;
      }
      home = argv[++i];
    }
  }
  QApplication app(argc, argv);
  app.setApplicationName("Loftwise");
  lw::gui::MainWindow window(lw::ResolveProgramDirectory(home));
  window.Start();
  // INTEGRATION POINT: the operation controller (app/operation_controller.h), the port list
  // with hot-plug, the single-instance rule and the start-up checks attach to `window` here
  // through its hooks (onUpgrade, onRestore, onPackageChosen, onForRadio, onExitRequested) and
  // its WindowPort.
  window.show();
  return app.exec();
}
