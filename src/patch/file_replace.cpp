#include "patch/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace lw {
namespace {

Status Reason(const std::string& what, const std::string& path, int error) {
  return Status::Error(what + " " + path + ": " + std::strerror(error));
}

// Closes a descriptor when it leaves scope, unless released.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The backup store has its own: the patch installer links nothing of Loftwise, so that a
// patch never depends on the program it replaces.
bool WriteAll(int fd, const char* data, size_t size) {
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

// Copies everything of `in` into `out`; on failure `failedOnRead` tells which side failed.
bool CopyContents(int in, int out, bool& failedOnRead) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      failedOnRead = true;
      return false;
    }
    if (n == 0) return true;
    if (!WriteAll(out, buffer.data(), size_t(n))) {
      failedOnRead = false;
      return false;
    }
  }
}

Result<std::string> ResolvedTarget(const std::string& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) return Reason("cannot find", target, errno);
  if (!S_ISLNK(st.st_mode)) return target;
  char resolved[PATH_MAX];
  if (::realpath(target.c_str(), resolved) == nullptr) return Reason("cannot follow the link", target, errno);
  return std::string(resolved);
}

}  // namespace

Status ReplaceFile(const std::string& source, const std::string& target) {
  const Result<std::string> resolved = ResolvedTarget(target);
  if (!resolved) return resolved.status();
  const std::string& path = *resolved;

  struct stat targetStat {};
  if (::stat(path.c_str(), &targetStat) != 0) return Reason("cannot find", path, errno);
  if (!S_ISREG(targetStat.st_mode)) return Status::Error(path + " is not a regular file");

  Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return Reason("cannot read", source, errno);

  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = dir + "." + base + ".lumaret-XXXXXX";
  Fd out(::mkstemp(temp.data()));
  if (out.get() < 0) {
    return Reason("cannot create a temporary file in", dir.empty() ? "." : dir, errno);
  }

  auto fail = [&](const std::string& what, const std::string& file, int err) {
    ::unlink(temp.c_str());
    return Reason(what, file, err);
  };

  bool failedOnRead = false;
  if (!CopyContents(in.get(), out.get(), failedOnRead)) {
    int err = errno;
    return failedOnRead ? fail("cannot read", source, err) : fail("cannot write", temp, err);
  }
  if (::fchmod(out.get(), targetStat.st_mode & 0777) != 0) {
    return fail("cannot set the permissions of", temp, errno);
  }
  // Flushed before the rename: after a crash the target is the old file or the whole new one.
  if (::fsync(out.get()) != 0) return fail("cannot write", temp, errno);
  if (::close(out.Release()) != 0) return fail("cannot write", temp, errno);
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail("cannot replace", path, errno);

  Fd dirFd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());  // best effort: the rename itself has happened
  return Status::Ok();
}

}  // namespace lw
