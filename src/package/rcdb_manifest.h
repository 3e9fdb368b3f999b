// The rcdbpack manifest: an ini file (read with the program's own line reader) describing an
// RCDB image for the simulated radio, the demo and tests. Documented in docs/rcdb-manifest.md.
//
//   [image]          layout = narrow|wide, identity texts (model, serial, version, variant,
//                    restrictionCode, packageText), formatNibble, formatKind, signature,
//                    headerBlockLength, rootExtraTable, treesAt, header.N = DATA
//   [tree T]         extraTable
//   [group T/G]      a plain group: data = DATA (lines append), size, elements, extraTable
//   [records T/G]    a record array: extraTable
//   [record T/G/I]   one record of it, indices from 0 in order: data, size, elements, extraTable
// DATA is hex:00 11 AA, fill:LENGTH:BYTE, text:TEXT or file:PATH (relative to the manifest).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "package/rcdb_builder.h"

namespace lw {

// The image the manifest describes; the error names the section or key at fault.
Result<RcdbBuildSpec> ReadRcdbManifest(const std::string& path);

// One DATA value, or why it cannot be read. `folder` resolves file: paths.
Result<std::vector<uint8_t>> ParseManifestData(const std::string& text, const std::string& folder);

}  // namespace lw
