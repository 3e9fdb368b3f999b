// What the patch installer needs from its front end: the install-directory edit box and a
// way to tell the operator something. The dialog and the command-line mode implement it.
#pragma once

#include <string>

namespace lw {

class PatchView {
 public:
  virtual ~PatchView() = default;

  // The text of the install-directory edit box as the operator left it.
  virtual std::string DirectoryText() const = 0;
  // Shows the directory taken from the install record in the edit box.
  virtual void ShowDirectory(const std::string& directory) = 0;
  // Enables the edit box (and its browse button) and makes it writable.
  virtual void UnlockDirectory() = 0;
  // A message for the operator, acknowledged with OK.
  virtual void ShowMessage(const std::string& text) = 0;
  // One file has been replaced; a front end may list it, the dialog stays quiet.
  virtual void FileReplaced(const std::string& target) {}
};

}  // namespace lw
