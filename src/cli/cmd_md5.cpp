// loftwise-cli md5: the MD5 digest the component check computes, for any file.
#include <iostream>

#include "cli/command.h"
#include "common/program_dir.h"
#include "engine/component_check.h"
#include "engine/conversion_interface.h"
#include "engine/md5.h"

namespace lw::cli {
namespace {

int RunMd5(const std::vector<std::string>& argv);

const CommandInfo kInfo{"md5", "md5 FILE... | md5 --conversion [--home DIR]",
                        "print the MD5 digest of files (as md5sum does), or check conversion.so", RunMd5};

// The component check an upgrade starts with, on its own.
int CheckConversion(const Args& args) {
  const std::string dir = ResolveProgramDirectory(args.Value("home").value_or(""));
  const std::string path = ConversionLibraryPath(dir);
  const auto digest = FileDigestText(path);
  std::cout << "built with: " << BuiltConversionDigest() << "\n"
            << "found:      " << (digest ? *digest : std::string("(cannot read ") + path + ")") << "\n";
  ConversionLibrary library;
  if (library.Load(dir, BuiltConversionDigest()) != 0)
    return Fail(std::string(kComponentCheckFailedText) + " (" + library.error() + ")");
  std::cout << path << ": OK\n";
  return 0;
}

int RunMd5(const std::vector<std::string>& argv) {
  Args args(argv, {"home"}, {"help", "conversion"});
  if (args.Flag("help"))
    return Usage(kInfo,
                 "Prints \"DIGEST  FILE\" per file, 32 lowercase hex digits. Exit status 2 when a\n"
                 "file cannot be read (the other files are still printed).\n\n"
                 "--conversion runs the component check of an upgrade: the digest of conversion.so in\n"
                 "the program directory must equal the one this program was built with, and the\n"
                 "library must load. Exit status 2 when it fails.\n");
  if (!args.ok()) return Fail(args.error());
  if (args.Flag("conversion")) {
    if (!args.Positionals().empty()) return Fail("md5 --conversion takes no FILE");
    return CheckConversion(args);
  }
  if (args.Positionals().empty()) return Fail("md5 needs at least one FILE");
  int status = 0;
  for (const std::string& path : args.Positionals()) {
    const auto digest = Md5OfFile(path, 1 << 16);
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
