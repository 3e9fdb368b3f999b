// loftwise-cli check: would the upgrade admit this radio to this package?
#include <fstream>
#include <iostream>
#include <iterator>

#include "cli/command.h"
#include "common/program_dir.h"
#include "common/text.h"
#include "config/settings.h"
#include "package/eligibility.h"
#include "package/fud_reader.h"
#include "package/radio_identity.h"
#include "ui/translate.h"

namespace lw::cli {
namespace {

int RunCheck(const std::vector<std::string>& argv);

const CommandInfo kInfo{"check",
                        "check PACKAGE RADIO_FILE [--package-chosen|--no-package-chosen] [--json] [--home DIR]",
                        "apply the package's eligibility rules to a radio", RunCheck};

const char* kDetails =
    "RADIO_FILE is a radio identity file (the identity request layout, at most 1024 bytes) or a\n"
    "radio data image (RCDB or record list). The identity read from it is held against the\n"
    "restrictions of PACKAGE and the \"Digital Type\" and \"Encrypt Len\" of DIR/set.ini, in the\n"
    "upgrade's order: radio type (19), mode character (18), encryption character (18),\n"
    "version (17), customer code (27), then, when a package is chosen (the default), model\n"
    "(18) and serial number (24). Prints the identity and \"admit\" or the refusal code and its\n"
    "payload.\n\n"
    "--json prints {\"identity\": {\"formatVersion\", \"modelNumber\", \"softwareVersion\",\n"
    "\"serialNumber\", \"variantCode\", \"restrictionCode\"}, \"code\": 100 or the refusal code,\n"
    "\"payload\": TEXT}.\n"
    "Exit status 0 when admitted, 1 for a refusal, 2 when a file cannot be read (the package,\n"
    "RADIO_FILE, set.ini) or holds no identity.\n";

int RunCheck(const std::vector<std::string>& argv) {
  Args args(argv, {"home"}, {"help", "json", "package-chosen", "no-package-chosen"});
  if (!args.ok()) return Fail(args.error());
  if (args.Flag("help")) return Usage(kInfo, kDetails);
  if (args.Positionals().size() != 2) return Fail("check needs PACKAGE and RADIO_FILE (see --help)");
  if (args.Flag("package-chosen") && args.Flag("no-package-chosen"))
    return Fail("--package-chosen and --no-package-chosen exclude each other");
  bool chosen = !args.Flag("no-package-chosen");
  const std::string& packagePath = args.Positionals()[0];
  const std::string& radioPath = args.Positionals()[1];

  std::string home = ResolveProgramDirectory(args.Value("home").value_or(""));
  ProgramSettings settings;
  std::string settingsPath = JoinPath(home, kSettingsFileName);
  if (!ReadProgramSettings(settingsPath, settings)) return Fail("cannot read " + settingsPath);
  InitInterfaceLanguage(settings.language, home);

  PackageRestrictions restrictions;
  PackageFile package = ReadPackage(packagePath);
  if (!package.ok()) return Fail(package.error);
  ApplyPackage(package, restrictions);

  std::ifstream file(radioPath, std::ios::binary);
  if (!file) return Fail("cannot open radio file " + radioPath);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  RadioFileIdentity read = IdentityFromRadioFile(bytes);
  if (!read.identity) {
    // The text an upgrade shows for such data, in the operator's language, then the file.
    if (read.image.recordListError)
      return Fail(RecordListFailureText(read.image.recordListError) + "\n(" + radioPath + ")");
    if (IsUnidentifiableKind(read.image.formatKind))
      return Fail(Format("no radio identity in %s: unidentifiable RCDB format (kind %d)", radioPath.c_str(),
                         read.image.formatKind));
    return Fail("no radio identity in " + radioPath);
  }
  const RadioIdentity& id = *read.identity;
  auto verdict = Eligibility(restrictions, settings).Evaluate(id, chosen);

  if (args.Flag("json")) {
    std::cout << "{\"identity\": {\"formatVersion\": " << JsonString(id.formatVersion)
              << ", \"modelNumber\": " << JsonString(id.modelNumber)
              << ", \"softwareVersion\": " << JsonString(id.softwareVersion)
              << ", \"serialNumber\": " << JsonString(id.serialNumber)
              << ", \"variantCode\": " << JsonString(id.variantCode) << ", \"restrictionCode\": " << id.restrictionCode
              << "}, \"code\": " << verdict.code << ", \"payload\": " << JsonString(verdict.payload) << "}\n";
  } else {
    const char* kinds[] = {"RCDB image", "record list", "identity file"};
    std::cout << "radio (" << kinds[int(read.kind)] << "):\n"
              << "  formatVersion: " << id.formatVersion << "\n  modelNumber: " << id.modelNumber
              << "\n  softwareVersion: " << id.softwareVersion << "\n  serialNumber: " << id.serialNumber
              << "\n  variantCode: " << id.variantCode << "\n  restrictionCode: " << id.restrictionCode << "\n";
    if (verdict.admitted()) std::cout << "admit\n";
    else std::cout << "refused: " << verdict.code << " " << verdict.payload << "\n";
  }
  return verdict.admitted() ? 0 : 1;
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
