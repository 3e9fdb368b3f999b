// Layout of an upgrade package (.fud). All integers are 32-bit little-endian; texts are 8-bit,
// NUL-terminated and zero-padded to their field's width (a field without NUL is cut at its
// width). The file is, with no gaps:
//   PackageHeader (484 bytes)
//   version list, model list, serial list, tuner change list: RestrictionRecords of 200 bytes
//   directory: entryCount DirectoryEntries of 564 bytes
//   data area: the bytes of every entry whose externFlag is 0, back to back in directory order
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lw::fud {

inline constexpr const char* kMagic = "Vantor Upgrade Fud Files5";
inline constexpr size_t kHeaderSize = 484;
inline constexpr size_t kRecordSize = 200;
inline constexpr size_t kEntrySize = 564;
inline constexpr uint32_t kMaxEntries = 100;

// PackageHeader fields: offset and width.
struct Field {
  size_t offset;
  size_t width;
};
inline constexpr Field kMagicField{0, 30};
inline constexpr Field kProducerVersion{30, 30};
inline constexpr size_t kEntryCount = 60;
inline constexpr size_t kKeepHeadInfo = 64;
inline constexpr size_t kKeepCpsData = 68;
inline constexpr Field kTargetVersion{72, 20};
inline constexpr size_t kVersionCount = 92;
inline constexpr size_t kModelCount = 96;
inline constexpr size_t kSerialCount = 100;
inline constexpr size_t kTunerCount = 104;
inline constexpr size_t kAllRadios = 108;
inline constexpr size_t kForPortable = 112;
inline constexpr size_t kForMobile = 116;
inline constexpr size_t kForRepeater = 120;
inline constexpr size_t kForPortableTrunking = 124;
inline constexpr size_t kForMobileTrunking = 128;
// 132..143 zero
inline constexpr size_t kForOther = 144;
inline constexpr size_t kIgnoreLetter = 148;
inline constexpr size_t kSetModeEnabled = 152;
inline constexpr size_t kSetTypeEnabled = 156;
inline constexpr size_t kModeValue = 160;
inline constexpr size_t kTypeValue = 164;
inline constexpr Field kDataModelNumber{168, 300};
inline constexpr size_t kCompressArmMain = 468;
// 472..483 zero

// DirectoryEntry fields.
inline constexpr Field kKindName{0, 100};
inline constexpr Field kFileName{100, 100};
// 200..203 zero
inline constexpr size_t kDataLength = 204;
inline constexpr size_t kOrigin = 208;
inline constexpr size_t kAreaLength = 212;
// 216..223 zero
inline constexpr size_t kExternFlag = 224;
inline constexpr Field kExtendName{228, 336};

}  // namespace lw::fud

namespace lw {

struct PackageHeader {
  std::string magic;
  std::string producerVersion;
  uint32_t entryCount = 0;
  uint32_t keepHeadInfo = 0;
  uint32_t keepCpsData = 0;
  std::string targetVersion;
  uint32_t versionCount = 0;
  uint32_t modelCount = 0;
  uint32_t serialCount = 0;
  uint32_t tunerCount = 0;
  uint32_t allRadios = 0;
  uint32_t forPortable = 0;
  uint32_t forMobile = 0;
  uint32_t forRepeater = 0;
  uint32_t forPortableTrunking = 0;
  uint32_t forMobileTrunking = 0;
  uint32_t forOther = 0;
  uint32_t ignoreLetter = 0;
  uint32_t setModeEnabled = 0;
  uint32_t setTypeEnabled = 0;
  uint32_t modeValue = 0;
  uint32_t typeValue = 0;
  std::string dataModelNumber;
  uint32_t compressArmMain = 0;

  bool operator==(const PackageHeader&) const = default;
};

struct DirectoryEntry {
  std::string kindName;
  std::string fileName;
  uint32_t dataLength = 0;
  uint32_t origin = 0;
  uint32_t areaLength = 0;
  uint32_t externFlag = 0;
  std::string extendName;

  bool operator==(const DirectoryEntry&) const = default;
};

}  // namespace lw
