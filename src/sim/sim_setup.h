// What the front ends need for "--sim PROFILE": find the profile files and build a backend
// with one simulated radio per profile.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/status.h"
#include "link/port_store.h"
#include "link/usb_ids.h"
#include "sim/simulated_backend.h"

namespace lw::sim {

// PROFILE is a file path, or the name of a profile shipped in the program directory's "sim/"
// folder ("portable" for sim/portable.ini): the file's path, or an error naming the shipped
// profiles when nothing is found.
Result<std::string> FindSimProfile(const std::string& profile, const std::string& programDir);

// One radio per profile, attached in the order given. An error when a profile cannot be found
// or read, or two profiles give the same device path.
Result<std::unique_ptr<SimulatedBackend>> MakeSimulatedBackend(const std::vector<std::string>& profiles,
                                                               const std::string& programDir);

// The backend a front end works with: simulated radios when `simProfiles` is not empty, else
// real USB through libusb with these identifiers.
Result<std::unique_ptr<UsbBackend>> MakeRadioBackend(const std::vector<std::string>& simProfiles,
                                                     const std::string& programDir, const UsbIdConfig& ids);

// Where port numbers are kept: the user's ports.ini for real radios; for simulated ones a map
// that lives with the process, so that their numbers never mix with those of real radios and
// the first profile given is always port 1.
std::unique_ptr<PortStore> MakePortStore(bool simulated);

}  // namespace lw::sim
