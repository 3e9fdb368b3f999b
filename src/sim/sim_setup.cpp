#include "sim/sim_setup.h"

#include <filesystem>
#include <set>

#include "link/libusb_backend.h"

namespace lw::sim {

Result<std::string> FindSimProfile(const std::string& profile, const std::string& programDir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_regular_file(profile, ec)) return profile;
  const fs::path shipped = fs::path(programDir) / "sim";
  for (const fs::path& candidate : {shipped / (profile + ".ini"), shipped / profile})
    if (fs::is_regular_file(candidate, ec)) return candidate.string();
  std::string names;
  for (const auto& entry : fs::directory_iterator(shipped, ec))
    if (entry.path().extension() == ".ini") names += (names.empty() ? "" : ", ") + entry.path().stem().string();
  return Status::Error("no radio profile \"" + profile + "\"" + (names.empty() ? "" : " (shipped: " + names + ")"));
}

Result<std::unique_ptr<SimulatedBackend>> MakeSimulatedBackend(const std::vector<std::string>& profiles,
                                                               const std::string& programDir) {
  auto backend = std::make_unique<SimulatedBackend>();
  std::set<std::string> paths;
  for (const std::string& name : profiles) {
    auto file = FindSimProfile(name, programDir);
    if (!file) return file.status();
    auto profile = LoadSimProfile(*file);
    if (!profile) return profile.status();
    if (!paths.insert(profile->path).second)
      return Status::Error("two radio profiles give the same path " + profile->path);
    backend->Attach(std::move(*profile));
  }
  return backend;
}

Result<std::unique_ptr<UsbBackend>> MakeRadioBackend(const std::vector<std::string>& simProfiles,
                                                     const std::string& programDir, const UsbIdConfig& ids) {
  if (!simProfiles.empty()) {
    auto simulated = MakeSimulatedBackend(simProfiles, programDir);
    if (!simulated) return simulated.status();
    return std::unique_ptr<UsbBackend>(std::move(simulated).value());
  }
  LibusbOptions options;
  options.ids = ids;
  auto libusb = LibusbBackend::Create(options);
  if (!libusb) return libusb.status();
  return std::unique_ptr<UsbBackend>(std::move(libusb).value());
}

std::unique_ptr<PortStore> MakePortStore(bool simulated) {
  if (simulated) return std::make_unique<MemoryPortStore>();
  return std::make_unique<IniPortStore>(DefaultPortStorePath());
}

}  // namespace lw::sim
