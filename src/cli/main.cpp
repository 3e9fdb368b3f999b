// loftwise-cli: the engine without a window. Each subcommand is its own file.
#include <iostream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "common/version.h"

namespace {
int PrintHelp() {
  std::cout << "usage: loftwise-cli COMMAND [OPTIONS]\n\n"
               "Loftwise without a window: upgrades, checks and tools for radios and packages.\n"
               "Every command takes --home DIR (the program directory; default: $LOFTWISE_HOME,\n"
               "else the folder of this program) and --help. loftwise-cli --version prints the\n"
               "version.\n\ncommands:\n";
  for (const auto& [name, info] : lw::cli::Commands())
    std::cout << "  " << info.synopsis << "\n      " << info.summary << "\n";
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") return PrintHelp();
  if (args[0] == "--version") {
    std::cout << lw::VersionLine("loftwise-cli");
    return 0;
  }
  auto& commands = lw::cli::Commands();
  auto it = commands.find(args[0]);
  if (it == commands.end()) return lw::cli::Fail("unknown command \"" + args[0] + "\" (see --help)");
  return it->second.run(std::vector<std::string>(args.begin() + 1, args.end()));
}
