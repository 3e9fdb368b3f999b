// PackageRestrictions: the admission data of the current package, owned by the main window and
// replaced on every package load. Until a package is loaded it holds the set.ini rules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/settings.h"
#include "common/text.h"
#include "package/fud_format.h"

namespace lw {

// familyKey of the entries that only break display rows.
inline constexpr const char* kChangeRowKey = "CHANGE ROW";
inline constexpr const char* kAllVersion = TextKey("All Version");
// radioTypes of every tuner change entry read from a package.
inline constexpr const char* kAllRadioTypes = "Portable Mobile Repeater Portable_trunking Mobile_trunking";

struct ModelEntry {
  std::string familyKey;  // first 5 characters of modelNumber, or "CHANGE ROW"
  std::string modelNumber;
  std::string version;    // a version text or "All Version"
  bool IsMarker() const { return familyKey == kChangeRowKey; }
  bool operator==(const ModelEntry&) const = default;
};

struct TunerChangeEntry {
  std::string version;     // a version text or "All Version"
  std::string radioTypes;
  uint32_t address = 0;
  uint32_t length = 0;
  uint32_t lowHigh = 0;
  std::string comparison;  // "Less_Equal", or anything else meaning equal
  bool operator==(const TunerChangeEntry&) const = default;
};

struct PackageRestrictions {
  std::string forRadioText;
  std::string targetVersion;
  std::vector<std::string> versionList;
  std::vector<ModelEntry> modelList;
  std::vector<std::string> serialList;
  std::vector<TunerChangeEntry> tunerList;

  PackageHeader header;             // the loaded header (kept on a failed load)
  std::vector<uint8_t> headerBytes; // its 484 bytes
  uint32_t ignoreLetter = 0;
  uint32_t setModeEnabled = 0;
  uint32_t setTypeEnabled = 0;
  uint32_t modeValue = 0;
  uint32_t typeValue = 0;

  std::string contentsText;         // display summary of the directory
  bool headInfoIndicator = false;   // keepHeadInfo = 1
  bool cpsDataIndicator = false;    // keepCpsData = 1
};

// The start-up values from set.ini: "Radio Type", "Upgrade To", the "from" versions of
// "UPGRADE VERSION", the "FOR RADIO" rules (family, model number, version; "CHANGE ROW" lines
// become markers) and the "TUNER DATA CHANGE" rules.
PackageRestrictions RestrictionsFromSettings(const ProgramSettings& settings, const UpgradeRules& upgrade,
                                             const std::vector<RadioRule>& radios,
                                             const std::vector<TunerRule>& tuners);

}  // namespace lw
