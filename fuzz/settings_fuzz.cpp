// Feeds arbitrary bytes to the line reader and every set.ini and list reader, and writes a key
// into the file: none may crash, hang or read outside its input, whatever the file holds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "config/line_reader.h"
#include "config/settings.h"

namespace {

const std::string& ScratchFile() {
  static const std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/lw_settings_fuzz_" + std::to_string(getpid()) + ".ini";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string& path = ScratchFile();
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(text.data(), std::streamsize(text.size()));

  lw::ProgramSettings settings;
  lw::ReadProgramSettings(path, settings);
  lw::ReadUpgradeRules(path);
  lw::ReadTunerRules(path);
  lw::ReadRadioRules(path, false);
  lw::ReadRadioRules(path, true);
  lw::ReadMacList(path);
  lw::ReadSerialList(path);
  lw::BracketFields(text, '<', '>');
  lw::BracketFields(text, '[', ']');
  lw::BackupDirectory(settings, "/opt/lw/");

  // The writer walks the same hostile lines; the file it leaves must read again.
  if (lw::WriteSetting(path, lw::kProgramSetSection, "Skin", "2", true)) {
    lw::ProgramSettings after;
    lw::ReadProgramSettings(path, after);
  }
  return 0;
}
