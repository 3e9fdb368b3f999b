// The install record: how Lumaret finds an installed Loftwise without asking the operator.
//
// The install step (`cmake --install`, see cmake/install.cmake) writes a small ini file named
// after the product GUID:
//
//   [{79D7ED45-2BC3-4056-9720-4D7C7CE46CB3}]
//   InstallLocation=/opt/loftwise/lib/loftwise/
//
// Record directories, searched in this order (the first one holding the file wins):
//   1. $LOFTWISE_INSTALL_RECORD_DIR, when set: then it is the only place looked at, so a
//      test or a demo never picks up a real installation;
//   2. $XDG_DATA_HOME/loftwise/install-records (default ~/.local/share/...): installs by a user;
//   3. /var/lib/loftwise/install-records: installs by root or by a package.
#pragma once

#include <string>
#include <vector>

namespace lw {

// Identifies the installation this patch belongs to. cmake/install.cmake reads the value from
// this line, so the install step and Lumaret cannot disagree.
inline constexpr char kProductGuid[] = "{79D7ED45-2BC3-4056-9720-4D7C7CE46CB3}";
inline constexpr char kInstallLocationKey[] = "InstallLocation";
inline constexpr char kInstallRecordDirEnv[] = "LOFTWISE_INSTALL_RECORD_DIR";
inline constexpr char kSystemInstallRecordDir[] = "/var/lib/loftwise/install-records";

// The record directories in search order (see above); each ends in '/'.
std::vector<std::string> InstallRecordDirectories();

// The record's file name: the GUID plus ".ini".
std::string InstallRecordFileName();

// The first record file that exists, or "" when there is none.
std::string FindInstallRecord();

// The "InstallLocation" value of the product's section in `recordFile`, exactly as stored
// (only the line end is taken off). "" when the file, the section or the value is missing.
std::string ReadInstallLocationFrom(const std::string& recordFile);

// The install location from the first record found; "" when there is none.
std::string ReadInstallLocation();

}  // namespace lw
