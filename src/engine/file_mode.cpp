#include "engine/file_mode.h"

#include "common/text.h"
#include "config/burn_script.h"

namespace lw {

bool ModeOfText(std::string_view text, FileMode& mode) {
  bool hit = false;
  if (Contains(text, "/HEX/")) {
    mode = FileMode::Hex;
    hit = true;
  }
  if (Contains(text, "/BYTE/")) {
    mode = Contains(text, "/WORDREVERSE") ? FileMode::SwappedBinary : FileMode::Binary;
    hit = true;
  }
  return hit;
}

FileMode GetFileMode(const BurnScript& script, std::string_view kind) {
  FileMode mode = FileMode::Hex;
  for (const CommandLine& line : script.AllCommandLines())
    if (line.kind == kind) ModeOfText(line.line, mode);
  return mode;
}

}  // namespace lw
