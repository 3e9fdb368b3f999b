// What the front ends need for "--sim PROFILE": find the profile files and build a backend
// with one simulated radio per profile.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/simulated_backend.h"

namespace lw::sim {

// PROFILE is a file path, or the name of a profile shipped in the program directory's "sim/"
// folder ("portable" for sim/portable.ini). Empty with `error` set when nothing is found.
std::string FindSimProfile(const std::string& profile, const std::string& programDir, std::string* error);

// One radio per profile, attached in the order given. nullptr with `error` set when a profile
// cannot be found or read, or two profiles give the same device path.
std::unique_ptr<SimulatedBackend> MakeSimulatedBackend(const std::vector<std::string>& profiles,
                                                       const std::string& programDir, std::string* error);

}  // namespace lw::sim
