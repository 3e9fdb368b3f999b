// Files around a package: extern images beside it, the package the settings assign to a model
// number, and the header of a picture package image.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "config/settings.h"
#include "package/fud_format.h"

namespace lw {

// The settings' file name for a kind ("<kind> file"), for the kinds that have one; "" else.
std::string KindFileSetting(const ProgramSettings& settings, const std::string& kindName);

// The extern file of an entry: the package's folder + the kind's file name with every "."
// replaced by "[extendName].". cps.bin with extend name V1 gives FOLDER/cps[V1].bin.
std::string ExternFilePath(const std::string& packagePath, const std::string& kindName,
                           const std::string& extendName, const ProgramSettings& settings);

// The first extern entry (in directory order) whose file is not there, or "" when all are.
// A kind without a file name never counts as there (its path names the folder).
std::string FindMissingExternFile(const std::string& packagePath, const std::vector<DirectoryEntry>& entries,
                                  const ProgramSettings& settings);

// The model number as the "UPGRADE FILE" rules are written: unless it starts with "KW",
// character 4 becomes '0'; character 6 becomes '0'; with "DMR" in the Digital Type a '0' at
// 12 becomes 'P'; a "KW" number is taken as "KX" with characters 4 and 12 '0'; with "40" or
// "Forbidden" in the Encrypt Len, character 17 becomes '0'.
std::string AdjustModelForRules(const std::string& modelNumber, const ProgramSettings& settings);

// programDir + "UpgradeFile/" + the file of the first rule whose pattern equals the adjusted
// model number; "" when none matches.
std::string PackageForModel(const std::string& modelNumber, const ProgramSettings& settings,
                            const std::vector<UpgradeRule>& rules, const std::string& programDir);

// The first 104 bytes of a pic_gif package image give where the image goes.
inline constexpr size_t kPictureHeaderSize = 104;
struct PictureHeader {
  int layoutKind = -1;   // 0, 1 or 2; -1 invalid
  int versionCode = -1;  // 40, 45 or 50; -1 invalid
  bool valid = false;
};
PictureHeader PictureHeaderInfo(std::span<const uint8_t> image);
PictureHeader PictureHeaderInfoFromFile(const std::string& path);

}  // namespace lw
