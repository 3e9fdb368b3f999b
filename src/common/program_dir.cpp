#include "common/program_dir.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "common/text.h"

namespace lw {
namespace {
std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}
}  // namespace

std::string ExecutableDirectory() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string path(buf, size_t(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string ResolveProgramDirectory(const std::string& homeOption) {
  if (!homeOption.empty()) return WithSlash(homeOption);
  const char* env = std::getenv("LOFTWISE_HOME");
  if (env && *env) return WithSlash(env);
  return ExecutableDirectory();
}

std::string JoinPath(const std::string& dir, const std::string& relative) {
  std::string rel = NormalizeSeparators(relative);
  if (!rel.empty() && rel.front() == '/') return rel;
  if (dir.empty()) return rel;
  return WithSlash(dir) + rel;
}

}  // namespace lw
