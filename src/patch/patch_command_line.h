// Lumaret's command line. Without options it opens the dialog; `--install-dir DIR` or `--batch`
// run the same steps without a window (for scripted installs) and print the same messages.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "patch/patch_installer.h"

namespace lw {

struct LumaretOptions {
  enum class Mode { kWindow, kBatch, kHelp, kVersion, kError };
  Mode mode = Mode::kWindow;
  std::optional<std::string> installDir;  // --install-dir: taken like text typed in the box
  std::string error;                      // kError: what was wrong, one line
  // Arguments that are not ours and do not start with "--" (-platform offscreen, -style ...):
  // handed to the window toolkit, which must consume them all; refused in batch mode.
  std::vector<std::string> toolkitArgs;
};

// `args` excludes the program name.
LumaretOptions ParseLumaretArgs(const std::vector<std::string>& args);

std::string LumaretUsage();

// Runs one press of the button without a window. A given directory is used like text typed
// into the edit box; without it the install record is read. Progress and the final message go
// to `out`, failures to `err`. Returns the exit status: 0 only on "Upgrade Patch Finished!",
// 1 for every failure.
int RunPatchBatch(const std::string& sourceDirectory, const std::optional<std::string>& installDir,
                  PatchInstaller::LocationSource installLocation, std::ostream& out,
                  std::ostream& err);

}  // namespace lw
