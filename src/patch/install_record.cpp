#include "patch/install_record.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

namespace lw {
namespace {

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::vector<std::string> InstallRecordDirectories() {
  std::string forced = EnvOrEmpty(kInstallRecordDirEnv);
  if (!forced.empty()) return {WithSlash(forced)};

  std::vector<std::string> dirs;
  // The XDG rules say a relative XDG_DATA_HOME is to be ignored.
  std::string dataHome = EnvOrEmpty("XDG_DATA_HOME");
  if (dataHome.empty() || dataHome.front() != '/') {
    std::string home = EnvOrEmpty("HOME");
    dataHome = home.empty() ? std::string() : WithSlash(home) + ".local/share";
  }
  if (!dataHome.empty()) dirs.push_back(WithSlash(dataHome) + "loftwise/install-records/");
  dirs.push_back(WithSlash(kSystemInstallRecordDir));
  return dirs;
}

std::string InstallRecordFileName() { return std::string(kProductGuid) + ".ini"; }

std::string FindInstallRecord() {
  for (const std::string& dir : InstallRecordDirectories()) {
    std::string path = dir + InstallRecordFileName();
    if (IsRegularFile(path)) return path;
  }
  return {};
}

std::string ReadInstallLocationFrom(const std::string& recordFile) {
  std::ifstream in(recordFile, std::ios::binary);
  if (!in) return {};
  const std::string productSection = std::string("[") + kProductGuid + "]";
  const std::string keyPrefix = std::string(kInstallLocationKey) + "=";
  bool inProduct = false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      inProduct = line == productSection;
      continue;
    }
    // The value is a path: blanks in it are the path's own, so nothing is trimmed.
    if (inProduct && line.compare(0, keyPrefix.size(), keyPrefix) == 0) {
      return line.substr(keyPrefix.size());
    }
  }
  return {};
}

std::string ReadInstallLocation() {
  std::string record = FindInstallRecord();
  return record.empty() ? std::string() : ReadInstallLocationFrom(record);
}

}  // namespace lw
