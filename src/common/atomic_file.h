// Writing a file so that a reader (or the next start after a crash) sees either the old file
// or the complete new one, never a half-written mix: the bytes go to a temporary file beside
// the target, which is flushed to disk and renamed over it.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace lw {

// The step of an atomic write that failed.
enum class AtomicWriteStep { None, Create, Permissions, Write, Flush, Close, Rename };

struct AtomicWriteResult {
  AtomicWriteStep failed = AtomicWriteStep::None;
  int error = 0;          // errno of the failed step
  std::string temporary;  // the temporary file's name (removed again on failure)
  bool ok() const { return failed == AtomicWriteStep::None; }
};

struct AtomicWriteOptions {
  // The temporary file's name, for mkstemp: it ends in "XXXXXX" and lies in the target's
  // folder, so that the rename never crosses file systems.
  std::string temporaryTemplate;
  mode_t mode = 0644;  // permission bits of the new file
  // False: a folder that keeps no permission bits (a FAT stick) is no reason to fail.
  bool modeRequired = true;
};

// Writes `target` through a temporary file: `fill` writes the contents to the descriptor it is
// given and returns false (errno set) when it cannot. Then the file is flushed, closed, renamed
// over `target` and the folder is flushed, so that the rename itself survives a power cut.
// On failure the target is as it was and the temporary file is gone.
AtomicWriteResult WriteFileAtomically(const std::string& target, const AtomicWriteOptions& options,
                                      const std::function<bool(int fd)>& fill);

// Flushes the folder `dir` (its entries, not the files in it); best effort.
void SyncDirectory(const std::string& dir);

}  // namespace lw
