#include "engine/backup_store.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/atomic_file.h"
#include "common/text.h"
#include "common/unique_fd.h"

namespace lw {
namespace fs = std::filesystem;

namespace {

constexpr size_t kDateLength = 19;  // "%Y-%m-%d %H.%M.%S"

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Why a backup could not be written, in the words the log has always used.
std::string WriteFailureText(const AtomicWriteResult& write, const std::string& directory) {
  const char* what = "rename into place failed";
  switch (write.failed) {
    case AtomicWriteStep::Create: return "cannot create a file in " + directory + ": " + std::strerror(write.error);
    case AtomicWriteStep::Write: what = "write failed"; break;
    case AtomicWriteStep::Flush: what = "flush to disk failed"; break;
    case AtomicWriteStep::Close: what = "close failed"; break;
    default: break;
  }
  return std::string(what) + ": " + std::strerror(write.error);
}

}  // namespace

std::string BackupFileName(const std::string& serial, const std::tm& localTime) {
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H.%M.%S", &localTime);
  return serial + "[" + stamp + "]" + kBackupExtension;
}

std::string BackupSerialOf(std::string_view fileName) {
  size_t bracket = fileName.find('[');
  return bracket == std::string_view::npos ? std::string() : std::string(fileName.substr(0, bracket));
}

std::string BackupDateOf(std::string_view fileName) {
  size_t bracket = fileName.find('[');
  size_t start = bracket == std::string_view::npos ? 0 : bracket + 1;
  std::string date(fileName.substr(start, kDateLength));
  for (char& c : date)
    if (c == '.') c = ':';
  return date;
}

bool IsBackupFileName(std::string_view fileName) {
  std::string_view ext(kBackupExtension);
  return fileName.size() >= ext.size() &&
         EqualsIgnoreCase(fileName.substr(fileName.size() - ext.size()), ext);
}

BackupStore::BackupStore(std::string directory) : directory_(WithSlash(std::move(directory))) {}

BackupWriteResult BackupStore::WriteBackup(const std::string& serial,
                                           std::span<const uint8_t> data) const {
  return WriteBackupAt(serial, data, std::time(nullptr));
}

BackupWriteResult BackupStore::WriteBackupAt(const std::string& serial,
                                             std::span<const uint8_t> data,
                                             std::time_t when) const {
  std::tm local{};
  localtime_r(&when, &local);
  BackupWriteResult result;
  result.path = directory_ + BackupFileName(serial, local);
  if (serial.find('/') != std::string::npos) {
    result.error = "the serial number \"" + serial + "\" cannot be part of a file name";
    return result;
  }

  std::error_code ec;
  fs::create_directories(directory_, ec);  // an existing folder is not an error

  // The temporary name does not end in ".rcd", so neither the count nor the restore list ever
  // sees a half-written backup. mkstemp gives 0600; a backup is no more secret than set.ini.
  AtomicWriteOptions options;
  options.temporaryTemplate = directory_ + ".backup-XXXXXX";
  options.mode = 0644;
  options.modeRequired = false;
  AtomicWriteResult write =
      WriteFileAtomically(result.path, options, [&](int fd) { return WriteAll(fd, data.data(), data.size()); });
  if (!write.ok()) {
    result.error = WriteFailureText(write, directory_);
    return result;
  }
  result.written = true;
  return result;
}

int BackupStore::CountBackups(const std::string& serial, bool all) const {
  std::error_code ec;
  fs::directory_iterator it(directory_, ec), end;
  int count = 0;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_directory(typeError)) continue;
    std::string name = it->path().filename().string();
    if (!IsBackupFileName(name)) continue;
    if (all || BackupSerialOf(name) == serial) ++count;
  }
  return count;
}

Status BackupStore::DeleteBackup(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return Status::Ok();
  return Status::Error(ErrnoText(("cannot delete " + path).c_str()));
}

}  // namespace lw
