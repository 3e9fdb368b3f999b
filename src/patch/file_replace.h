// Replacing one installed file with its patched copy, so that the installed file is either
// the old one or the complete new one, never a half-written mix.
#pragma once

#include <string>

#include "common/status.h"

namespace lw {

// Copies `source` over the existing file `target`: the bytes go to a temporary file beside the
// target, which is flushed to disk and then renamed over it. The new file keeps the target's
// permission bits (the installed program stays executable). A symbolic link as target is
// followed, so the file it points at is replaced and the link stays.
//
// On failure the error is a one-line reason that names the file concerned; the target is then
// left as it was and no temporary file remains.
Status ReplaceFile(const std::string& source, const std::string& target);

}  // namespace lw
