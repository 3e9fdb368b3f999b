// Data carry-over: what of the radio's old configuration data survives an upgrade into the new
// image before it is written. Tuning (calibration) segments, RCDB header fields that describe
// the hardware, and per-unit values keyed by the serial number.
//
// All steps work on the operation's identity, settings and tables (OperationState), edit the
// new image in place through the RCDB tree, and never resize it. A missing record, a serial
// number missing from a table or an image that does not open leaves that step's bytes as they
// were, silently.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/text.h"
#include "config/settings.h"
#include "engine/operation_state.h"
#include "package/radio_identity.h"

namespace lw {

// Shown (OK / Cancel) for an old or new image of an unidentifiable format kind (128, 144).
inline constexpr const char* kUnidentifiableFormatText = TextKey("The unidentifiable version of RCDB or XUID format!");

// The tuning segments of a plain (non-RCDB) cps_data image: one of 4096 bytes at 0x18000.
inline constexpr size_t kPlainSegmentOffset = 0x18000;
inline constexpr size_t kPlainSegmentSize = 4096;
// RCDB images keep segment i as record i of tree 3, group 91.
inline constexpr int kSegmentTree = 3;
inline constexpr int kSegmentGroup = 91;

// --- Tuning rules -----------------------------------------------------------------------------

// True when the rule's version test, radio type test and segment key pass for `identity`.
// Version: "All Version" always; else the software version from its 2nd character against the
// rule's from its 2nd character, as text: "Less_Equal" passes when the radio's is <= the
// rule's, any other mode only when equal. Type: the rule's list (blank-separated names,
// optionally in "[" "]") names the identity's RadioType exactly; a model without type fails.
bool RuleApplies(const TunerRule& rule, const RadioIdentity& identity, uint32_t key);
bool AnyRuleFor(const std::vector<TunerRule>& rules, const RadioIdentity& identity, uint32_t key);
// For every rule that applies with `key`, copies its bytes [offset, offset + length) from
// `source` to `target` (same offsets); only the part inside both buffers is copied.
void ApplyRules(const std::vector<TunerRule>& rules, const RadioIdentity& identity, std::span<uint8_t> target,
                ByteView source, uint32_t key);

// --- Carry-over steps ---------------------------------------------------------------------------

// Tuning carry-over of the cps_data image: every old segment is written into the new image
// (rule areas taking the new image's bytes), except from an RCDB old image into a plain new
// one. An unidentifiable format kind asks the operator first; Cancel changes nothing.
// Returns false when the operator cancelled.
bool CarryOverCpsData(const OperationState& state, ByteView oldData, std::span<uint8_t> newImage);

// RCDB header fields of root/1/1 derived from the model number and the equipment code of the
// serial number (EquipmentSn.txt). Not for "1.0" identities.
void ApplyModelFields(const OperationState& state, std::span<uint8_t> newImage);

// The unit values of the serial number (Lumaret.txt) into root/2/85 at 72 and 76. The six
// bytes of a unit entry are stored in order from byte 72, the two bytes after them zero.
// Not for "1.0" identities.
void ApplySerialFields(const OperationState& state, std::span<uint8_t> newImage);

// RCDB header carry-over (the package's head-information flag). For a "1.0" identity it sets
// the configured area byte, head text and programmed date in the new image; for others it
// carries the head text, the trunking and repeater fields from the old data into the new image
// and may clear a bit of the old data before the conversion reads it.
void CarryOverHeader(const OperationState& state, std::span<uint8_t> oldData, std::span<uint8_t> newImage);

// The programmed date of "Head Date": digits YYYYMMDD, or today's local date when `text` is
// empty. False for any other text (the date is then left as it is).
struct HeadDate {
  uint16_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
};
bool ParseHeadDate(std::string_view text, HeadDate* date);

// Characters 2-5 of a version text ("A5.00.09.000" gives "5.00"); empty for a shorter text.
std::string DataVersionOf(std::string_view version);

}  // namespace lw
