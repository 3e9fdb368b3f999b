#include "app/startup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "common/program_dir.h"
#include "common/text.h"
#include "engine/backup_store.h"
#include "ui/translate.h"

namespace lw {
namespace fs = std::filesystem;

namespace {

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

bool IsProgramFile(const fs::directory_entry& entry) {
  std::error_code ec;
  fs::perms perms = entry.status(ec).permissions();
  if (ec) return false;
  bool executable = (perms & (fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec)) != fs::perms::none;
  std::string name = entry.path().filename().string();
  return executable && !EndsWith(name, ".so") && !Contains(name, ".so.");
}

// What the operator's program writes among the shipped files: once the copy has it, it is
// the operator's and never replaced from the installation.
bool IsUsersOwn(const fs::path& relative, const fs::path& target) {
  std::error_code ec;
  return relative == fs::path(kSettingsFileName) && fs::exists(target, ec);
}

// The copy carries the shipped file's modification time, so size and time together tell
// whether the installation has changed the file since it was copied (as rsync decides).
bool SameAsShipped(const fs::directory_entry& shipped, const fs::path& target) {
  std::error_code ec;
  fs::directory_entry copy(target, ec);
  if (ec || !copy.is_regular_file(ec)) return false;
  const auto size = copy.file_size(ec);
  if (ec || size != shipped.file_size(ec) || ec) return false;
  const auto time = copy.last_write_time(ec);
  return !ec && time == shipped.last_write_time(ec) && !ec;
}

// Creates `file` and deletes it again; true when both worked.
bool ProbeFile(const std::string& file) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool wrote = ::write(fd, "probe", 5) == 5;
  ::close(fd);
  return ::unlink(file.c_str()) == 0 && wrote;
}

}  // namespace

std::string PerUserDataDirectory() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome && *dataHome == '/') return WithSlash(std::string(dataHome) + "/loftwise");
  const char* home = std::getenv("HOME");
  return WithSlash(std::string(home && *home ? home : "/tmp") + "/.local/share/loftwise");
}

bool IsWritableDirectory(const std::string& dir) {
  std::string probe = WithSlash(dir) + ".write-probe-XXXXXX";
  int fd = ::mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

Status RefreshPerUserCopy(const std::string& shipped, const std::string& copy) {
  std::error_code ec;
  fs::create_directories(copy, ec);
  if (ec) return Status::Error("cannot create " + copy + ": " + ec.message());
  fs::recursive_directory_iterator it(shipped, fs::directory_options::skip_permission_denied, ec), end;
  if (ec) return Status::Error("cannot read " + shipped + ": " + ec.message());
  for (; it != end; it.increment(ec)) {
    if (ec) break;
    fs::path relative = fs::relative(it->path(), shipped, ec);
    if (ec) break;
    fs::path target = fs::path(copy) / relative;
    std::error_code typeError;
    if (it->is_directory(typeError)) {
      fs::create_directories(target, ec);
    } else if (it->is_regular_file(typeError) && !IsProgramFile(*it) && !IsUsersOwn(relative, target) &&
               !SameAsShipped(*it, target)) {
      // Copied beside the target under a name of this process and renamed over it: a
      // program starting at the same time never loads a half-written conversion library,
      // and two starting together never write into one temporary file.
      fs::path partial = target;
      partial += ".partial-" + std::to_string(::getpid());
      fs::copy_file(it->path(), partial, fs::copy_options::overwrite_existing, ec);
      if (!ec) fs::last_write_time(partial, it->last_write_time(typeError), ec);
      if (!ec) fs::rename(partial, target, ec);
      if (ec) fs::remove(partial, typeError);
    }
    if (ec) break;
  }
  if (ec) return Status::Error("cannot copy " + shipped + " to " + copy + ": " + ec.message());
  return Status::Ok();
}

ProgramDirectoryChoice ChooseProgramDirectoryFrom(const std::string& shipped, const std::string& perUser) {
  ProgramDirectoryChoice choice;
  choice.shipped = WithSlash(shipped);
  choice.directory = choice.shipped;
  if (IsWritableDirectory(choice.shipped)) return choice;

  std::string copy = WithSlash(perUser);
  const Status refreshed = RefreshPerUserCopy(choice.shipped, copy);
  if (refreshed.ok() && IsWritableDirectory(copy)) {
    choice.directory = copy;
    choice.perUserCopy = true;
    return choice;
  }
  // Nowhere to write: run from the shipped files; settings and backups will not be saved.
  choice.problem =
      choice.shipped + " is not writable" + (refreshed.message().empty() ? "" : " and " + refreshed.message());
  return choice;
}

ProgramDirectoryChoice ChooseProgramDirectory(const std::string& homeOption) {
  return ChooseProgramDirectoryFrom(ResolveProgramDirectory(homeOption), PerUserDataDirectory());
}

std::string TemporaryScriptFileName(const std::string& programDir, std::chrono::system_clock::time_point when) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
  std::tm t{};
  localtime_r(&seconds, &t);
  return JoinPath(programDir, "UpgradeFile/temp") +
         Format("%04d%02d%02d%02d%02d%02d%05d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                t.tm_sec, int(millis)) +
         ".spt";
}

BackupDirectoryCheck CheckBackupDirectory(WindowPort& port, const std::string& programDir,
                                          ProgramSettings& settings, std::string& backupDir) {
  // The default folder "Restore/" may not exist on a fresh installation; creating it is
  // better than asking the operator where to put backups.
  std::error_code ec;
  fs::create_directories(backupDir, ec);
  if (ProbeFile(WithSlash(backupDir) + "tmp.rcd")) return BackupDirectoryCheck::Writable;

  std::optional<std::string> folder = port.ChooseFolder(Translate("Please select the backup file storage path!"));
  if (!folder || folder->empty()) return BackupDirectoryCheck::Cancelled;
  std::string chosen = WithSlash(*folder);
  // Written like the platform profile writer did: a missing key is added.
  std::string ini = JoinPath(programDir, kSettingsFileName);
  WriteProfileSetting(ini, kProgramSetSection, "RestoreLoadFlag", "TRUE");
  WriteProfileSetting(ini, kProgramSetSection, "RestoreLoad", chosen);
  settings.restoreLoadFlag = true;
  settings.restoreLoad = chosen;
  backupDir = chosen;
  return BackupDirectoryCheck::FolderChosen;
}

StartupState RunStartup(WindowPort& port, const StartupOptions& options) {
  StartupState s;
  s.programDirectory = ChooseProgramDirectory(options.homeOption);
  const std::string& dir = s.programDirectory.directory;

  const std::string ini = JoinPath(dir, kSettingsFileName);
  ReadProgramSettings(ini, s.settings);
  s.upgradeRules = ReadUpgradeRules(ini);
  s.tunerRules = ReadTunerRules(ini);
  s.radioRules = ReadRadioRules(ini, s.settings.allPreVersionUpgrade);
  s.macList = ReadMacList(JoinPath(dir, kMacListFileName));
  s.serialList = ReadSerialList(JoinPath(dir, kSerialListFileName));

  s.temporaryScriptFile = TemporaryScriptFileName(dir);
  s.languageLoaded = InitInterfaceLanguage(s.settings.language, dir);

  s.primaryRadiosFound = options.scanPorts ? options.scanPorts() : false;
  if (options.singleInstance && !s.primaryRadiosFound) {
    s.instance = std::make_unique<SingleInstance>(
        options.runtimeDirectory.empty() ? SingleInstance::DefaultRuntimeDirectory() : options.runtimeDirectory);
    if (!s.instance->Claim(options.onRaise)) {
      s.instance->NotifyRunning();
      s.instance.reset();
      s.outcome = StartupState::Outcome::AnotherInstanceRuns;
      return s;
    }
  }

  s.burnScriptLoaded = s.burnScript.LoadBurnScript(JoinPath(dir, "Torvex.ini"));

  s.backupDirectory = BackupDirectory(s.settings, dir);
  if (options.promptForBackupFolder) {
    s.backupCheck = CheckBackupDirectory(port, dir, s.settings, s.backupDirectory);
  }
  s.restoreButtonVisible = BackupStore(s.backupDirectory).CountBackups("", true) > 0;
  return s;
}

}  // namespace lw
