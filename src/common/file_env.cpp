#include "common/file_env.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace lw {
namespace {

FileEnv& RealFiles() {
  static FileEnv real;
  return real;
}

std::atomic<FileEnv*> gFiles{nullptr};

}  // namespace

int FileEnv::OpenForReading(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

int FileEnv::CreateTemporary(std::string& pathTemplate) { return ::mkostemp(pathTemplate.data(), O_CLOEXEC); }

ssize_t FileEnv::Write(int fd, const void* data, size_t size) { return ::write(fd, data, size); }

ssize_t FileEnv::Pread(int fd, void* data, size_t size, off_t offset) { return ::pread(fd, data, size, offset); }

int FileEnv::Fsync(int fd) { return ::fsync(fd); }

int FileEnv::Rename(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()); }

FileEnv& Files() {
  FileEnv* env = gFiles.load();
  return env ? *env : RealFiles();
}

ScopedFileEnv::ScopedFileEnv(FileEnv& env) : previous_(gFiles.exchange(&env)) {}

ScopedFileEnv::~ScopedFileEnv() { gFiles.store(previous_); }

// --- FaultyFileEnv ------------------------------------------------------------------------------

bool FaultyFileEnv::Fails(Op op, const std::string& path) {
  if (path.empty()) return false;  // a descriptor this environment did not open (a socket, say)
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < rules_.size(); ++i) {
    const Rule& rule = rules_[i];
    const bool sameOp = rule.op == op || (rule.op == Op::ShortWrite && op == Op::Write);
    if (!sameOp || path.find(rule.pathPart) == std::string::npos) continue;
    if (++counts_[int(i)] == rule.nth) {
      ++faults_;
      errno = rule.error;
      return true;
    }
  }
  return false;
}

std::string FaultyFileEnv::PathOf(int fd) {
  std::lock_guard lock(mutex_);
  auto it = paths_.find(fd);
  return it == paths_.end() ? std::string() : it->second;
}

void FaultyFileEnv::Remember(int fd, const std::string& path) {
  std::lock_guard lock(mutex_);
  if (fd < 0) return;
  paths_[fd] = path;  // a number reused after a close names its new file
  full_.erase(fd);
}

int FaultyFileEnv::OpenForReading(const std::string& path) {
  if (Fails(Op::Open, path)) return -1;
  const int fd = FileEnv::OpenForReading(path);
  Remember(fd, path);
  return fd;
}

int FaultyFileEnv::CreateTemporary(std::string& pathTemplate) {
  if (Fails(Op::Create, pathTemplate)) return -1;
  const int fd = FileEnv::CreateTemporary(pathTemplate);
  Remember(fd, pathTemplate);
  return fd;
}

ssize_t FaultyFileEnv::Write(int fd, const void* data, size_t size) {
  const std::string path = PathOf(fd);
  {
    std::lock_guard lock(mutex_);
    if (full_.count(fd)) {  // after a short write the disk stays full
      errno = ENOSPC;
      return -1;
    }
  }
  if (!Fails(Op::Write, path)) return FileEnv::Write(fd, data, size);
  if (!ShortWriteRule(path) || size < 2) return -1;
  // A short write: half of it reaches the file, and from then on the disk is full.
  const int error = errno;
  const ssize_t half = FileEnv::Write(fd, data, size / 2);
  std::lock_guard lock(mutex_);
  full_.insert(fd);
  errno = error;
  return half;
}

bool FaultyFileEnv::ShortWriteRule(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (const Rule& rule : rules_)
    if (rule.op == Op::ShortWrite && path.find(rule.pathPart) != std::string::npos) return true;
  return false;
}

ssize_t FaultyFileEnv::Pread(int fd, void* data, size_t size, off_t offset) {
  if (Fails(Op::Pread, PathOf(fd))) return -1;
  return FileEnv::Pread(fd, data, size, offset);
}

int FaultyFileEnv::Fsync(int fd) {
  if (Fails(Op::Fsync, PathOf(fd))) return -1;
  return FileEnv::Fsync(fd);
}

int FaultyFileEnv::Rename(const std::string& from, const std::string& to) {
  if (Fails(Op::Rename, to)) return -1;
  return FileEnv::Rename(from, to);
}

}  // namespace lw
