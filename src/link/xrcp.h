// The XRCP commands this program sends with codes of its own, their payloads and answers, and
// the block loops that erase, read and write whole memory areas with them.
//
// Payloads (little-endian):
//   0x0342 bootloader version  none                      answer bytes 0-6: seven ASCII digits
//   0x0201 radio state         0x07                      answer byte 2: 0, 1 or 2
//   0x01C2 memory read         selector, address(4), length in bytes(2)      memory answer
//   0x01C3 memory write        selector, address(4), length n(2), n bytes    no answer
//   0x01C4 memory erase        selector, address(4), length in 256-byte units(2)  presence only
//
// Memory answer: bytes 0-1 status (not interpreted), 2-5 address echo, 6-7 length echo, 8..
// the data.
//
// The loops report a progress step after each block; each processes at least one block and
// stops after the block whose end reaches the total. They return kOk, kNoAnswer (-1) or
// kWriteRefused (-2), stopping at the first failure with the step counter at the last completed
// step; the loops that take a BlockSource also kImageUnreadable, when it cannot give a block.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/bytes.h"
#include "common/codes.h"
#include "link/block_source.h"
#include "link/radio_answer.h"

namespace lw {

class UsbTransport;

inline constexpr uint16_t kCmdBootloaderVersion = 0x0342;
inline constexpr uint16_t kCmdRadioState = 0x0201;
inline constexpr uint16_t kCmdMemoryRead = 0x01C2;
inline constexpr uint16_t kCmdMemoryWrite = 0x01C3;
inline constexpr uint16_t kCmdMemoryErase = 0x01C4;
inline constexpr uint8_t kRadioStateRequest = 0x07;

// MemorySelector: which memory a request addresses.
inline constexpr uint8_t kMainSide = 0;
inline constexpr uint8_t kReceiveSide = 16;

inline constexpr uint32_t kEraseUnit = 256;
inline constexpr uint32_t kDescendingBlock = 512;  // data bytes of every descending write request
inline constexpr uint32_t kInfoBlockAddress = 0xFE0000;
inline constexpr uint16_t kInfoBlockSize = 256;
inline constexpr uint16_t kInfoBlockEraseUnits = 512;  // the whole 128 KiB unit 0xFE0000-0xFFFFFF
inline constexpr int kVersionQueryTimeoutMs = 3000;
inline constexpr int kStepTotalPauseMs = 500;
inline constexpr int kInfoBlockErasePauseMs = 200;
// Bootloaders up to this version take selector 0 in the block loops and the InfoBlock write.
inline constexpr const char* kLastOldProtocolBootloader = "01.04.005";

// Version texts have one fixed form and compare as plain strings.
bool IsNewProtocol(const std::string& bootloaderVersion);
// The selector a block loop sends: the requested one for a new-protocol radio, else 0.
inline uint8_t EffectiveSelector(uint8_t selector, bool newProtocol) { return newProtocol ? selector : 0; }

// "01.04.001" from an answer to 0x0342 whose first seven payload bytes are digits; nullopt
// when the payload is shorter or holds anything else.
std::optional<std::string> BootloaderVersionFromAnswer(const RadioAnswer& answer);

// Sends 0x0342 and waits (the caller sets the answer time-out, 3,000 ms in the connect step).
std::optional<std::string> QueryBootloaderVersion(UsbTransport& transport);
// Sends 0x0201 with 0x07 and returns byte 2 of the answer; nullopt without an answer or when
// the answer is shorter than 3 bytes.
std::optional<int> QueryRadioState(UsbTransport& transport);

// The 7-byte payload of a read or an erase request (and the head of a write).
Bytes MemoryRequest(uint8_t selector, uint32_t address, uint16_t length);

struct MemoryAnswer {
  uint32_t address = 0;
  uint16_t length = 0;
  ByteView data;  // points into the answer's payload
};
// nullopt when the payload is shorter than the 8-byte head.
std::optional<MemoryAnswer> ParseMemoryAnswer(const RadioAnswer& answer);

// The progress of one phase: the loops post the step number (message 1691) after each block
// and advance the counter; when the number just posted equals the phase total they pause
// 500 ms before going on.
struct ProgressSteps {
  int counter = 1;
  int total = 0;
  std::function<void(int position)> post;
  // How pauses are taken; tests and benchmarks may replace it.
  std::function<void(int ms)> pause;

  void Report();
};

// Erases `total` bytes from `base` in blocks of `block` bytes (a multiple of 256; the length
// field counts 256-byte units). A block of 0, or of 0x10000 units or more (more than the field
// holds), erases nothing and returns kNoAnswer.
int EraseArea(UsbTransport& transport, ProgressSteps& steps, uint32_t base, uint32_t total, uint32_t block,
              uint8_t selector);

// Reads `total` bytes from `base` in blocks of `block` bytes and appends the data of each
// answer to `readBuffer`. A block of 0, or an answer shorter than its head, gives kNoAnswer;
// while the transport checks answers, so does an answer whose address, length or data size
// does not match the request (taking it would shift everything after it in the buffer).
int ReadArea(UsbTransport& transport, ProgressSteps& steps, uint32_t base, uint32_t total, uint32_t block,
             uint8_t selector, Bytes& readBuffer);

// Writes `data` to `base` in blocks of `block` bytes, lowest address first, without waiting for
// answers. A block whose bytes are all 0xFF is not sent (erased flash already holds it) but
// still counts as a step. A block of 0, or one too large for a request, gives kWriteRefused.
int WriteAscending(UsbTransport& transport, ProgressSteps& steps, uint32_t base, BlockSource& data, uint32_t block,
                   uint8_t selector);
int WriteAscending(UsbTransport& transport, ProgressSteps& steps, uint32_t base, ByteView data, uint32_t block,
                   uint8_t selector);

// Cuts `data` into blocks of `block` bytes (at most 512) and sends them last block first, each
// as a 519-byte request with length field 512 and the block padded with 0xFF. A block of 0 or
// above 512 gives kWriteRefused before anything is sent.
int WriteDescending(UsbTransport& transport, ProgressSteps& steps, uint32_t base, BlockSource& data, uint32_t block,
                    uint8_t selector);
int WriteDescending(UsbTransport& transport, ProgressSteps& steps, uint32_t base, ByteView data, uint32_t block,
                    uint8_t selector);

// The most data one memory answer carries: a whole answer is at most 10,242 bytes, of which
// 11 are framing and 8 the memory answer's head.
inline constexpr uint32_t kMaxReadBlock = 10223;

// The outcome of a read-back: kOk, kNoAnswer (a block got no usable answer) or kVerifyMismatch
// with the first address whose byte differs, the byte written there and the byte read back.
struct VerifyResult {
  int code = kOk;
  uint32_t address = 0;
  uint8_t expected = 0;
  uint8_t actual = 0;
};

// Reads [base, base + expected.size()) back in blocks of kMaxReadBlock and compares it with
// `expected`, stopping at the first difference (kImageUnreadable when `expected` cannot give a
// block). Ranges a write skipped because they were all
// 0xFF are part of `expected` and so are checked as erased. `afterBlock` (may be empty) runs
// after every block read, with the blocks done and the block total.
VerifyResult VerifyArea(UsbTransport& transport, uint32_t base, BlockSource& expected, uint8_t selector,
                        const std::function<void(int done, int total)>& afterBlock = {});
VerifyResult VerifyArea(UsbTransport& transport, uint32_t base, ByteView expected, uint8_t selector,
                        const std::function<void(int done, int total)>& afterBlock = {});

// Marks the upgrade complete in the InfoBlock of one side: reads the block, erases its 128 KiB
// unit (after 200 ms), sets status bytes 12-16 (main side) or 12-14 (receive side) to 0xF0 and
// writes the block back. Read and erase address the side's selector; the write carries it only
// for a new-protocol radio. Returns 1 on success (not 0: callers test for it), kNoAnswer or
// kWriteRefused. `pause` takes the pause (unset: a real sleep; tests and the soak replace it).
int UpdateInfoBlock(UsbTransport& transport, bool rxSide, bool newProtocol,
                    const std::function<void(int ms)>& pause = {});

}  // namespace lw
