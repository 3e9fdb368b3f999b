// loftwise-cli md5: the MD5 digest the component check computes, for any file.
#include <iostream>

#include "cli/command.h"
#include "engine/md5.h"

namespace lw::cli {
namespace {

int RunMd5(const std::vector<std::string>& argv);

const CommandInfo kInfo{"md5", "md5 FILE...", "print the MD5 digest of files (as md5sum does)", RunMd5};

int RunMd5(const std::vector<std::string>& argv) {
  Args args(argv, {"home"}, {"help"});
  if (args.Flag("help"))
    return Usage(kInfo,
                 "Prints \"DIGEST  FILE\" per file, 32 lowercase hex digits. Exit status 2 when a\n"
                 "file cannot be read (the other files are still printed).\n");
  if (!args.ok()) return Fail(args.error());
  if (args.Positionals().empty()) return Fail("md5 needs at least one FILE");
  int status = 0;
  for (const std::string& path : args.Positionals()) {
    const auto digest = Md5OfFile(path, 1 << 20);
    if (!digest) {
      status = Fail("cannot read " + path);
      continue;
    }
    std::cout << Md5Hex(*digest) << "  " << path << "\n";
  }
  return status;
}

LW_CLI_COMMAND(kInfo);

}  // namespace
}  // namespace lw::cli
