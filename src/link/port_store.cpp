#include "link/port_store.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.h"

namespace lw {

namespace {
// A key of one to five decimal digits naming a port 1..65535; anything else is not ours.
int PortNumberOf(const std::string& key) {
  if (key.empty() || key.size() > 5) return 0;
  int value = 0;
  for (char c : key) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value <= 65535 ? value : 0;
}
}  // namespace

PortNumberMap IniPortStore::Load() {
  PortNumberMap entries;
  std::ifstream in(path_, std::ios::binary);
  if (!in) return entries;
  std::string line;
  while (std::getline(in, line)) {
    std::string text = Trim(line);
    if (text.empty() || text[0] == '[' || text[0] == ';' || text[0] == '#' || StartsWith(text, "//")) continue;
    auto eq = text.find('=');
    if (eq == std::string::npos) continue;
    int port = PortNumberOf(Trim(text.substr(0, eq)));
    std::string devicePath = Trim(text.substr(eq + 1));
    if (port == 0 || devicePath.empty()) continue;
    entries[port] = devicePath;
  }
  return entries;
}

bool IniPortStore::Save(const PortNumberMap& entries) {
  if (entries.empty()) return true;
  PortNumberMap merged = Load();
  for (const auto& [port, devicePath] : entries) merged[port] = devicePath;

  std::error_code ec;
  std::filesystem::path target(path_);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);

  // Write beside the file and rename over it, so that a crash or a second instance never
  // leaves a half-written map behind.
  std::string temporary = path_ + Format(".%d.tmp", int(getpid()));
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << "// Loftwise port numbers: one line per radio ever seen (number=path), never deleted.\n"
           "[Ports]\n";
    for (const auto& [port, devicePath] : merged) out << port << '=' << devicePath << '\n';
    out.flush();
    if (!out) {
      std::filesystem::remove(temporary, ec);
      return false;
    }
  }
  std::filesystem::rename(temporary, target, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    return false;
  }
  return true;
}

bool MemoryPortStore::Save(const PortNumberMap& entries) {
  for (const auto& [port, devicePath] : entries) entries_[port] = devicePath;
  return true;
}

std::string DefaultPortStorePath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.config";
  }
  return base + "/loftwise/ports.ini";
}

}  // namespace lw
