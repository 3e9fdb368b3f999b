// Writing upgrade packages (the fudpack tool, the test fixtures, the demo). The writer fills
// every count of the header from the lists and the directory, and every dataLength of a
// non-extern entry from its bytes, so a package it writes always reads back as described.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/status.h"
#include "package/fud_format.h"

namespace lw {

struct PackageEntrySpec {
  DirectoryEntry entry;       // dataLength is taken from `data` unless externFlag is 1
  std::vector<uint8_t> data;  // the image bytes (nothing for an extern entry)
};

struct PackageSpec {
  PackageHeader header;  // magic defaults to the package magic; counts are filled in
  std::vector<std::string> versionRecords, modelRecords, serialRecords, tunerRecords;
  std::vector<PackageEntrySpec> entries;
};

// The package bytes, or an error when a text does not fit its field (a field of
// width W holds W-1 characters) or there are more than 100 entries.
Result<std::vector<uint8_t>> EncodePackage(const PackageSpec& desc);
// Encodes and writes the file (replacing it).
Status WritePackage(const PackageSpec& desc, const std::string& path);

// Encoders of the fixed parts, for tests that build damaged packages.
std::vector<uint8_t> EncodePackageHeader(const PackageHeader& header);
std::vector<uint8_t> EncodeDirectoryEntry(const DirectoryEntry& entry);

}  // namespace lw
