// The remote control request as a client sends it: arbitrary bytes, cut into receives of sizes
// the input chooses, gathered into the request line, ended, split into verb and argument, and
// for an XUID request the rest of the input read as the identity file it names. Nothing may
// crash, and the line never grows past its limit.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/remote_control_server.h"
#include "package/radio_identity.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the receive size (1 to 256 bytes), as a client's packets would.
  const size_t chunk = size_t(data[0]) + 1;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string line;
  size_t used = 0;
  bool complete = false;
  while (!complete && used < rest.size()) {
    std::string_view received = rest.substr(used, chunk);
    used += received.size();
    complete = lw::AppendRequestBytes(line, received);
  }
  if (line.size() > lw::kRemoteRequestMax) __builtin_trap();
  if (complete && line.size() < lw::kRemoteRequestMax && line.back() != '\n') __builtin_trap();

  const std::string request = lw::RequestFromLine(line);
  if (request.size() + 2 < line.size() && request.find('\0') != std::string::npos) __builtin_trap();
  const lw::RemoteRequest split = lw::SplitRequest(request);
  (void)lw::ReplyFor(int(size) - 50);
  if (split.verb == lw::kVerbIdentity && used < rest.size()) {
    std::string_view file = rest.substr(used);
    lw::IdentityFromXuid(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
  }
  return 0;
}
