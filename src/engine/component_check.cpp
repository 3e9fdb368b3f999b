#include "engine/component_check.h"

#include "common/codes.h"
#include "common/program_dir.h"
#include "engine/md5.h"

namespace lw {

std::string ConversionLibraryPath(const std::string& programDir) {
  return JoinPath(programDir, kConversionLibraryName);
}

std::optional<std::string> FileDigestText(const std::string& path) {
  auto digest = Md5OfFile(path, 1024);
  if (!digest) return std::nullopt;
  return Md5Hex(*digest);
}

int CheckConversionComponent(const std::string& programDir, std::string_view expectedDigest) {
  if (expectedDigest.empty()) return kComponentCheckFailed;
  auto digest = FileDigestText(ConversionLibraryPath(programDir));
  return digest && *digest == expectedDigest ? kOk : kComponentCheckFailed;
}

}  // namespace lw
