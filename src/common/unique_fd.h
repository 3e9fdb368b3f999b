// A file descriptor that closes itself, and writing a whole buffer to a descriptor.
#pragma once

#include <cstddef>

namespace lw {

// Owns a descriptor and closes it when it leaves scope, unless released first.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int Release();
  // Closes it now; false (errno set) when close() reports an error, which for a file written
  // through this descriptor may be the first word of a failed write.
  bool Close();

 private:
  int fd_;
};

// Writes all `size` bytes, going on after interrupted and partial writes. False (errno set)
// when a write fails.
bool WriteAll(int fd, const void* data, size_t size);

}  // namespace lw
