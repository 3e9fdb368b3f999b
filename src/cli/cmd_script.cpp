// loftwise-cli script: the burn script of a program directory as the program reads it.
#include <filesystem>
#include <iostream>
#include <sstream>

#include "cli/command.h"
#include "common/program_dir.h"
#include "config/burn_script.h"

namespace lw::cli {
namespace {

int RunScript(const std::vector<std::string>& argv);

const CommandInfo kInfo{"script", "script [--json] [--home DIR]",
                        "print the parsed burn script (Torvex.ini): entries, command lines, values",
                        RunScript};

const char* kDetails =
    "Reads DIR/Torvex.ini (the program directory: --home, else $LOFTWISE_HOME, else the folder\n"
    "of this program) with the program's own reader.\n\n"
    "--json prints one object:\n"
    "  {\"entries\": [{\"name\", \"memoryType\", \"fileSystem\", \"userDefined\", \"modifyAddress\",\n"
    "                \"binary\", \"origin\", \"length\", \"extraOrigin\", \"extraLength\"}],\n"
    "   \"commandLines\": [{\"kind\", \"line\", \"commandPart\", \"optionIndex\", \"optionValue\",\n"
    "                     \"fileMarker\", \"hexFlag\", \"positionFlag\"}],\n"
    "   \"definedValues\": [{\"section\", \"name\", \"value\", \"tag\"}]}\n"
    "Exit status 2 when Torvex.ini cannot be read.\n";

void PrintJson(const BurnScript& s) {
  std::ostringstream o;
  o << "{\"entries\": [";
  bool first = true;
  for (const auto& e : s.Entries()) {
    o << (first ? "\n  " : ",\n  ") << "{\"name\": " << JsonString(e.name)
      << ", \"memoryType\": " << e.memoryType << ", \"fileSystem\": " << e.fileSystem
      << ", \"userDefined\": " << e.userDefined << ", \"modifyAddress\": " << e.modifyAddress
      << ", \"binary\": " << e.binary << ", \"origin\": " << JsonString(e.origin)
      << ", \"length\": " << JsonString(e.length) << ", \"extraOrigin\": " << JsonString(e.extraOrigin)
      << ", \"extraLength\": " << JsonString(e.extraLength) << "}";
    first = false;
  }
  o << "],\n \"commandLines\": [";
  first = true;
  for (const auto& c : s.AllCommandLines()) {
    o << (first ? "\n  " : ",\n  ") << "{\"kind\": " << JsonString(c.kind)
      << ", \"line\": " << JsonString(c.line) << ", \"commandPart\": " << JsonString(c.commandPart)
      << ", \"optionIndex\": " << c.optionIndex << ", \"optionValue\": " << c.optionValue
      << ", \"fileMarker\": " << JsonString(c.fileMarker) << ", \"hexFlag\": " << c.hexFlag
      << ", \"positionFlag\": " << c.positionFlag << "}";
    first = false;
  }
  o << "],\n \"definedValues\": [";
  first = true;
  for (const auto& v : s.DefinedValues()) {
    o << (first ? "\n  " : ",\n  ") << "{\"section\": " << JsonString(v.section)
      << ", \"name\": " << JsonString(v.name) << ", \"value\": " << v.value
      << ", \"tag\": " << JsonString(v.tag) << "}";
    first = false;
  }
  o << "]}\n";
  std::cout << o.str();
}

void PrintText(const BurnScript& s, const std::string& path) {
  std::ostringstream o;
  o << "burn script: " << path << "\n\n[entries] " << s.Entries().size() << "\n";
  for (const auto& e : s.Entries()) {
    o << "  " << e.name << ": origin " << (e.origin.empty() ? "-" : e.origin) << ", length "
      << (e.length.empty() ? "-" : e.length);
    if (!e.extraOrigin.empty() || !e.extraLength.empty())
      o << ", extra origin " << e.extraOrigin << ", extra length " << e.extraLength;
    o << "; memory type " << e.memoryType << ", file system " << e.fileSystem << ", user defined "
      << e.userDefined << ", modify address " << e.modifyAddress << ", binary " << e.binary << "\n";
    for (const auto& c : s.CommandLines(e.name)) {
      o << "      " << c.commandPart;
      if (c.optionIndex != -1) o << "  [index " << c.optionIndex << " = " << c.optionValue << "]";
      if (!c.fileMarker.empty()) o << "  file";
      if (c.hexFlag == 0) o << "  hex";
      if (c.positionFlag == kPositionBegin) o << "  begin";
      if (c.positionFlag == kPositionExtern) o << "  extern";
      if (!c.option.empty()) o << "  " << c.option;
      o << "\n";
    }
  }
  o << "\n[defined values] " << s.DefinedValues().size() << "\n";
  for (const auto& v : s.DefinedValues()) {
    o << "  " << v.section << " / " << v.name << " = " << v.value;
    if (!v.tag.empty()) o << "  (" << v.tag << ")";
    o << "\n";
  }
  std::cout << o.str();
}

int RunScript(const std::vector<std::string>& argv) {
  Args args(argv, {"home"}, {"json", "help"});
  if (!args.ok()) return Fail(args.error());
  if (args.Flag("help")) return Usage(kInfo, kDetails);
  if (!args.Positionals().empty()) return Fail("script takes no arguments (see --help)");
  std::string home = ResolveProgramDirectory(args.Value("home").value_or(""));
  std::error_code ec;
  if (!std::filesystem::is_directory(home, ec)) return Fail("no such program directory: " + home);
  std::string path = JoinPath(home, kBurnScriptFileName);
  BurnScript script;
  if (!script.LoadBurnScript(path)) return Fail("cannot read " + path);
  if (args.Flag("json"))
    PrintJson(script);
  else
    PrintText(script, path);
  return 0;
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
