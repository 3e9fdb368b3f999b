// Package reader: any file must give Ok or a format error, never a crash or a read outside it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "package/fud_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string path = [] {
    char name[] = "/tmp/fuzz_package.XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return std::string(name);
  }();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  lw::PackageRestrictions restrictions;
  lw::PackageStatus status = lw::LoadPackage(path, restrictions);
  lw::PackageFile contents = lw::ReadPackageContents(path);
  if ((status == lw::PackageStatus::Ok) != contents.ok()) __builtin_trap();
  if (contents.ok()) {
    for (size_t i = 0; i < contents.entries.size(); ++i)
      if (contents.entries[i].externFlag == 0 &&
          contents.dataOffsets[i] + contents.entries[i].dataLength > contents.fileSize)
        __builtin_trap();
  }
  return 0;
}
