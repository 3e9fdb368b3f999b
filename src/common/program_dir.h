// The program directory: where set.ini, Torvex.ini, the language files, the skins,
// "UpgradeFile/" and "Restore/" live. It is the folder of the running executable unless
// --home DIR or LOFTWISE_HOME says otherwise.
#pragma once

#include <string>

namespace lw {

// The folder of the running executable (from /proc/self/exe), with a trailing '/'.
std::string ExecutableDirectory();

// `homeOption` is the value of --home (may be empty). Order: --home, $LOFTWISE_HOME, the
// executable's folder. The result always ends in '/'.
std::string ResolveProgramDirectory(const std::string& homeOption);

// Joins a folder and a relative path written with either separator.
std::string JoinPath(const std::string& dir, const std::string& relative);

}  // namespace lw
