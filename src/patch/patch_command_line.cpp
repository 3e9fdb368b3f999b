#include "patch/patch_command_line.h"

#include <ostream>

#include "patch/install_record.h"

namespace lw {
namespace {

class ConsoleView : public PatchView {
 public:
  ConsoleView(std::string typed, std::ostream& out, std::ostream& err)
      : typed_(std::move(typed)), out_(out), err_(err) {}

  std::string DirectoryText() const override { return typed_; }
  void ShowDirectory(const std::string& directory) override {
    if (!directory.empty()) out_ << "Install directory: " << directory << "\n";
  }
  void UnlockDirectory() override {}
  void ShowMessage(const std::string& text) override {
    (text == kFinishedMessage ? out_ : err_) << text << "\n";
    if (text == kNoRecordMessage) err_ << "(no install record found: give it with --install-dir DIR)\n";
  }
  void FileReplaced(const std::string& target) override { out_ << "Replaced " << target << "\n"; }

 private:
  std::string typed_;
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace

LumaretOptions ParseLumaretArgs(const std::vector<std::string>& args) {
  LumaretOptions options;
  bool batch = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.mode = LumaretOptions::Mode::kHelp;
      return options;
    }
    if (arg == "--version") {
      options.mode = LumaretOptions::Mode::kVersion;
      return options;
    }
    if (arg == "--batch") {
      batch = true;
    } else if (arg == "--install-dir") {
      if (i + 1 >= args.size()) {
        options.mode = LumaretOptions::Mode::kError;
        options.error = "--install-dir needs a directory";
        return options;
      }
      options.installDir = args[++i];
    } else if (arg.rfind("--install-dir=", 0) == 0) {
      options.installDir = arg.substr(std::string("--install-dir=").size());
    } else if (arg.rfind("--", 0) != 0) {
      options.toolkitArgs.push_back(arg);
    } else {
      options.mode = LumaretOptions::Mode::kError;
      options.error = "unknown argument: " + arg;
      return options;
    }
  }
  if (batch || options.installDir) {
    if (!options.toolkitArgs.empty()) {
      options.mode = LumaretOptions::Mode::kError;
      options.error = "unknown argument: " + options.toolkitArgs.front();
      return options;
    }
    options.mode = LumaretOptions::Mode::kBatch;
  }
  return options;
}

std::string LumaretUsage() {
  return "usage: lumaret [--install-dir DIR | --batch]\n"
         "\n"
         "Installs the patch beside this program into an installed Loftwise: replaces\n"
         "conversion.so, loftwise, English.lng and Chinese.lng there, in that order, then\n"
         "loftwise-cli when the patch holds one. Only files that exist are replaced; a missing\n"
         "one of the four stops the install.\n"
         "\n"
         "Without options the \"Upgrade Patch\" dialog opens. The options run the same steps\n"
         "without a window and exit 0 only when every file was replaced (1 otherwise):\n"
         "  --install-dir DIR  install into DIR\n"
         "  --batch            install into the directory named by the install record\n"
         "  -h, --help         show this text\n"
         "  --version          print the version and exit\n"
         "\n"
         "The install record is written by the install step; it is looked for in\n"
         "$LOFTWISE_INSTALL_RECORD_DIR when that is set, otherwise in\n"
         "$XDG_DATA_HOME/loftwise/install-records (default ~/.local/share/...), then in\n"
         "/var/lib/loftwise/install-records.\n";
}

int RunPatchBatch(const std::string& sourceDirectory, const std::optional<std::string>& installDir,
                  PatchInstaller::LocationSource installLocation, std::ostream& out,
                  std::ostream& err) {
  ConsoleView view(installDir.value_or(std::string()), out, err);
  PatchInstaller installer(sourceDirectory, std::move(installLocation), view);
  if (installDir) installer.UseEditBox();
  out << "Patch files from " << installer.SourceDirectory() << "\n";
  return installer.Press() == PatchResult::kFinished ? 0 : 1;
}

}  // namespace lw
