// The memory of the simulated radio. The layout of the images inside it is the one the shipped
// burn script (Torvex.ini) and docs/memory-map.md write down; the radio itself only needs to
// know the flash size and erase unit, where its InfoBlock lies and where its radio data (the
// RCDB image that the "read_rcdb" section reads) start.
#pragma once

#include <cstdint>

namespace lw::sim {

inline constexpr uint32_t kFlashSize = 16u << 20;       // per side
inline constexpr uint32_t kEraseUnit = 256;              // erase requests count these
inline constexpr uint32_t kInfoBlockAddress = 0xFE0000;  // in the 128 KiB unit up to the end
inline constexpr uint32_t kInfoBlockSize = 256;
inline constexpr uint32_t kDefaultRadioDataAddress = 0xC00000;
inline constexpr uint8_t kMainSelector = 0;
inline constexpr uint8_t kReceiveSelector = 16;

}  // namespace lw::sim
