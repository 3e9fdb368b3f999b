#include "link/comm_log.h"

#include <cstdio>

namespace lw {

std::string FormatTraceLine(TraceDirection direction, ByteView bytes, std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::string line = direction == TraceDirection::ToRadio ? " PC -> Radio(" : " PC <- Radio(";
  line += stamp;
  line += "): ";
  static const char kHex[] = "0123456789ABCDEF";
  line.reserve(line.size() + bytes.size() * 3 + 2);
  for (uint8_t b : bytes) {
    line += ' ';
    line += kHex[b >> 4];
    line += kHex[b & 15];
  }
  line += "\r\n";
  return line;
}

void AppendTraceLine(const std::string& path, TraceDirection direction, ByteView bytes) {
  std::string line = FormatTraceLine(direction, bytes, std::time(nullptr));
  if (FILE* f = std::fopen(path.c_str(), "ab")) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
}

bool ClearTraceFile(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

}  // namespace lw
