#include "engine/backup_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/text.h"

namespace lw {
namespace fs = std::filesystem;

namespace {

constexpr size_t kDateLength = 19;  // "%Y-%m-%d %H.%M.%S"

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= size_t(n);
  }
  return true;
}

// Makes the rename itself durable: without this a power cut right after the rename may bring
// back the directory without the new name.
void SyncDirectory(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
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
  // sees a half-written backup.
  std::string temp = directory_ + ".backup-XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    result.error = ErrnoText(("cannot create a file in " + directory_).c_str());
    return result;
  }
  (void)::fchmod(fd, 0644);  // mkostemp gives 0600; a backup is no more secret than set.ini
  bool ok = WriteAll(fd, data.data(), data.size());
  if (!ok) result.error = ErrnoText("write failed");
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    result.error = ErrnoText("flush to disk failed");
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    result.error = ErrnoText("close failed");
  }
  if (ok && ::rename(temp.c_str(), result.path.c_str()) != 0) {
    ok = false;
    result.error = ErrnoText("rename into place failed");
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return result;
  }
  SyncDirectory(directory_);
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
