// loftwise-cli translate: looks texts up in a language file of the program directory.
#include <filesystem>
#include <iostream>

#include "cli/command.h"
#include "common/program_dir.h"
#include "config/settings.h"
#include "ui/translate.h"

namespace lw::cli {
namespace {

int RunTranslate(const std::vector<std::string>& argv);

const CommandInfo kInfo{"translate", "translate [--language English|Chinese] [--home DIR] TEXT...",
                        "print the interface translation of each TEXT, one per line", RunTranslate};

const char* kDetails =
    "Loads DIR/English.lng or DIR/Chinese.lng (the program directory: --home, else\n"
    "$LOFTWISE_HOME, else the folder of this program) and prints the translation of every\n"
    "TEXT on its own line; a text the file does not name is printed unchanged. Without\n"
    "--language the \"Language\" of DIR/set.ini decides, as at program start. A missing\n"
    "language file leaves every text in English (with a warning on stderr), as the program\n"
    "does. Exit status 2 for a usage error.\n";

int RunTranslate(const std::vector<std::string>& argv) {
  Args args(argv, {"home", "language"}, {"help"});
  if (!args.ok()) return Fail(args.error());
  if (args.Flag("help")) return Usage(kInfo, kDetails);
  if (args.Positionals().empty()) return Fail("translate needs at least one TEXT (see --help)");
  std::string home = ResolveProgramDirectory(args.Value("home").value_or(""));
  std::error_code ec;
  if (!std::filesystem::is_directory(home, ec)) return Fail("no such program directory: " + home);

  std::string language;
  if (auto chosen = args.Value("language")) {
    if (*chosen != kLanguageEnglish && *chosen != kLanguageChinese)
      return Fail("--language must be English or Chinese, not \"" + *chosen + "\"");
    language = *chosen;
  } else {
    ProgramSettings settings;
    ReadProgramSettings(JoinPath(home, kSettingsFileName), settings);
    language = settings.language;
  }
  if (!InitInterfaceLanguage(language, home))
    std::cerr << "loftwise-cli: warning: cannot read " << JoinPath(home, LanguageFileName(language))
              << "; texts stay in English\n";
  for (const auto& text : args.Positionals()) std::cout << Translate(text) << "\n";
  return 0;
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
