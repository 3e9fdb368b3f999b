// The package of one run, held from when its rules are checked until the run ends.
//
// An upgrade (and a restore, an auto-test file, a remote upgrade) opens its package once. The
// header, the rules and the directory are read from that descriptor, every entry's bytes are
// read from it by position, and each extern image file is held the same way from when the run
// first checks that it is there. Renaming, replacing or deleting a path then changes nothing
// that is burned; a change of a held file itself is found by Unchanged() (see HeldFile).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/held_file.h"
#include "common/status.h"
#include "config/settings.h"
#include "package/fud_reader.h"

namespace lw {

class HeldPackage {
 public:
  HeldPackage() = default;
  HeldPackage(HeldPackage&&) noexcept = default;
  HeldPackage& operator=(HeldPackage&&) noexcept = default;

  // Opens the package and reads its header, rules and directory from the descriptor it keeps.
  // contents().status says whether that worked; a package that could not be opened holds no
  // descriptor.
  static HeldPackage Open(const std::string& path);

  bool is_open() const { return file_.is_open(); }
  const std::string& path() const { return path_; }
  const PackageFile& contents() const { return contents_; }
  const HeldFile& file() const { return file_; }

  // Opens and holds the file of every extern entry (ExternFilePath). Returns "" when all are
  // held, else the path of the first (in directory order) that cannot be opened: the run must
  // not start (report 20).
  std::string HoldExternFiles(const ProgramSettings& settings);

  // Where entry `index`'s bytes are: the held file and the offset of its first byte (0 for an
  // extern file). Null for an index beyond the directory, or an extern entry whose file is not
  // held.
  const HeldFile* SourceOf(size_t index, uint64_t* offset) const;

  // Ok while the package and every extern file held are as they were when opened; else why
  // the first that changed did (HeldFile::Unchanged), and its path in `changedPath`.
  Status Unchanged(std::string* changedPath = nullptr) const;

 private:
  std::string path_;
  HeldFile file_;
  PackageFile contents_;
  std::vector<HeldFile> externs_;  // one per entry; closed for entries in the package itself
};

}  // namespace lw
