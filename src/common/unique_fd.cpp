#include "common/unique_fd.h"

#include <unistd.h>

#include <cerrno>

#include "common/file_env.h"

namespace lw {

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

bool UniqueFd::Close() { return fd_ < 0 || ::close(Release()) == 0; }

bool WriteAll(int fd, const void* data, size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = Files().Write(fd, next, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {  // no progress and no error: give up rather than spin
      errno = EIO;
      return false;
    }
    next += n;
    size -= size_t(n);
  }
  return true;
}

}  // namespace lw
