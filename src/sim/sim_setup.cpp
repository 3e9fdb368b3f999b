#include "sim/sim_setup.h"

#include <filesystem>
#include <set>

#include "link/libusb_backend.h"

namespace lw::sim {

std::string FindSimProfile(const std::string& profile, const std::string& programDir, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_regular_file(profile, ec)) return profile;
  const fs::path shipped = fs::path(programDir) / "sim";
  for (const fs::path& candidate : {shipped / (profile + ".ini"), shipped / profile})
    if (fs::is_regular_file(candidate, ec)) return candidate.string();
  if (error) {
    std::string names;
    for (const auto& entry : fs::directory_iterator(shipped, ec))
      if (entry.path().extension() == ".ini") names += (names.empty() ? "" : ", ") + entry.path().stem().string();
    *error = "no radio profile \"" + profile + "\"" + (names.empty() ? "" : " (shipped: " + names + ")");
  }
  return "";
}

std::unique_ptr<SimulatedBackend> MakeSimulatedBackend(const std::vector<std::string>& profiles,
                                                       const std::string& programDir, std::string* error) {
  auto backend = std::make_unique<SimulatedBackend>();
  std::set<std::string> paths;
  for (const std::string& name : profiles) {
    std::string file = FindSimProfile(name, programDir, error);
    if (file.empty()) return nullptr;
    auto profile = LoadSimProfile(file, error);
    if (!profile) return nullptr;
    if (!paths.insert(profile->path).second) {
      if (error) *error = "two radio profiles give the same path " + profile->path;
      return nullptr;
    }
    backend->Attach(std::move(*profile));
  }
  return backend;
}

std::unique_ptr<UsbBackend> MakeRadioBackend(const std::vector<std::string>& simProfiles,
                                             const std::string& programDir, const UsbIdConfig& ids,
                                             std::string* error) {
  if (!simProfiles.empty()) return MakeSimulatedBackend(simProfiles, programDir, error);
  LibusbOptions options;
  options.ids = ids;
  return LibusbBackend::Create(options, error);
}

std::unique_ptr<PortStore> MakePortStore(bool simulated) {
  if (simulated) return std::make_unique<MemoryPortStore>();
  return std::make_unique<IniPortStore>(DefaultPortStorePath());
}

}  // namespace lw::sim
