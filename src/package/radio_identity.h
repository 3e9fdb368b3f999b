// The identity of the radio being served, and the ways it is read: from the radio's data image
// (an RCDB image or the older record list), and from the identity file of a remote identity
// check. This is the one identity reader of the program; the data carry-over builds on it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace lw {

struct RadioIdentity {
  std::string formatVersion;    // "1.0" from a record list, "2.0" from an RCDB image
  std::string modelNumber;      // e.g. "KX412-000G0000-M00000-U1-0-F"
  std::string softwareVersion;  // e.g. "A5.00.09.000"
  std::string serialNumber;
  std::string variantCode;
  int restrictionCode = -1;     // signed 16-bit; -1 when the source gives none
  std::string packageCheckText; // the 16-character text an RCDB image carries at byte 438
};

enum class RadioType : int {
  None = -1,
  Portable = 0,
  Mobile = 1,
  Repeater = 2,
  PortableTrunking = 3,
  MobileTrunking = 4,
};

// KV: Mobile_trunking with 'T' at index 6, else Mobile; KQ: Repeater; anything else:
// Portable_trunking with 'T' at index 6, else Portable. An empty model number has no type.
RadioType RadioTypeOf(std::string_view modelNumber);
// "Portable", "Mobile", "Repeater", "Portable_trunking", "Mobile_trunking"; "" for None.
const char* RadioTypeName(RadioType type);

// Fixed places of the identity in an RCDB image (offsets from the image start; the texts are
// NUL-terminated 8-bit text, read up to the width).
inline constexpr size_t kImageRestrictionCodeAt = 27;  // signed 16-bit
inline constexpr size_t kImageFormatByteAt = 29;
inline constexpr size_t kImageModelAt = 60, kImageModelWidth = 32;
inline constexpr size_t kImageSerialAt = 92, kImageSerialWidth = 16;
inline constexpr size_t kImageVersionAt = 108, kImageVersionWidth = 52;
inline constexpr size_t kImageVariantAt = 160, kImageVariantWidth = 32;
inline constexpr size_t kImagePackageTextAt = 438, kImagePackageTextBytes = 32;  // UTF-16
// The record of a record list that holds the identity, and its UTF-16 texts.
inline constexpr uint32_t kIdentityRecordTag = 0x00010100;
inline constexpr size_t kRecordVersionAt = 100, kRecordSerialAt = 164, kRecordModelAt = 232;
inline constexpr size_t kIdentityRecordSize = 256;

// Format kind of a radio data image: 0 for a plain image; for an RCDB image 128 when the high
// nibble of byte 0 is not 1, else byte 29 + 1 when byte 6 is 1, else 144.
int RcdbFormatKind(std::span<const uint8_t> image);
inline bool IsUnidentifiableKind(int kind) { return kind == 128 || kind == 144; }

// Shown (with the parser's error code) when neither an RCDB tree nor a record list is found.
inline constexpr const char* kRecordListFailedText =
    TextKey("Failed to parse RCDB data.\nError Code=%d\t\t\t\t\nOnly simple format for output.");

// The operator text for a record list that did not parse: kRecordListFailedText, translated line
// by line, with the parser's error code (1..4). Empty for 0, when there is nothing to report.
std::string RecordListFailureText(int error);

struct ImageIdentity {
  std::optional<RadioIdentity> identity;
  bool rcdb = false;         // read from an RCDB tree
  int formatKind = 0;
  int recordListError = 0;   // 1..4 when the record list did not parse (the caller shows it)
  std::vector<uint8_t> identityRecord;  // the 256 bytes of the record-list identity record
};

// Fills the identity from a radio data image: an RCDB image that opens as a tree gives the
// header texts (no identity for the unidentifiable kinds 128 and 144); anything else is read
// as a record list, whose first record tagged 0x00010100 gives the texts. `areaByte` is the
// configured area byte that becomes the variant code of a record-list identity.
ImageIdentity ReadIdentityFromImage(std::span<const uint8_t> image, char areaByte = 0);

// The identity file of a remote identity check (at most 1024 bytes are read; bytes past the
// end of a shorter file count as zero):
//   68 model number (64 bytes), 132 software version (32), 164 format version (32),
//   196 serial number (up to 91), all UTF-16LE NUL-terminated; 287 restriction code (int16).
// The variant code is the 5th character of the model number.
inline constexpr size_t kXuidFileMax = 1024;
RadioIdentity IdentityFromXuid(std::span<const uint8_t> file);
std::vector<uint8_t> MakeXuidFile(const RadioIdentity& identity);

// A radio file as the command line takes it: an RCDB image, a record list, or an identity file
// (anything of at most 1024 bytes that is not an RCDB image).
enum class RadioFileKind { RcdbImage, RecordList, IdentityFile };
struct RadioFileIdentity {
  RadioFileKind kind = RadioFileKind::IdentityFile;
  ImageIdentity image;  // for the two image kinds
  std::optional<RadioIdentity> identity;
};
RadioFileIdentity IdentityFromRadioFile(std::span<const uint8_t> file, char areaByte = 0);

}  // namespace lw
