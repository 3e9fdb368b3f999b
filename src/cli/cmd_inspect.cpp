// loftwise-cli inspect: what an upgrade package holds, as the program reads it. Only the
// header, the restriction lists and the directory are read; the images stay on disk.
#include <iostream>

#include "cli/command.h"
#include "common/program_dir.h"
#include "common/text.h"
#include "config/settings.h"
#include "package/fud_reader.h"
#include "ui/translate.h"

namespace lw::cli {
namespace {

int RunInspect(const std::vector<std::string>& argv);

const CommandInfo kInfo{"inspect", "inspect PACKAGE [--json] [--home DIR]",
                        "print a package's header, restriction lists and directory", RunInspect};

const char* kDetails =
    "Reads the header, the four restriction lists and the directory of PACKAGE (not the\n"
    "images) and prints the header fields, the lists as loaded (version variants and the\n"
    "target appended, model rows with CHANGE ROW markers), forRadioText, contentsText, the\n"
    "two indicators and every directory entry with its data offset. Type names are translated\n"
    "with the language of DIR/set.ini when there is one.\n\n"
    "--json prints one object:\n"
    "  {\"header\": {FIELD: VALUE, ...}, \"versionList\": [TEXT], \"modelList\": [{\"familyKey\",\n"
    "   \"modelNumber\", \"version\"}], \"serialList\": [TEXT], \"tunerList\": [{\"version\",\n"
    "   \"radioTypes\", \"address\", \"length\", \"lowHigh\"}], \"forRadioText\", \"contentsText\",\n"
    "   \"headInfoIndicator\": BOOL, \"cpsDataIndicator\": BOOL, \"entries\": [{\"kindName\",\n"
    "   \"fileName\", \"dataLength\", \"origin\", \"areaLength\", \"externFlag\", \"extendName\",\n"
    "   \"dataOffset\"}]}\n"
    "Exit status 2 when PACKAGE cannot be opened, 3 for a format error (wrong magic, a file\n"
    "shorter than its lists, directory and images, more than 100 entries).\n";

struct HeaderField {
  const char* name;
  const std::string* text;
  const uint32_t* number;
};

std::vector<HeaderField> HeaderFields(const PackageHeader& h) {
  return {{"magic", &h.magic, nullptr},
          {"producerVersion", &h.producerVersion, nullptr},
          {"entryCount", nullptr, &h.entryCount},
          {"keepHeadInfo", nullptr, &h.keepHeadInfo},
          {"keepCpsData", nullptr, &h.keepCpsData},
          {"targetVersion", &h.targetVersion, nullptr},
          {"versionCount", nullptr, &h.versionCount},
          {"modelCount", nullptr, &h.modelCount},
          {"serialCount", nullptr, &h.serialCount},
          {"tunerCount", nullptr, &h.tunerCount},
          {"allRadios", nullptr, &h.allRadios},
          {"forPortable", nullptr, &h.forPortable},
          {"forMobile", nullptr, &h.forMobile},
          {"forRepeater", nullptr, &h.forRepeater},
          {"forPortableTrunking", nullptr, &h.forPortableTrunking},
          {"forMobileTrunking", nullptr, &h.forMobileTrunking},
          {"forOther", nullptr, &h.forOther},
          {"ignoreLetter", nullptr, &h.ignoreLetter},
          {"setModeEnabled", nullptr, &h.setModeEnabled},
          {"setTypeEnabled", nullptr, &h.setTypeEnabled},
          {"modeValue", nullptr, &h.modeValue},
          {"typeValue", nullptr, &h.typeValue},
          {"dataModelNumber", &h.dataModelNumber, nullptr},
          {"compressArmMain", nullptr, &h.compressArmMain}};
}

template <typename T, typename Fn>
std::string Array(const std::vector<T>& items, Fn item) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + item(items[i]);
  return out + "]";
}

std::string Json(const PackageFile& p, const PackageRestrictions& r) {
  std::string out = "{\"header\": {";
  bool first = true;
  for (const auto& f : HeaderFields(p.header)) {
    out += std::string(first ? "" : ", ") + JsonString(f.name) + ": " +
           (f.text ? JsonString(*f.text) : std::to_string(*f.number));
    first = false;
  }
  auto text = [](const std::string& s) { return JsonString(s); };
  out += "}, \"versionList\": " + Array(r.versionList, text);
  out += ", \"modelList\": " + Array(r.modelList, [](const ModelEntry& m) {
    return "{\"familyKey\": " + JsonString(m.familyKey) + ", \"modelNumber\": " + JsonString(m.modelNumber) +
           ", \"version\": " + JsonString(m.version) + "}";
  });
  out += ", \"serialList\": " + Array(r.serialList, text);
  out += ", \"tunerList\": " + Array(r.tunerList, [](const TunerChangeEntry& t) {
    return "{\"version\": " + JsonString(t.version) + ", \"radioTypes\": " + JsonString(t.radioTypes) +
           Format(", \"address\": %u, \"length\": %u, \"lowHigh\": %u}", t.address, t.length, t.lowHigh);
  });
  out += ", \"forRadioText\": " + JsonString(r.forRadioText);
  out += ", \"contentsText\": " + JsonString(r.contentsText);
  out += std::string(", \"headInfoIndicator\": ") + (r.headInfoIndicator ? "true" : "false");
  out += std::string(", \"cpsDataIndicator\": ") + (r.cpsDataIndicator ? "true" : "false");
  out += ", \"entries\": [";
  for (size_t i = 0; i < p.entries.size(); ++i) {
    const DirectoryEntry& e = p.entries[i];
    out += std::string(i ? ", " : "") + "{\"kindName\": " + JsonString(e.kindName) +
           ", \"fileName\": " + JsonString(e.fileName) +
           Format(", \"dataLength\": %u, \"origin\": %u, \"areaLength\": %u, \"externFlag\": %u", e.dataLength,
                  e.origin, e.areaLength, e.externFlag) +
           ", \"extendName\": " + JsonString(e.extendName) +
           Format(", \"dataOffset\": %llu}", (unsigned long long)p.dataOffsets[i]);
  }
  return out + "]}";
}

void PrintText(const std::string& path, const PackageFile& p, const PackageRestrictions& r) {
  std::cout << "package: " << path << " (" << p.fileSize << " bytes)\nheader:\n";
  for (const auto& f : HeaderFields(p.header))
    std::cout << "  " << f.name << ": " << (f.text ? *f.text : std::to_string(*f.number)) << "\n";
  std::cout << "versionList:\n";
  for (const auto& v : r.versionList) std::cout << "  " << v << "\n";
  std::cout << "modelList:\n";
  for (const auto& m : r.modelList) {
    if (m.IsMarker()) std::cout << "  " << kChangeRowKey << "\n";
    else std::cout << "  " << m.familyKey << "  " << m.modelNumber << "  " << m.version << "\n";
  }
  std::cout << "serialList:\n";
  for (const auto& s : r.serialList) std::cout << "  " << s << "\n";
  std::cout << "tunerList:\n";
  for (const auto& t : r.tunerList)
    std::cout << "  " << t.version << "  address=" << t.address << " length=" << t.length
              << " lowHigh=" << t.lowHigh << "  [" << t.radioTypes << "]\n";
  std::cout << "forRadioText: " << r.forRadioText << "\ncontentsText: " << r.contentsText
            << "\nheadInfoIndicator: " << (r.headInfoIndicator ? "yes" : "no")
            << "\ncpsDataIndicator: " << (r.cpsDataIndicator ? "yes" : "no") << "\nentries:\n";
  for (size_t i = 0; i < p.entries.size(); ++i) {
    const DirectoryEntry& e = p.entries[i];
    std::cout << Format("  %zu. %s  file=%s  dataLength=%u origin=0x%X areaLength=0x%X extern=%u extendName=%s "
                        "dataOffset=%llu\n",
                        i + 1, e.kindName.c_str(), e.fileName.c_str(), e.dataLength, e.origin, e.areaLength,
                        e.externFlag, e.extendName.c_str(), (unsigned long long)p.dataOffsets[i]);
  }
}

int RunInspect(const std::vector<std::string>& argv) {
  Args args(argv, {"home"}, {"help", "json"});
  if (!args.ok()) return Fail(args.error());
  if (args.Flag("help")) return Usage(kInfo, kDetails);
  if (args.Positionals().size() != 1) return Fail("inspect needs one PACKAGE (see --help)");
  const std::string& path = args.Positionals()[0];

  // Translated type names, as the window shows them; a missing set.ini leaves them in English.
  std::string home = ResolveProgramDirectory(args.Value("home").value_or(""));
  ProgramSettings settings;
  if (ReadProgramSettings(JoinPath(home, kSettingsFileName), settings)) InitInterfaceLanguage(settings.language, home);

  PackageFile package = ReadPackage(path);
  if (!package.ok()) return Fail(package.error, package.status == PackageStatus::OpenFailed ? 2 : 3);
  PackageRestrictions restrictions;
  ApplyPackage(package, restrictions);
  if (args.Flag("json")) std::cout << Json(package, restrictions) << "\n";
  else PrintText(path, package, restrictions);
  return 0;
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
