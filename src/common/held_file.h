// A file held open for the length of a run and read by position.
//
// What a run checks and what it burns must be the same bytes. Reopening a file by its path for
// every read would follow whatever the path names now (a package renamed over, or replaced by a
// copy) and would read a file rewritten in place at the old offsets. A HeldFile keeps the one
// descriptor it opened, so renaming, replacing or deleting the path changes nothing it reads,
// and it remembers the file's size and modification time as they were when it was opened, so
// that a change of the file itself (rewritten in place, truncated, grown) is found.
//
// The kernel stamps a file's modification time before a write copies its bytes in, so bytes read
// before Unchanged() said ok were the file's bytes as it was held. A write within the same clock
// tick as the file's last change before it was opened would leave the stamp as it was; that
// needs the file to be rewritten within milliseconds of being made, while it is being opened.
//
// Never a memory map: a file truncated under a mapping turns the next read of it into SIGBUS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "common/status.h"
#include "common/unique_fd.h"

namespace lw {

class HeldFile {
 public:
  // Status codes of the errors below, so that a caller can word them for the operator.
  static constexpr int kChanged = 2;     // size or modification time differ
  static constexpr int kEndedEarly = 3;  // a read ended before the bytes asked for

  HeldFile() = default;
  HeldFile(HeldFile&&) noexcept = default;
  HeldFile& operator=(HeldFile&&) noexcept = default;

  // Opens a regular file for reading and notes its size and modification time. A folder, a
  // device or a file that cannot be opened is an error naming the path.
  static Result<HeldFile> Open(const std::string& path);

  bool is_open() const { return fd_.valid(); }
  const std::string& path() const { return path_; }
  // The size when it was opened.
  uint64_t size() const { return size_; }

  // Exactly `out.size()` bytes from `offset`. An error, naming the file, when the file ends
  // first (it was truncated, or the caller asked past its end) or a read fails.
  Status ReadAt(uint64_t offset, std::span<uint8_t> out) const;
  // Up to `out.size()` bytes from `offset`, fewer only at the end of the file; -1 on a read
  // error. For readers that stop at a mark of their own (HEX text).
  ptrdiff_t ReadSome(uint64_t offset, std::span<uint8_t> out) const;

  // Ok while the file's size and modification time are what they were when it was opened;
  // else an error that names the file and says it changed while it was being burned.
  Status Unchanged() const;

 private:
  UniqueFd fd_;
  std::string path_;
  uint64_t size_ = 0;
  int64_t mtimeSec_ = 0;
  int64_t mtimeNsec_ = 0;
};

}  // namespace lw
