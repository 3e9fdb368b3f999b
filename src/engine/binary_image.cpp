#include "engine/binary_image.h"

#include <sys/mman.h>
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

BinaryLoadResult ReadInto(FILE* file, uint64_t length, ImageBuffer& image) {
  ImageBuffer data(static_cast<size_t>(length));
  if (length > 0 && std::fread(data.data(), 1, data.size(), file) != data.size())
    return BinaryLoadResult::ShortRead;
  image = std::move(data);
  return BinaryLoadResult::Ok;
}

// Below this a buffer comes from the heap; above it, a mapping of its own pays off.
constexpr size_t kMappedFrom = size_t(1) << 20;

}  // namespace

ImageBuffer::ImageBuffer(size_t size) : size_(size) {
  if (size == 0) return;
  if (size >= kMappedFrom) {
    // MAP_POPULATE: the kernel puts every page in place in one go, instead of one fault per
    // page when the read first touches it.
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p != MAP_FAILED) {
      data_ = static_cast<uint8_t*>(p);
      mapped_ = true;
      return;
    }
  }
  data_ = new uint8_t[size];  // not value-initialised: the read fills it
}

ImageBuffer& ImageBuffer::operator=(ImageBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, false);
  }
  return *this;
}

void ImageBuffer::Release() {
  if (mapped_)
    munmap(data_, size_);
  else
    delete[] data_;
  data_ = nullptr;
  size_ = 0;
  mapped_ = false;
}

BinaryLoadResult LoadBinaryEntry(const std::string& path, uint64_t offset, uint64_t length, ImageBuffer& image) {
  if (length > kImageBufferSize) return BinaryLoadResult::TooLarge;
  File file = OpenForReading(path);
  if (!file) return BinaryLoadResult::CannotOpen;
  if (offset > uint64_t(INT64_MAX) || fseeko(file.get(), off_t(offset), SEEK_SET) != 0)
    return BinaryLoadResult::ShortRead;
  return ReadInto(file.get(), length, image);
}

BinaryLoadResult LoadBinaryFile(const std::string& path, ImageBuffer& image) {
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
