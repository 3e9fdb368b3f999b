// Lumaret's installer: copies the four patched files from its own folder over an existing
// Loftwise installation, the steps behind the "Upgrade Patch" button.
//
// Two states drive the button. On the first attempt the install directory comes from the
// install record, used exactly as stored. After any failure the installer is manual for the
// rest of its life: the directory is the edit box text, trimmed, with a '/' appended. A file is
// only ever replaced, never added: a missing target means a wrong directory.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "patch/patch_view.h"

namespace lw {

// The files of a patch, in the order they are replaced (and in which failures are found):
// the conversion library, the program and the two language files.
inline constexpr std::array<const char*, 4> kPatchFiles = {"conversion.so", "loftwise",
                                                           "English.lng", "Chinese.lng"};

// Replaced after those four when the patch folder holds it, never required. The console
// program embeds the same conversion library digest as the window, so a patch that brings a
// new library must be able to bring it too. A patch folder without it, or an installation
// without it, leaves it as it is.
inline constexpr std::array<const char*, 1> kOptionalPatchFiles = {"loftwise-cli"};

inline constexpr char kPatchProduct[] = "DMR_LOFTWISE_SUBSCRIBE_TO_V7.06.06.000";
inline constexpr char kPatchVersionText[] = "Version: V7.06.01.000";
inline constexpr char kNoRecordMessage[] =
    "Please input the install directory of DMR_LOFTWISE_SUBSCRIBE_TO_V7.06.06.000!";
inline constexpr char kNoDirectoryMessage[] = "Please input the install directory!";
inline constexpr char kMissingFileSuffix[] = " file does not exist! please check directory!";
inline constexpr char kCopyFailedSuffix[] = " file could not be replaced! ";
inline constexpr char kFinishedMessage[] = "Upgrade Patch Finished!";

enum class PatchResult {
  kFinished,     // all four files replaced (and loftwise-cli when the patch holds it)
  kNoDirectory,  // no install directory (no record, or an empty edit box)
  kFileMissing,  // a target file does not exist; the files before it are replaced
  kCopyFailed,   // a copy failed; the files before it are replaced, this one is untouched
};

class PatchInstaller {
 public:
  using LocationSource = std::function<std::string()>;

  // `sourceDirectory`: the folder holding the patched files (Lumaret's own folder); a '/' is
  // appended when missing. `installLocation` reads the install record ("" when there is none).
  PatchInstaller(std::string sourceDirectory, LocationSource installLocation, PatchView& view);

  // The "Upgrade Patch" button. Every outcome is shown through the view.
  PatchResult Press();

  // Leaves the first-attempt state without a failure: the next Press takes the edit box text.
  // The command-line mode uses it when a directory is given.
  void UseEditBox() { firstAttempt_ = false; }

  const std::string& SourceDirectory() const { return sourceDirectory_; }
  const std::string& InstallDirectory() const { return installDirectory_; }
  bool FirstAttempt() const { return firstAttempt_; }
  bool EditUnlocked() const { return editUnlocked_; }

 private:
  PatchResult Fail(PatchResult result, const std::string& message);
  // Copies the patch's `name` over the installed one; false (shown) when that failed.
  bool Replace(const char* name);

  std::string sourceDirectory_;
  std::string installDirectory_;
  bool firstAttempt_ = true;
  bool editUnlocked_ = false;
  LocationSource installLocation_;
  PatchView& view_;
};

}  // namespace lw
