// The component check: before an upgrade touches the radio, the conversion library beside the
// program must be exactly the build the program was made with. A changed, missing or
// unreadable library fails the check (-8002): converting a radio's data with a foreign library
// could lose the customer's programming.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lw {

inline constexpr const char* kConversionLibraryName = "conversion.so";
inline constexpr const char* kComponentCheckFailedText =
    "Upgrade components is incorrect, please re-install the upgrade program!";

// The library's path in a program directory.
std::string ConversionLibraryPath(const std::string& programDir);

// The MD5 of a file as 32 lowercase hex digits, read in chunks of 1,024 bytes; none when the
// file cannot be opened or read.
std::optional<std::string> FileDigestText(const std::string& path);

// kOk when the library in `programDir` has the digest `expectedDigest` (32 lowercase hex
// digits; an empty expectation never passes), else kComponentCheckFailed.
int CheckConversionComponent(const std::string& programDir, std::string_view expectedDigest);

}  // namespace lw
