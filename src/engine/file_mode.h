// How an image kind's package entries are read: as Intel HEX text, as plain bytes, or as bytes
// whose 16-bit words are swapped. The burn script says it with mode words in the kind's command
// lines: "/HEX/", "/BYTE/", and "/BYTE/" with "/WORDREVERSE".
#pragma once

#include <string_view>

namespace lw {

class BurnScript;

enum class FileMode : int {
  Hex = 0,
  Binary = 1,
  SwappedBinary = 2,
};

// The mode of one line of text, or Hex when it holds no mode word. The tests run HEX, swapped
// binary, binary, a later hit overriding an earlier one: a text with both "/HEX/" and "/BYTE/"
// is binary.
bool ModeOfText(std::string_view text, FileMode& mode);

// Every command line of `kind` (exact name) is tested in file order; the last line holding a
// mode word decides. No such line (or no such kind) gives Hex.
FileMode GetFileMode(const BurnScript& script, std::string_view kind);

}  // namespace lw
