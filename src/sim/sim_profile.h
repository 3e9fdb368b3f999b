// A simulated radio's description: what it is (path, USB class, bootloader, device class,
// sides), what its flash holds at the start (radio data, further images, InfoBlocks), which
// generic commands it acknowledges, how fast its link is, and which faults it shows.
// The file format, with every key, is described in docs/sim-profile.md.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/status.h"
#include "link/usb_backend.h"

namespace lw::sim {

// "CODE@N" (the N-th request of CODE, counted from 1), "CODE@N+" (that one and every later
// one), with "*" as CODE for requests of any code; a delay adds ":MS".
struct FaultRule {
  int code = -1;  // -1: any code
  uint32_t nth = 1;
  bool onward = false;
  int delayMs = 0;

  bool Matches(uint16_t requestCode, uint32_t countOfCode, uint32_t countOfAll) const;
};

// Bits of one main-side flash byte that stay 1: programming cannot clear them.
struct StuckBits {
  uint32_t address = 0;
  uint8_t mask = 0;
};

struct SimFaults {
  std::vector<FaultRule> noAnswer;  // the request is taken but never answered
  std::vector<FaultRule> garble;    // the answer arrives with one byte changed
  std::vector<FaultRule> shortAnswer;  // the answer stops half-way (its length field says more)
  std::vector<FaultRule> delay;     // the answer comes late
  std::vector<FaultRule> refuse;    // the write pipe does not take the request (0 bytes written)
  std::vector<FaultRule> drop;      // writes and erases taken (an erase answered) but never carried out
  std::vector<StuckBits> stuck;     // flash bits that read 1 whatever is written
  uint32_t unplugAfter = 0;         // the radio serves this many requests, then is pulled out
  // From plug-in on, the radio sends this many bytes a second that are no frame on its read
  // pipe (ahead of any answer): a radio whose firmware babbles, or a line picking up noise.
  uint64_t babbleBytesPerSecond = 0;
};

struct SimImage {
  uint8_t selector = 0;
  uint32_t address = 0;
  std::string file;
  Bytes data;
};

struct SimProfile {
  std::string name;
  std::string path;  // the stable device path the backend reports
  UsbDeviceClass usbClass = UsbDeviceClass::Primary;
  std::string bootloader = "01.04.006";
  int radioState = 0;         // byte 2 of the 0x0201 answer (the device class; 2 = repeater)
  bool receiveSide = false;   // a repeater's receive unit, addressed with selector 16

  std::string radioDataFile;  // loaded at radioDataAddress on the main side
  Bytes radioData;
  uint32_t radioDataAddress = 0;
  std::vector<SimImage> images;  // further contents, loaded after the radio data
  Bytes infoBlock;    // main side InfoBlock at the start (erased when empty)
  Bytes rxInfoBlock;  // receive side

  std::string burnScript;        // the generic commands of its "COMM DEFINE" section are known
  std::set<uint16_t> genericCodes;

  uint64_t bytesPerSecond = 0;  // 0: no link delay at all
  int latencyUs = 0;            // per request
  // How fast the flash erases: an erase is answered once its length has been erased at this
  // rate. 0: at once.
  uint64_t eraseBytesPerSecond = 0;

  SimFaults faults;
};

// Reads a profile; file names in it are relative to the profile's folder. An error for a
// missing file, an unknown key or a value that does not read.
Result<SimProfile> LoadSimProfile(const std::string& path);
// The same from text; `baseDir` resolves the file names, `defaultName` names the radio when
// the profile does not.
Result<SimProfile> ParseSimProfile(std::string_view text, const std::string& baseDir, const std::string& defaultName);

// A profile with nothing loaded: a portable on the primary class (tests build on it).
SimProfile DefaultSimProfile(const std::string& name = "radio");

}  // namespace lw::sim
