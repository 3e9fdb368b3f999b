// One side of the simulated radio's flash: 16 MiB of NOR flash. Erasing sets whole 256-byte
// units to 0xFF; programming can only clear bits, so writing over data that was not erased
// leaves the AND of old and new and is recorded as an error the tests can see.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "sim/sim_memory_map.h"

namespace lw::sim {

struct FlashError {
  enum class Kind {
    NotErased,    // a write tried to set bits that were 0
    OutOfRange,   // a request reached past the end of the flash
    Unaligned,    // an erase did not start on a 256-byte unit
  };
  Kind kind;
  uint32_t address;  // the first offending address of the request
  uint32_t length;   // the request's length in bytes
};
const char* FlashErrorText(FlashError::Kind kind);

class SimFlash {
 public:
  SimFlash();

  // Sets the 256-byte units covering [address, address + units * 256) to 0xFF. False (and
  // nothing erased) when the range leaves the flash. An unaligned start is recorded and erases
  // from the start of its unit, as the chip would.
  bool Erase(uint32_t address, uint32_t units);
  // Programs bytes: each byte becomes old AND new. Bytes that needed a 0 turned back into 1 are
  // recorded once per request. False (nothing written) when the range leaves the flash.
  bool Program(uint32_t address, ByteView data);
  // False when the range leaves the flash.
  bool Read(uint32_t address, uint32_t length, Bytes& out) const;

  // Test and set-up access, bypassing the flash rules.
  ByteView View(uint32_t address, uint32_t length) const;
  void Load(uint32_t address, ByteView data);
  const uint8_t* data() const { return cells_.data(); }

  // A defective cell: the bits of `mask` at `address` read 1 whatever is programmed.
  void SetStuckBits(uint32_t address, uint8_t mask);

  const std::vector<FlashError>& Errors() const { return errors_; }
  size_t ErrorCount() const { return errorCount_; }
  void ClearErrors();

 private:
  void Record(FlashError::Kind kind, uint32_t address, uint32_t length);

  Bytes cells_;
  std::map<uint32_t, uint8_t> stuck_;  // address -> bits that stay 1
  std::vector<FlashError> errors_;  // the first kMaxKeptErrors
  size_t errorCount_ = 0;
};

}  // namespace lw::sim
