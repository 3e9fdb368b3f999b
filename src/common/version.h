// The program's version, one number for every program of the product. It comes from the
// build (the CMake project version), so the window, the console, the packaging tools and the
// Debian package never disagree.
#pragma once

#include <string>
#include <string_view>

namespace lw {

// "7.6.1.3": the project version as the build states it.
std::string_view ProgramVersion();

// "V7.06.01.003": the form the window shows, major, minor in two digits, patch in two digits
// and tweak in three.
std::string ProgramVersionText();

// "NAME 7.6.1.3\n", what each program prints for --version.
std::string VersionLine(std::string_view program);

}  // namespace lw
