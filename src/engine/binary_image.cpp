#include "engine/binary_image.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <utility>

#include "common/text.h"
#include "ui/translate.h"

namespace lw {
namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File OpenForReading(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return file;
  // fopen accepts a folder on Linux; reading it fails later with a confusing error.
  struct stat st {};
  if (fstat(fileno(file.get()), &st) != 0 || S_ISDIR(st.st_mode)) file.reset();
  return file;
}

BinaryLoadResult ReadInto(FILE* file, uint64_t length, Bytes& image) {
  Bytes data(static_cast<size_t>(length));
  if (length > 0 && std::fread(data.data(), 1, data.size(), file) != data.size())
    return BinaryLoadResult::ShortRead;
  image = std::move(data);
  return BinaryLoadResult::Ok;
}

}  // namespace

BinaryLoadResult LoadBinaryEntry(const std::string& path, uint64_t offset, uint64_t length,
                                 Bytes& image) {
  if (length > kImageBufferSize) return BinaryLoadResult::TooLarge;
  File file = OpenForReading(path);
  if (!file) return BinaryLoadResult::CannotOpen;
  if (offset > uint64_t(INT64_MAX) || fseeko(file.get(), off_t(offset), SEEK_SET) != 0)
    return BinaryLoadResult::ShortRead;
  return ReadInto(file.get(), length, image);
}

BinaryLoadResult LoadBinaryFile(const std::string& path, Bytes& image) {
  File file = OpenForReading(path);
  if (!file) return BinaryLoadResult::CannotOpen;
  struct stat st {};
  if (fstat(fileno(file.get()), &st) != 0) return BinaryLoadResult::ShortRead;
  if (uint64_t(st.st_size) > kImageBufferSize) return BinaryLoadResult::TooLarge;
  return ReadInto(file.get(), uint64_t(st.st_size), image);
}

std::string BinaryLoadMessage(BinaryLoadResult result, const std::string& path) {
  switch (result) {
    case BinaryLoadResult::Ok:
      return "";
    case BinaryLoadResult::CannotOpen:
      return FillPlaceholders(Translate(kImageTextCannotOpen), {path});
    case BinaryLoadResult::TooLarge:
      return FillPlaceholders(Translate(TextKey("Image file %s is larger than the image buffer (40000000 bytes).")),
                              {path});
    case BinaryLoadResult::ShortRead:
      return FillPlaceholders(Translate(TextKey("Image file %s ends before the image does.")), {path});
  }
  return "";
}

void WordReverse(std::span<uint8_t> buffer) {
  for (size_t i = 0; i + 1 < buffer.size(); i += 2) std::swap(buffer[i], buffer[i + 1]);
}

}  // namespace lw
