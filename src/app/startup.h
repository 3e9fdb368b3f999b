// Start-up of Loftwise, the part without drawing. Both front ends call RunStartup first and
// then draw (the window) or act (the console) with what it returns. The order matters; later
// steps rely on earlier ones:
//
//   1. program directory (the executable's folder, --home, $LOFTWISE_HOME; a per-user copy
//      when that folder is not writable)
//   2. settings: set.ini (main keys, upgrade rules, tuner rules, radio rules), Lumaret.txt,
//      EquipmentSn.txt
//   3. the temporary script file name
//   4. the interface language file
//   5. the port scan (done by the front end through a callback), then the single-instance
//      rule unless radios of the primary class were found
//   6. the burn script Torvex.ini
//   7. the backup directory check ("tmp.rcd"), with the folder prompt when it fails
//   8. the count of backups, which decides whether the "Restore" button shows
// The remote-control server is started by the front end after this (it needs the window).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/single_instance.h"
#include "common/status.h"
#include "common/window_port.h"
#include "config/burn_script.h"
#include "config/settings.h"

namespace lw {

// --- Program directory ---------------------------------------------------------------------

struct ProgramDirectoryChoice {
  std::string directory;     // where the program reads and writes its files; ends in '/'
  std::string shipped;       // the folder the files were shipped in; ends in '/'
  bool perUserCopy = false;  // directory is the per-user copy of `shipped`
  std::string problem;       // why neither folder is writable (empty when all is well)
};

// $XDG_DATA_HOME/loftwise/, or ~/.local/share/loftwise/ when XDG_DATA_HOME is not set.
std::string PerUserDataDirectory();

// True when files can be created in `dir` (tried, not guessed from permission bits: a
// read-only mount or an ACL says no where the bits say yes).
bool IsWritableDirectory(const std::string& dir);

// The program directory from --home (may be empty), $LOFTWISE_HOME or the executable's
// folder. When it is not writable (an installation under /usr, say) the per-user copy is
// used instead, brought up to date with the shipped files first.
ProgramDirectoryChoice ChooseProgramDirectory(const std::string& homeOption);
// The same from a given shipped folder and per-user folder.
ProgramDirectoryChoice ChooseProgramDirectoryFrom(const std::string& shipped, const std::string& perUser);

// Brings `copy` up to date with the files of `shipped` (recursively): a file the copy lacks,
// or whose size or modification time differs from the shipped one, is copied anew, so that a
// patched or upgraded installation reaches every user. set.ini is the exception: it is the
// operator's own once it exists. Files that only the copy has (backups, logs, results) are
// left alone. Programs are not copied; shared libraries are (the conversion library is loaded
// from the program directory). An error with the reason when the copy cannot be made.
Status RefreshPerUserCopy(const std::string& shipped, const std::string& copy);

// --- Small pieces ----------------------------------------------------------------------------

// ProgramDirectory + "UpgradeFile/temp" + "%04d%02d%02d%02d%02d%02d%05d" (year, month, day,
// hour, minute, second, milliseconds in five digits) + ".spt", in local time.
std::string TemporaryScriptFileName(const std::string& programDir,
                                    std::chrono::system_clock::time_point when = std::chrono::system_clock::now());

// The backup directory check: creates "tmp.rcd" in `backupDir` (creating a missing folder)
// and deletes it again. When that fails the operator is asked for a folder ("Please select the
// backup file storage path!"); a chosen folder becomes the backup directory and is stored in
// set.ini as "RestoreLoadFlag" = "TRUE" and "RestoreLoad" = the folder with a trailing '/'.
enum class BackupDirectoryCheck { Writable, FolderChosen, Cancelled };
BackupDirectoryCheck CheckBackupDirectory(WindowPort& port, const std::string& programDir,
                                          ProgramSettings& settings, std::string& backupDir);

// --- The whole start-up ----------------------------------------------------------------------

struct StartupOptions {
  std::string homeOption;  // --home
  // Fills the port selector and returns true when radios of the primary class were found.
  std::function<bool()> scanPorts;
  // Called (on the listener thread) when a later instance asks this one to come forward.
  std::function<void()> onRaise;
  // The console front end runs alongside the window and other consoles: it does not take
  // part in the single-instance rule.
  bool singleInstance = true;
  // Where the single-instance lock and socket live; empty: SingleInstance's default.
  std::string runtimeDirectory;
  // Ask for a backup folder when the backup directory is not writable (the window does; a
  // console run just reports it).
  bool promptForBackupFolder = true;
};

struct StartupState {
  enum class Outcome { Run, AnotherInstanceRuns };
  Outcome outcome = Outcome::Run;

  ProgramDirectoryChoice programDirectory;
  ProgramSettings settings;
  UpgradeRules upgradeRules;
  std::vector<TunerRule> tunerRules;
  std::vector<RadioRule> radioRules;
  std::vector<MacEntry> macList;
  std::vector<SerialEntry> serialList;
  std::string temporaryScriptFile;
  bool languageLoaded = false;
  bool primaryRadiosFound = false;
  std::unique_ptr<SingleInstance> instance;  // held until the exit sequence
  BurnScript burnScript;
  bool burnScriptLoaded = false;
  std::string backupDirectory;
  BackupDirectoryCheck backupCheck = BackupDirectoryCheck::Writable;
  bool restoreButtonVisible = false;  // at least one backup exists
};

// Runs the steps above. With Outcome::AnotherInstanceRuns the running instance has been
// asked to come forward and this process should exit with status 0, showing nothing.
StartupState RunStartup(WindowPort& port, const StartupOptions& options);

}  // namespace lw
