// The sizes of the work buffers, which are the limits of what the program can hold: an image,
// a radio's data, a segment table. Readers refuse input that would not fit rather than grow
// past them, so that a hostile or broken file can never make the program take memory without
// bound.
#pragma once

#include <cstddef>

namespace lw {

// The radio's RCDB data as read at the start of an upgrade (the change-data buffer), and its
// copy that backups are written from.
inline constexpr size_t kRadioDataLimit = 0x1000400;  // 16,778,240
// One flash image of a package entry.
inline constexpr size_t kImageLimit = 40'000'000;
// The segment table of a HEX image.
inline constexpr size_t kSegmentTableLimit = 2'000'000;
// The packed area a HEX image is laid out in (filled with 0xFF first).
inline constexpr size_t kPackedImageLimit = 35'000'000;
// Small command buffer (information block, short reads).
inline constexpr size_t kCommandBufferLimit = 0x3000;
// The data a remote-control request may carry.
inline constexpr size_t kRemoteDataLimit = 16'000'000;

}  // namespace lw
