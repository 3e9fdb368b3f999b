// Reading upgrade packages. Only the header, the restriction lists and the directory are read;
// the data area is left on disk (an image is read from its data offset when it is burned).
//
// A package is refused as a format error when its magic differs, when entryCount is above 100,
// or when the file is shorter than header + lists + directory + the bytes of every non-extern
// entry. The list counts are checked against the file size before anything is allocated.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/held_file.h"
#include "package/fud_format.h"
#include "package/package_restrictions.h"

namespace lw {

enum class PackageStatus {
  Ok,
  OpenFailed,      // report 10, payload 0
  WrongMagic,      // report 10, payload 1
  Truncated,       // report 10, payload 1
  TooManyEntries,  // report 10, payload 1
};
// The payload of report 10 for a failed read: 0 when the file could not be opened, else 1.
int PackageErrorPayload(PackageStatus status);

// Header, raw restriction records, directory and data offsets of one package.
struct PackageFile {
  PackageStatus status = PackageStatus::OpenFailed;
  std::string error;  // one line for the operator, empty when status is Ok
  uint64_t fileSize = 0;
  PackageHeader header;
  std::vector<uint8_t> headerBytes;  // present whenever 484 bytes could be read
  std::vector<std::string> versionRecords, modelRecords, serialRecords, tunerRecords;
  std::vector<DirectoryEntry> entries;
  uint64_t dataStart = 0;              // 484 + 200 x records + 564 x entryCount
  std::vector<uint64_t> dataOffsets;   // one per entry; extern entries take no room
  bool ok() const { return status == PackageStatus::Ok; }
};

// Decodes the 484 header bytes (texts cut at NUL or their width).
PackageHeader DecodePackageHeader(const uint8_t* bytes);
DirectoryEntry DecodeDirectoryEntry(const uint8_t* bytes);

// Reads header, lists and directory. `withLists` false skips the restriction records (the
// upgrade only needs the directory).
PackageFile ReadPackage(const std::string& path, bool withLists = true);
// The same from a file already held open (the upgrade reads the package it holds for the run).
PackageFile ReadPackage(const HeldFile& file, bool withLists = true);

// The upgrade's view: header, directory and data offsets (lists skipped).
inline PackageFile ReadPackageContents(const std::string& path) { return ReadPackage(path, false); }

// Fills the restrictions from a package that was read successfully: forRadioText (translated
// names), targetVersion, the four lists, the header copy and values, contentsText and the two
// indicators.
void ApplyPackage(const PackageFile& package, PackageRestrictions& restrictions);

// Empties the lists, forRadioText, contentsText and the indicators; targetVersion and the
// header copy keep their values (what a failed load leaves).
void ClearPackageDisplay(PackageRestrictions& restrictions);

// Loads the package at `path` into `restrictions`; on any failure clears the display as above.
PackageStatus LoadPackage(const std::string& path, PackageRestrictions& restrictions);

// The pieces of LoadPackage, for callers and tests that hold the texts.
std::vector<std::string> VersionListOf(const std::vector<std::string>& records, bool ignoreLetter,
                                       const std::string& targetVersion);
std::vector<ModelEntry> ModelListOf(const std::vector<std::string>& records);
std::vector<TunerChangeEntry> TunerListOf(const std::vector<std::string>& records);
std::string ForRadioTextOf(const PackageHeader& header);
std::string ContentsTextOf(const std::vector<DirectoryEntry>& entries);
// Blank-separated tokens; a part in square brackets is one token (blanks inside it kept).
std::vector<std::string> SplitTokens(const std::string& text);

}  // namespace lw
