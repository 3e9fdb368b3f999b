// The check of converted configuration data (a failed check fails the conversion step with
// -8001), and of the radio's own data before an upgrade.
//
// Rule. Data pass when all of these hold:
//   1. they are RCDB data ("RCDB" at bytes 2-5, digits or upper-case letters at 11-14) of an
//      identifiable format kind, and the tree opens with every offset inside the data;
//   2. they hold at least one tree, and the total length the header declares fits the data;
//   3. the seal, a 32-bit value in the header block's last four bytes (bytes 150-153, which no
//      header group uses), equals the keyed digest of the image's layout: the first four bytes
//      of MD5(key, header bytes before the root data with the seal zeroed, and for every node
//      in tree order its path numbers, kind, word0, size and child count).
// The conversion library seals what it produces, so data it converted pass, and anything it did
// not produce, or whose header or layout changed afterwards, fails. Record contents are left out
// on purpose: the carry-over steps that run after the check (tuning data, model and serial
// fields) write into records, and the radio's data must still pass at the next upgrade.
//
// The key is not stored in the program: it is derived when first needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "common/status.h"

namespace lw {

inline constexpr size_t kSealOffsetInHeaderBlock = 150;
inline constexpr size_t kSealSize = 4;

// The seal the data should carry; none when they are not RCDB data that open as a tree.
std::optional<uint32_t> ComputeRcdbSeal(std::span<const uint8_t> data);
// Writes the seal into the data; false (and nothing written) when there is none to compute.
bool SealRcdbData(std::span<uint8_t> data);
// The check above; a failure says in a few words what did not hold.
Status ValidateConvertedData(std::span<const uint8_t> data);

}  // namespace lw
