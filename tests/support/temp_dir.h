// A temporary folder removed with its contents when the object goes away.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lw::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path()/name (no file is made).
  std::string File(const std::string& name) const;
  // Writes the file (making its folders) and returns its path.
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
  std::string WriteText(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);

}  // namespace lw::test
