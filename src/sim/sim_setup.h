// What the front ends need for "--sim PROFILE": find the profile files and build a backend
// with one simulated radio per profile.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/port_store.h"
#include "link/usb_ids.h"
#include "sim/simulated_backend.h"

namespace lw::sim {

// PROFILE is a file path, or the name of a profile shipped in the program directory's "sim/"
// folder ("portable" for sim/portable.ini). Empty with `error` set when nothing is found.
std::string FindSimProfile(const std::string& profile, const std::string& programDir, std::string* error);

// One radio per profile, attached in the order given. nullptr with `error` set when a profile
// cannot be found or read, or two profiles give the same device path.
std::unique_ptr<SimulatedBackend> MakeSimulatedBackend(const std::vector<std::string>& profiles,
                                                       const std::string& programDir, std::string* error);

// The backend a front end works with: simulated radios when `simProfiles` is not empty, else
// real USB through libusb with these identifiers. nullptr with `error` set on failure.
std::unique_ptr<UsbBackend> MakeRadioBackend(const std::vector<std::string>& simProfiles,
                                             const std::string& programDir, const UsbIdConfig& ids,
                                             std::string* error);

// Where port numbers are kept: the user's ports.ini for real radios; for simulated ones a map
// that lives with the process, so that their numbers never mix with those of real radios and
// the first profile given is always port 1.
std::unique_ptr<PortStore> MakePortStore(bool simulated);

}  // namespace lw::sim
