// Temporary folders, small files and a way to feel permission checks as root, for the patch
// installer tests.
#pragma once

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace lw::patch_test {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "lw_patch_XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(path_, ec)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // A sub-folder, created; the result ends in '/'.
  std::string Sub(const std::string& name) const {
    fs::create_directories(path_ + "/" + name);
    return path_ + "/" + name + "/";
  }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  ::chmod(path.c_str(), mode);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 0777;
}

// Names in `dir` other than `expected` count as leftovers (temporary files of a copy).
inline size_t EntryCount(const std::string& dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++n;
  return n;
}

// While alive, permission bits apply to this process even when it runs as root: the
// capabilities that bypass them are lowered from the effective set and raised again at the end.
class PermissionsEnforced {
 public:
  PermissionsEnforced() {
    if (::geteuid() != 0) {
      ok_ = true;
      return;
    }
    if (!Get()) return;
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
      data_[cap / 32].effective &= ~(1u << (cap % 32));
    }
    ok_ = ::syscall(SYS_capset, &header_, data_) == 0;
    lowered_ = ok_;
  }
  ~PermissionsEnforced() {
    if (!lowered_) return;
    for (auto& d : data_) d.effective = d.permitted;
    ::syscall(SYS_capset, &header_, data_);
  }
  PermissionsEnforced(const PermissionsEnforced&) = delete;
  PermissionsEnforced& operator=(const PermissionsEnforced&) = delete;

  bool ok() const { return ok_; }

 private:
  bool Get() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    header_.pid = 0;
    return ::syscall(SYS_capget, &header_, data_) == 0;
  }

  __user_cap_header_struct header_{};
  __user_cap_data_struct data_[2]{};
  bool ok_ = false;
  bool lowered_ = false;
};

}  // namespace lw::patch_test
