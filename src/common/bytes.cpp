#include "common/bytes.h"

#include <cstdio>
#include <cstring>

namespace lw {

std::optional<uint8_t> ReadU8(ByteView data, uint64_t offset) {
  if (!InBounds(data.size(), offset, 1)) return std::nullopt;
  return data[offset];
}

std::optional<uint16_t> ReadLe16(ByteView data, uint64_t offset) {
  if (!InBounds(data.size(), offset, 2)) return std::nullopt;
  return Le16(data.data() + offset);
}

std::optional<uint32_t> ReadLe32(ByteView data, uint64_t offset) {
  if (!InBounds(data.size(), offset, 4)) return std::nullopt;
  return Le32(data.data() + offset);
}

void AppendLe16(Bytes& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

void AppendLe32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

std::string FixedText(ByteView data, uint64_t offset, size_t width) {
  if (offset >= data.size()) return {};
  size_t avail = data.size() - offset;
  if (width > avail) width = avail;
  const char* p = reinterpret_cast<const char*>(data.data() + offset);
  const void* nul = std::memchr(p, 0, width);
  size_t len = nul ? size_t(static_cast<const char*>(nul) - p) : width;
  return std::string(p, len);
}

void PutFixedText(uint8_t* field, size_t width, const std::string& text) {
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), text.size() < width ? text.size() : width);
}

std::string HexString(ByteView data, const char* separator) {
  std::string out;
  out.reserve(data.size() * 3);
  char buf[4];
  for (size_t i = 0; i < data.size(); ++i) {
    if (i) out += separator;
    std::snprintf(buf, sizeof buf, "%2.2X", data[i]);
    out += buf;
  }
  return out;
}

}  // namespace lw
