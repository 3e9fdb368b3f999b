#include "package/held_package.h"

#include "package/package_files.h"

namespace lw {

HeldPackage HeldPackage::Open(const std::string& path) {
  HeldPackage package;
  package.path_ = path;
  Result<HeldFile> file = HeldFile::Open(path);
  if (!file.ok()) {
    package.contents_.status = PackageStatus::OpenFailed;
    package.contents_.error = "cannot open package " + path;
    return package;
  }
  package.file_ = std::move(*file);
  package.contents_ = ReadPackage(package.file_, true);
  return package;
}

std::string HeldPackage::HoldExternFiles(const ProgramSettings& settings) {
  externs_.clear();
  externs_.resize(contents_.entries.size());
  for (size_t i = 0; i < contents_.entries.size(); ++i) {
    const DirectoryEntry& entry = contents_.entries[i];
    if (entry.externFlag != 1) continue;
    // A kind without a file name gives the package's folder, which never opens as a file.
    const std::string externPath = ExternFilePath(path_, entry.kindName, entry.extendName, settings);
    Result<HeldFile> held = HeldFile::Open(externPath);
    if (!held.ok()) return externPath;
    externs_[i] = std::move(*held);
  }
  return "";
}

const HeldFile* HeldPackage::SourceOf(size_t index, uint64_t* offset) const {
  if (index >= contents_.entries.size()) return nullptr;
  if (contents_.entries[index].externFlag == 1) {
    if (index >= externs_.size() || !externs_[index].is_open()) return nullptr;
    *offset = 0;
    return &externs_[index];
  }
  *offset = index < contents_.dataOffsets.size() ? contents_.dataOffsets[index] : 0;
  return &file_;
}

Status HeldPackage::Unchanged(std::string* changedPath) const {
  auto check = [changedPath](const HeldFile& file) {
    Status same = file.Unchanged();
    if (!same.ok() && changedPath) *changedPath = file.path();
    return same;
  };
  if (Status package = check(file_); !package.ok()) return package;
  for (const HeldFile& file : externs_)
    if (file.is_open())
      if (Status changed = check(file); !changed.ok()) return changed;
  return Status::Ok();
}

}  // namespace lw
