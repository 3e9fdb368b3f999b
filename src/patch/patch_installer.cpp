#include "patch/patch_installer.h"

#include <sys/stat.h>

#include "common/text.h"
#include "patch/file_replace.h"

namespace lw {
namespace {

// Anything at the path counts, as a directory would: replacing it then fails with a reason.
bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

PatchInstaller::PatchInstaller(std::string sourceDirectory, LocationSource installLocation,
                               PatchView& view)
    : sourceDirectory_(std::move(sourceDirectory)),
      installLocation_(std::move(installLocation)),
      view_(view) {
  if (sourceDirectory_.empty() || sourceDirectory_.back() != '/') sourceDirectory_ += '/';
}

PatchResult PatchInstaller::Fail(PatchResult result, const std::string& message) {
  firstAttempt_ = false;
  editUnlocked_ = true;
  view_.UnlockDirectory();
  view_.ShowMessage(message);
  return result;
}

bool PatchInstaller::Replace(const char* name) {
  const std::string target = installDirectory_ + name;
  // Stopping at a failure matters: carrying on would end in "Finished" over a broken
  // installation.
  if (Status replaced = ReplaceFile(sourceDirectory_ + name, target); !replaced.ok()) {
    Fail(PatchResult::kCopyFailed, target + kCopyFailedSuffix + replaced.message());
    return false;
  }
  view_.FileReplaced(target);
  return true;
}

PatchResult PatchInstaller::Press() {
  if (firstAttempt_) {
    // The record's value is taken as it stands: an installer that stored it without the
    // trailing separator gets target paths glued to the file names, and the missing-file
    // message shows the operator exactly that.
    installDirectory_ = installLocation_ ? installLocation_() : std::string();
    view_.ShowDirectory(installDirectory_);
    if (installDirectory_.empty()) return Fail(PatchResult::kNoDirectory, kNoRecordMessage);
  } else {
    installDirectory_ = Trim(view_.DirectoryText());
    // An empty box stays empty, so that it is reported as such rather than as "/".
    if (!installDirectory_.empty() && installDirectory_.back() != '/') installDirectory_ += '/';
    if (installDirectory_.empty()) return Fail(PatchResult::kNoDirectory, kNoDirectoryMessage);
  }

  for (const char* name : kPatchFiles) {
    const std::string target = installDirectory_ + name;
    if (!Exists(target)) return Fail(PatchResult::kFileMissing, target + kMissingFileSuffix);
    if (!Replace(name)) return PatchResult::kCopyFailed;
  }
  for (const char* name : kOptionalPatchFiles) {
    if (!Exists(sourceDirectory_ + name) || !Exists(installDirectory_ + name)) continue;
    if (!Replace(name)) return PatchResult::kCopyFailed;
  }
  view_.ShowMessage(kFinishedMessage);
  return PatchResult::kFinished;
}

}  // namespace lw
