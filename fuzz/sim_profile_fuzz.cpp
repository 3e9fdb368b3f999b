// The simulated radio's profile reader on arbitrary text: it either gives a profile or an
// error, never a crash, and a profile it gives makes a radio that can be attached.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/sim_profile.h"
#include "sim/simulated_backend.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  // A folder that does not exist: file keys fail to load instead of reading this machine.
  auto profile = lw::sim::ParseSimProfile(text, "/nonexistent-lw-fuzz", "fuzz");
  if (!profile && profile.status().message().empty()) __builtin_trap();
  // Attaching allocates both 16 MiB flashes: done for one input in eight, so that the reader
  // itself gets most of the time.
  if (profile && size % 8 == 0) {
    lw::sim::SimulatedBackend backend;
    backend.Attach(*profile);
  }
  return 0;
}
