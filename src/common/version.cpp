#include "common/version.h"

#include "common/text.h"

// The build defines these from the project version (CMakeLists.txt); a build that forgot
// them must not compile with a made-up number.
#if !defined(LW_VERSION) || !defined(LW_VERSION_MAJOR) || !defined(LW_VERSION_MINOR) || \
    !defined(LW_VERSION_PATCH) || !defined(LW_VERSION_TWEAK)
#error "the build defines LW_VERSION and its parts"
#endif

namespace lw {

std::string_view ProgramVersion() { return LW_VERSION; }

std::string ProgramVersionText() {
  return Format("V%d.%02d.%02d.%03d", LW_VERSION_MAJOR, LW_VERSION_MINOR, LW_VERSION_PATCH, LW_VERSION_TWEAK);
}

std::string VersionLine(std::string_view program) {
  return std::string(program) + " " + std::string(ProgramVersion()) + "\n";
}

}  // namespace lw
