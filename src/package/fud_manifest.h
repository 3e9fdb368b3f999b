// The fudpack manifest: a small ini file (read with the program's own line reader) that
// describes a package. Documented with examples in docs/fud-manifest.md.
//
//   [package]        header fields by name: producerVersion, targetVersion, keepHeadInfo, ...
//   [versionList]    record = A5.00.07.000          (one line per record, in order)
//   [modelList]      record = <All Version> KX412-000G0000-M00000-U1-0-F
//   [serialList]     record = 1234567890
//   [tunerList]      record = <All Version> <Address=256> <Length=64> <LowHigh=0>
//   [entry]          one section per directory entry, in order: kindName, source, fileName,
//                    origin, areaLength, externFlag, extendName, dataLength
// Numbers are decimal or 0x hexadecimal; source paths are relative to the manifest's folder.
#pragma once

#include <optional>
#include <string>

#include "package/fud_writer.h"

namespace lw {

// The package the manifest describes, with every non-extern entry's bytes read from its
// source; the error names the section and key of the first fault.
Result<PackageSpec> ReadFudManifest(const std::string& path);

// A manifest number: decimal or 0x hexadecimal, nothing else; none for anything else or a
// value beyond 32 bits.
std::optional<uint32_t> ParseManifestNumber(const std::string& text);

}  // namespace lw
