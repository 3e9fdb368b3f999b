// Backups of a radio's RCDB data: one ".rcd" file per backup in the backup directory.
//
// A backup is the radio's RCDB data exactly as read at the start of an upgrade, with no header
// or trailer, named after the radio's serial number and the local time it was written:
//   SERIAL[%Y-%m-%d %H.%M.%S].rcd      e.g. 1234567890[2016-05-04 13.45.10].rcd
// The name is the only place the serial number and the date are kept; the restore list reads
// them back out of it. Two backups of one radio within the same second share a name, and the
// later one replaces the earlier.
//
// A backup is what an operator falls back on when an upgrade dies half-way, so it is written
// to a temporary name in the same folder, flushed to disk and only then renamed into place: a
// crash or power cut leaves either the complete file or none, never a truncated one under the
// real name.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

#include "common/status.h"

namespace lw {

inline constexpr const char* kBackupExtension = ".rcd";

// "SERIAL[%Y-%m-%d %H.%M.%S].rcd" for a local time.
std::string BackupFileName(const std::string& serial, const std::tm& localTime);

// The serial number in a backup name: the text before the first "[" (empty when there is none).
std::string BackupSerialOf(std::string_view fileName);
// The backup date in a backup name: the 19 characters after the first "[" (from the start of
// the name when there is no "["), each "." replaced by ":" so that it reads
// "2016-05-04 13:45:10".
std::string BackupDateOf(std::string_view fileName);

// True for a name the backup directory counts as a backup: it ends in ".rcd" (any case, as the
// folder search of the original platform matched it).
bool IsBackupFileName(std::string_view fileName);

struct BackupWriteResult {
  std::string path;    // full path of the backup, also when it could not be written
  bool written = false;
  std::string error;   // why not, for the log (empty when written)
};

class BackupStore {
 public:
  // `directory` is the backup directory (see BackupDirectory in config/settings.h); a missing
  // trailing '/' is added.
  explicit BackupStore(std::string directory);

  const std::string& directory() const { return directory_; }

  // Writes `data` as the backup of `serial`, named by the current local time. A backup that
  // cannot be written leaves no file behind (not even a partial one) and says why; the caller
  // logs that and goes on. A missing backup directory is created.
  BackupWriteResult WriteBackup(const std::string& serial, std::span<const uint8_t> data) const;
  // The same for a given time (tests, and callers that stamp several files alike).
  BackupWriteResult WriteBackupAt(const std::string& serial, std::span<const uint8_t> data,
                                  std::time_t when) const;

  // Number of backup files in the directory (directories are not counted): every one with
  // `all`, else those whose serial number (BackupSerialOf) equals `serial`. A missing or
  // unreadable directory counts 0.
  int CountBackups(const std::string& serial, bool all) const;

  // Deletes a backup or restoration file; an error with the reason when it could not be
  // deleted. A file that is already gone counts as deleted.
  static Status DeleteBackup(const std::string& path);

 private:
  std::string directory_;
};

}  // namespace lw
