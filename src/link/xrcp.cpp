#include "link/xrcp.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "link/link_frame.h"
#include "link/usb_transport.h"

namespace lw {

bool IsNewProtocol(const std::string& bootloaderVersion) {
  return bootloaderVersion > std::string(kLastOldProtocolBootloader);
}

std::optional<std::string> BootloaderVersionFromAnswer(const RadioAnswer& answer) {
  if (answer.payload.size() < 7) return std::nullopt;
  std::string digits(answer.payload.begin(), answer.payload.begin() + 7);
  for (char c : digits)
    if (c < '0' || c > '9') return std::nullopt;
  return digits.substr(0, 2) + "." + digits.substr(2, 2) + "." + digits.substr(4, 3);
}

std::optional<std::string> QueryBootloaderVersion(UsbTransport& transport) {
  AnswerPtr answer = transport.Exchange(kCmdBootloaderVersion, {}, true);
  transport.ReleaseAnswer();
  if (!answer) return std::nullopt;
  return BootloaderVersionFromAnswer(*answer);
}

std::optional<int> QueryRadioState(UsbTransport& transport) {
  const uint8_t request[] = {kRadioStateRequest};
  AnswerPtr answer = transport.Exchange(kCmdRadioState, request, true);
  transport.ReleaseAnswer();
  if (!answer || answer->payload.size() < 3) return std::nullopt;
  return answer->payload[2];
}

Bytes MemoryRequest(uint8_t selector, uint32_t address, uint16_t length) {
  Bytes payload(7);
  payload[0] = selector;
  PutLe32(&payload[1], address);
  PutLe16(&payload[5], length);
  return payload;
}

std::optional<MemoryAnswer> ParseMemoryAnswer(const RadioAnswer& answer) {
  if (answer.payload.size() < 8) return std::nullopt;
  MemoryAnswer memory;
  memory.address = Le32(&answer.payload[2]);
  memory.length = Le16(&answer.payload[6]);
  memory.data = ByteView(answer.payload).subspan(8);
  return memory;
}

void ProgressSteps::Report() {
  if (post) post(counter);
  if (counter == total) {
    if (pause) {
      pause(kStepTotalPauseMs);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(kStepTotalPauseMs));
    }
  }
  ++counter;
}

namespace {
// offset, offset + block, ... until the block whose end reaches the total; at least once.
template <typename Fn>
int ForEachBlock(uint32_t total, uint32_t block, Fn&& fn) {
  uint64_t offset = 0;
  do {
    const uint32_t n = uint32_t(std::min<uint64_t>(block, total > offset ? total - offset : 0));
    if (int rc = fn(uint32_t(offset), n); rc != kOk) return rc;
    offset += block;
  } while (offset < total);
  return kOk;
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// True when every byte is 0xFF, looked at eight bytes at a time: it runs once per block of
// every image written.
bool IsErased(const uint8_t* bytes, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    if (word != ~uint64_t(0)) return false;
  }
  for (; i < n; ++i)
    if (bytes[i] != 0xFF) return false;
  return true;
}
}  // namespace

int EraseArea(UsbTransport& transport, ProgressSteps& steps, uint32_t base, uint32_t total, uint32_t block,
              uint8_t selector) {
  // A block the 16-bit unit count cannot hold would wrap to an erase of next to nothing.
  if (block == 0 || block / kEraseUnit > 0xFFFF) return kNoAnswer;
  return ForEachBlock(total, block, [&](uint32_t offset, uint32_t n) {
    Bytes request = MemoryRequest(selector, base + offset, uint16_t(n / kEraseUnit));
    AnswerPtr answer = transport.Exchange(kCmdMemoryErase, request, true);
    if (!answer) return kNoAnswer;
    transport.ReleaseAnswer();
    steps.Report();
    return kOk;
  });
}

int ReadArea(UsbTransport& transport, ProgressSteps& steps, uint32_t base, uint32_t total, uint32_t block,
             uint8_t selector, Bytes& readBuffer) {
  if (block == 0 || block > 0xFFFF) return kNoAnswer;
  const bool check = transport.options().checkAnswers;
  // Room for the whole area at once: grown block by block, the buffer would be copied into
  // fresh memory again and again. Not beyond a whole flash, whatever a script asks for.
  readBuffer.reserve(readBuffer.size() + std::min<size_t>(total, size_t(32) << 20));
  return ForEachBlock(total, block, [&](uint32_t offset, uint32_t n) {
    Bytes request = MemoryRequest(selector, base + offset, uint16_t(n));
    AnswerPtr answer = transport.Exchange(kCmdMemoryRead, request, true);
    if (!answer) return kNoAnswer;
    transport.ReleaseAnswer();
    auto memory = ParseMemoryAnswer(*answer);
    if (!memory) return kNoAnswer;
    if (check && (memory->address != base + offset || memory->length != n || memory->data.size() != n))
      return kNoAnswer;
    readBuffer.insert(readBuffer.end(), memory->data.begin(), memory->data.end());
    steps.Report();
    return kOk;
  });
}

int WriteAscending(UsbTransport& transport, ProgressSteps& steps, uint32_t base, BlockSource& data, uint32_t block,
                   uint8_t selector) {
  if (block == 0 || size_t(block) + 7 > kMaxRequestPayload) return kWriteRefused;
  const uint32_t total = uint32_t(std::min<size_t>(data.size(), UINT32_MAX));
  uint8_t head[7];
  return ForEachBlock(total, block, [&](uint32_t offset, uint32_t n) {
    const uint8_t* bytes = n ? data.Block(offset, n) : nullptr;
    if (n && !bytes) return kImageUnreadable;
    const bool erased = IsErased(bytes, n);
    if (!erased) {
      head[0] = selector;
      PutLe32(&head[1], base + offset);
      PutLe16(&head[5], uint16_t(n));
      size_t written = 0;
      transport.Exchange(kCmdMemoryWrite, ByteView(head, sizeof head), ByteView(bytes, n), false, written);
      if (written == 0) return kWriteRefused;
    }
    steps.Report();
    return kOk;
  });
}

int WriteAscending(UsbTransport& transport, ProgressSteps& steps, uint32_t base, ByteView data, uint32_t block,
                   uint8_t selector) {
  MemoryBlocks blocks(data);
  return WriteAscending(transport, steps, base, blocks, block, selector);
}

int WriteDescending(UsbTransport& transport, ProgressSteps& steps, uint32_t base, BlockSource& data, uint32_t block,
                    uint8_t selector) {
  if (block == 0 || block > kDescendingBlock) return kWriteRefused;
  const uint32_t total = uint32_t(std::min<size_t>(data.size(), UINT32_MAX));
  std::vector<uint32_t> offsets;
  ForEachBlock(total, block, [&](uint32_t offset, uint32_t) {
    offsets.push_back(offset);
    return kOk;
  });
  Bytes payload(7 + kDescendingBlock);
  for (auto it = offsets.rbegin(); it != offsets.rend(); ++it) {
    const uint32_t offset = *it;
    const uint32_t n = std::min(block, total - offset);
    const uint8_t* bytes = n ? data.Block(offset, n) : nullptr;
    if (n && !bytes) return kImageUnreadable;
    payload[0] = selector;
    PutLe32(&payload[1], base + offset);
    PutLe16(&payload[5], uint16_t(kDescendingBlock));
    if (n) std::memcpy(&payload[7], bytes, n);
    std::memset(&payload[7 + n], 0xFF, kDescendingBlock - n);
    size_t written = 0;
    transport.Exchange(kCmdMemoryWrite, payload, false, written);
    if (written < 1) return kWriteRefused;
    steps.Report();
  }
  return kOk;
}

int WriteDescending(UsbTransport& transport, ProgressSteps& steps, uint32_t base, ByteView data, uint32_t block,
                    uint8_t selector) {
  MemoryBlocks blocks(data);
  return WriteDescending(transport, steps, base, blocks, block, selector);
}

VerifyResult VerifyArea(UsbTransport& transport, uint32_t base, BlockSource& expected, uint8_t selector,
                        const std::function<void(int done, int total)>& afterBlock) {
  VerifyResult result;
  const size_t total = expected.size();
  const int blocks = int((total + kMaxReadBlock - 1) / kMaxReadBlock);
  for (size_t offset = 0, done = 0; offset < total; offset += kMaxReadBlock) {
    const uint32_t n = uint32_t(std::min<size_t>(kMaxReadBlock, total - offset));
    const uint32_t address = base + uint32_t(offset);
    AnswerPtr answer = transport.Exchange(kCmdMemoryRead, MemoryRequest(selector, address, uint16_t(n)), true);
    transport.ReleaseAnswer();
    auto memory = answer ? ParseMemoryAnswer(*answer) : std::nullopt;
    // An answer for another range, or a short one, proves nothing either way: it is no answer,
    // whether or not answers are otherwise checked.
    if (!memory || memory->address != address || memory->length != n || memory->data.size() != n) {
      result.code = kNoAnswer;
      result.address = address;
      return result;
    }
    const uint8_t* want = expected.Block(offset, n);
    if (!want) {
      result.code = kImageUnreadable;
      result.address = address;
      return result;
    }
    if (std::memcmp(memory->data.data(), want, n) != 0) {
      size_t i = 0;
      while (memory->data[i] == want[i]) ++i;
      result.code = kVerifyMismatch;
      result.address = address + uint32_t(i);
      result.expected = want[i];
      result.actual = memory->data[i];
      return result;
    }
    if (afterBlock) afterBlock(int(++done), blocks);
  }
  return result;
}

VerifyResult VerifyArea(UsbTransport& transport, uint32_t base, ByteView expected, uint8_t selector,
                        const std::function<void(int done, int total)>& afterBlock) {
  MemoryBlocks blocks(expected);
  return VerifyArea(transport, base, blocks, selector, afterBlock);
}

int UpdateInfoBlock(UsbTransport& transport, bool rxSide, bool newProtocol, const std::function<void(int ms)>& pause) {
  // A bootloader that predates the selector gets 0 in all three requests, like every other.
  const uint8_t side = EffectiveSelector(rxSide ? kReceiveSide : kMainSide, newProtocol);
  AnswerPtr read = transport.Exchange(kCmdMemoryRead, MemoryRequest(side, kInfoBlockAddress, kInfoBlockSize), true);
  if (!read) return kNoAnswer;
  // The block is written back from this answer; one without the whole block cannot be.
  if (read->payload.size() < 8 + size_t(kInfoBlockSize)) return kNoAnswer;

  if (pause) {
    pause(kInfoBlockErasePauseMs);
  } else {
    Pause(kInfoBlockErasePauseMs);
  }
  AnswerPtr erased =
      transport.Exchange(kCmdMemoryErase, MemoryRequest(side, kInfoBlockAddress, kInfoBlockEraseUnits), true);
  if (!erased) return kNoAnswer;
  transport.ReleaseAnswer();

  // Address, length and the 256 data bytes, as read; then the status bytes.
  Bytes payload(1 + 6 + size_t(kInfoBlockSize));
  payload[0] = side;
  std::memcpy(&payload[1], &read->payload[2], 6 + size_t(kInfoBlockSize));
  const int lastStatusByte = rxSide ? 14 : 16;
  for (int i = 12; i <= lastStatusByte; ++i) payload[7 + i] = 0xF0;
  size_t written = 0;
  transport.Exchange(kCmdMemoryWrite, payload, false, written);
  return written > 0 ? 1 : kWriteRefused;
}

}  // namespace lw
