#include "sim/sim_flash.h"

#include <algorithm>
#include <cstring>

namespace lw::sim {

namespace {
// A runaway test may write megabytes over unerased flash; keep enough to diagnose it.
constexpr size_t kMaxKeptErrors = 1000;
}  // namespace

const char* FlashErrorText(FlashError::Kind kind) {
  switch (kind) {
    case FlashError::Kind::NotErased: return "write over unerased data";
    case FlashError::Kind::OutOfRange: return "out of range";
    case FlashError::Kind::Unaligned: return "unaligned erase";
  }
  return "?";
}

SimFlash::SimFlash() : cells_(kFlashSize, 0xFF) {}

void SimFlash::Record(FlashError::Kind kind, uint32_t address, uint32_t length) {
  ++errorCount_;
  if (errors_.size() < kMaxKeptErrors) errors_.push_back({kind, address, length});
}

void SimFlash::ClearErrors() {
  errors_.clear();
  errorCount_ = 0;
}

bool SimFlash::Erase(uint32_t address, uint32_t units) {
  const uint64_t start = address - address % kEraseUnit;
  const uint64_t length = uint64_t(units) * kEraseUnit;
  if (!InBounds(cells_.size(), start, length)) {
    Record(FlashError::Kind::OutOfRange, address, uint32_t(std::min<uint64_t>(length, UINT32_MAX)));
    return false;
  }
  if (start != address) Record(FlashError::Kind::Unaligned, address, uint32_t(length));
  std::memset(cells_.data() + start, 0xFF, length);
  return true;
}

bool SimFlash::Program(uint32_t address, ByteView data) {
  if (!InBounds(cells_.size(), address, data.size())) {
    Record(FlashError::Kind::OutOfRange, address, uint32_t(data.size()));
    return false;
  }
  uint8_t* cell = cells_.data() + address;
  const uint8_t* wanted = data.data();
  const size_t n = data.size();
  // Bits the write wants set that are 0 in the flash cannot be programmed.
  uint8_t stuck = 0;
  for (size_t i = 0; i < n; ++i) stuck |= uint8_t(wanted[i] & ~cell[i]);
  if (stuck) {
    size_t first = 0;
    while (first < n && !(wanted[first] & ~cell[first])) ++first;
    Record(FlashError::Kind::NotErased, uint32_t(address + first), uint32_t(n));
  }
  for (size_t i = 0; i < n; ++i) cell[i] &= wanted[i];
  for (auto it = stuck_.lower_bound(address); it != stuck_.end() && it->first - address < n; ++it)
    cells_[it->first] |= it->second;
  return true;
}

void SimFlash::SetStuckBits(uint32_t address, uint8_t mask) {
  if (address >= cells_.size()) return;
  stuck_[address] |= mask;
  cells_[address] |= mask;
}

bool SimFlash::Read(uint32_t address, uint32_t length, Bytes& out) const {
  if (!InBounds(cells_.size(), address, length)) return false;
  out.insert(out.end(), cells_.begin() + address, cells_.begin() + address + length);
  return true;
}

ByteView SimFlash::View(uint32_t address, uint32_t length) const {
  if (!InBounds(cells_.size(), address, length)) return {};
  return ByteView(cells_.data() + address, length);
}

void SimFlash::Load(uint32_t address, ByteView data) {
  if (!InBounds(cells_.size(), address, data.size())) return;
  std::memcpy(cells_.data() + address, data.data(), data.size());
}

}  // namespace lw::sim
