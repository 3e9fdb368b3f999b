#include "engine/conversion_interface.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "common/codes.h"
#include "common/text.h"
#include "engine/component_check.h"
#include "engine/data_validation.h"
#include "engine/md5.h"

namespace lw {
namespace {

// Digest of an open file, read from its start in chunks of 1,024 bytes.
std::optional<std::string> DigestOfDescriptor(int fd) {
  if (lseek(fd, 0, SEEK_SET) != 0) return std::nullopt;
  Md5 md5;
  uint8_t chunk[1024];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    md5.Update(chunk, size_t(got));
  }
  return Md5Hex(md5.Finish());
}

}  // namespace

ConversionLibrary::~ConversionLibrary() { Unload(); }

void ConversionLibrary::Unload() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
  convert_ = nullptr;
}

int ConversionLibrary::Load(const std::string& programDir, std::string_view expectedDigest) {
  Unload();
  error_.clear();
  const std::string path = ConversionLibraryPath(programDir);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = "cannot open " + path;
    return kComponentCheckFailed;
  }
  const auto digest = DigestOfDescriptor(fd);
  if (!digest || expectedDigest.empty() || *digest != expectedDigest) {
    close(fd);
    error_ = digest ? path + " has digest " + *digest + ", expected " + std::string(expectedDigest)
                    : "cannot read " + path;
    return kComponentCheckFailed;
  }
  // Load the very file that was checked, through its descriptor.
  const std::string fdPath = Format("/proc/self/fd/%d", fd);
  handle_ = dlopen(fdPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  close(fd);
  if (!handle_) {
    const char* why = dlerror();
    error_ = "cannot load " + path + ": " + (why ? why : "unknown error");
    return kComponentCheckFailed;
  }
  convert_ = reinterpret_cast<ConvertFn>(dlsym(handle_, kConversionEntryPoint));
  if (!convert_) {
    error_ = path + " has no " + kConversionEntryPoint;
    Unload();
    return kComponentCheckFailed;
  }
  return kOk;
}

int ConversionLibrary::Convert(std::span<uint8_t> image, std::span<const uint8_t> oldData) const {
  if (!convert_ || image.size() > size_t(INT_MAX) || oldData.size() > size_t(INT_MAX)) return kConversionFailed;
  const int result = convert_(image.data(), int(image.size()), oldData.data(), int(oldData.size()));
  return result != 0 ? kOk : kConversionFailed;
}

int ConvertAndValidate(const ConversionLibrary& library, std::span<uint8_t> image, std::span<const uint8_t> oldData) {
  if (library.Convert(image, oldData) != kOk) return kConversionFailed;
  return ValidateConvertedData(image).ok() ? kOk : kValidationFailed;
}

}  // namespace lw
