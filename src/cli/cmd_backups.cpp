// loftwise-cli backups: the restore list of the backup directory, and deleting a backup.
#include <iostream>

#include "app/startup.h"
#include "cli/command.h"
#include "cli/console_port.h"
#include "common/program_dir.h"
#include "config/settings.h"
#include "engine/restore_list.h"
#include "ui/translate.h"

namespace lw::cli {
namespace {

int RunBackups(const std::vector<std::string>& argv);

const CommandInfo kInfo{"backups", "backups [--serial SN] [--delete FILE [--yes|--no]] [--json] [--home DIR]",
                        "list the radio data backups (.rcd) of the backup directory, or delete one",
                        RunBackups};

const char* kDetails =
    "The backup directory is \"RestoreLoad\" of set.ini when \"RestoreLoadFlag\" is TRUE, else\n"
    "Restore/ in the program directory. One row per backup, sorted by file name, with the\n"
    "serial number and date taken from the name SERIAL[YYYY-MM-DD hh.mm.ss].rcd.\n\n"
    "--serial SN     mark the first backup of radio SN (the row \"Restore\" would use)\n"
    "--delete FILE   delete the backup FILE (its file name, or its full path) after asking;\n"
    "                --yes / --no answer the question without asking. Otherwise it is asked\n"
    "                on the terminal; with no terminal, or with --json, the answer is no: a\n"
    "                backup may be the only copy of a radio's data.\n"
    "--json          one object: {\"backupDirectory\": PATH, \"rows\": [{\"serial\", \"date\",\n"
    "                \"fileName\", \"path\", \"ticked\"}]}; with --delete the question is a\n"
    "                {\"event\":\"question\",...} line and the list after it follows.\n\n"
    "Exit status: 0 listed or deleted, 1 deletion declined, 2 error (no such backup, the file\n"
    "could not be deleted, bad options).\n";

void PrintRows(const RestoreList& list, const std::string& backupDir, bool json) {
  if (json) {
    std::cout << "{\"backupDirectory\": " << JsonString(backupDir) << ", \"rows\": [";
    bool first = true;
    for (const auto& r : list.rows()) {
      std::cout << (first ? "" : ", ") << "{\"serial\": " << JsonString(r.serial) << ", \"date\": "
                << JsonString(r.date) << ", \"fileName\": " << JsonString(r.fileName) << ", \"path\": "
                << JsonString(r.path) << ", \"ticked\": " << (r.ticked ? "true" : "false") << "}";
      first = false;
    }
    std::cout << "]}" << std::endl;
    return;
  }
  std::cout << Translate("Path") << ": " << backupDir << "\n";
  if (list.empty()) return;
  const auto& columns = RestoreColumns();
  std::cout << Translate(columns[0].title) << "\t" << Translate(columns[1].title) << "\t"
            << Translate(columns[2].title) << "\t" << Translate(columns[3].title) << "\n";
  for (const auto& r : list.rows())
    std::cout << (r.ticked ? "[x]" : "[ ]") << "\t" << r.serial << "\t" << r.date << "\t" << r.fileName << "\n";
}

int RunBackups(const std::vector<std::string>& argv) {
  Args args(argv, {"home", "serial", "delete"}, {"json", "yes", "no", "help"});
  if (!args.ok()) return Fail(args.error());
  if (args.Flag("help")) return Usage(kInfo, kDetails);
  if (!args.Positionals().empty()) return Fail("unexpected argument \"" + args.Positionals()[0] + "\"");
  if (args.Flag("yes") && args.Flag("no")) return Fail("--yes and --no exclude each other");
  if ((args.Flag("yes") || args.Flag("no")) && !args.Value("delete")) return Fail("--yes / --no need --delete");
  bool json = args.Flag("json");

  ProgramDirectoryChoice home = ChooseProgramDirectory(args.Value("home").value_or(""));
  ProgramSettings settings;
  ReadProgramSettings(JoinPath(home.directory, kSettingsFileName), settings);
  InitInterfaceLanguage(settings.language, home.directory);
  std::string backupDir = BackupDirectory(settings, home.directory);

  RestoreList list(backupDir, args.Value("serial").value_or(""));
  auto toDelete = args.Value("delete");
  if (!toDelete) {
    PrintRows(list, backupDir, json);
    return 0;
  }

  std::optional<size_t> row;
  for (size_t i = 0; i < list.rows().size() && !row; ++i)
    if (list.rows()[i].fileName == *toDelete || list.rows()[i].FullPath() == *toDelete) row = i;
  if (!row) return Fail("no backup \"" + *toDelete + "\" in " + backupDir);
  list.Select(row);

  std::optional<bool> preset;
  if (args.Flag("yes")) preset = true;
  if (args.Flag("no")) preset = false;
  ConsolePort port(ConsolePort::ForTerminal(json, preset), std::cout, std::cerr, std::cin);
  switch (list.DeleteSelected(port)) {
    case RestoreList::DeleteOutcome::Deleted:
      PrintRows(list, backupDir, json);
      return 0;
    case RestoreList::DeleteOutcome::Declined:
      return 1;
    default:
      return 2;
  }
}

LW_CLI_COMMAND(kInfo);

}  // namespace
}  // namespace lw::cli
