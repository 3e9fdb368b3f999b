// UsbTransport's request/answer exchange and its trace.
#include <chrono>
#include <optional>
#include <thread>

#include "link/comm_log.h"
#include "link/link_frame.h"
#include "link/usb_transport.h"

namespace lw {

namespace {
using Clock = std::chrono::steady_clock;
void PollPause() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }
}  // namespace

bool UsbTransport::Elapsed(Clock::time_point start) const {
  return Clock::now() - start >= std::chrono::milliseconds(int(answerTimeoutMs_));
}

void UsbTransport::Trace(int direction, ByteView bytes) {
  if (!options_.commLog) return;
  AppendTraceLine(options_.commLogPath, direction == 0 ? TraceDirection::ToRadio : TraceDirection::FromRadio,
                  bytes);
}

void UsbTransport::ClearTrace() { ClearTraceFile(options_.commLogPath); }

AnswerPtr UsbTransport::Exchange(uint16_t command, ByteView payload, bool waitForAnswer) {
  size_t written = 0;
  return Exchange(command, payload, waitForAnswer, written);
}

AnswerPtr UsbTransport::Exchange(uint16_t command, ByteView payload, bool waitForAnswer, size_t& bytesWritten) {
  return Exchange(command, payload, {}, waitForAnswer, bytesWritten);
}

std::optional<uint16_t> UsbTransport::ReadAnswerLength(Clock::time_point start) {
  // A length of 2 (an empty answer) is ignored and read again, but a radio that sends nothing
  // else is as good as silent: the time-out and the stop flag bound this loop whatever arrives.
  uint8_t lengthField[2];
  size_t have = 0;
  for (;;) {
    if (StopSet() || Elapsed(start)) return std::nullopt;
    size_t got = ReadPipe(lengthField + have, 2 - have);
    if (got > 0) {
      have += got;
      if (have < 2) continue;
      const uint16_t length = Le16(lengthField);
      if (length != 2) return length;
      have = 0;
      continue;
    }
    PollPause();
  }
}

bool UsbTransport::ReadAnswerBody(size_t bodySize, Clock::time_point start) {
  // The time-out is looked at after every read, not only after an empty one: a radio that
  // trickles bytes would otherwise stretch one exchange for as long as it keeps talking.
  size_t have = 0;
  while (have < bodySize) {
    if (StopSet()) return false;
    if (Elapsed(start)) {
      Trace(1, ByteView(answerBody_.data(), have));
      return false;
    }
    size_t got = ReadPipe(answerBody_.data() + have, bodySize - have);
    if (got > 0) {
      have += got;
      continue;
    }
    PollPause();
  }
  return true;
}

AnswerPtr UsbTransport::Exchange(uint16_t command, ByteView head, ByteView data, bool waitForAnswer,
                                 size_t& bytesWritten) {
  bytesWritten = 0;
  if (staleInput_) {
    // The previous request got no good answer; whatever the radio sends now belongs to it.
    staleInput_ = false;
    DrainInput(nullptr);
  }
  const size_t size = BuildLinkFrame(command, head, data, request_.data(), request_.size());
  if (size == 0) {
    // Longer than a request buffer: nothing is sent, and there is nothing to wait for.
    if (waitForAnswer) answerSlot_.reset();
    return nullptr;
  }
  bytesWritten = WritePipe(request_.data(), size);
  Trace(0, ByteView(request_.data(), size));
  if (!waitForAnswer) return nullptr;

  const Clock::time_point start = Clock::now();
  auto giveUp = [&]() -> AnswerPtr {
    answerSlot_.reset();
    staleInput_ = true;
    return nullptr;
  };
  const std::optional<uint16_t> field = ReadAnswerLength(start);
  if (!field) return giveUp();
  const uint16_t length = *field;
  if (length < kMinAnswerLength || length > kMaxAnswerLength) {
    // Too short for a command frame or too long for the body buffer: not an answer. Swallow
    // the rest of it, keeping its bytes for the trace.
    Bytes rest(2);
    PutLe16(rest.data(), length);
    DrainInput(&rest);
    Trace(1, rest);
    answerSlot_.reset();
    return nullptr;
  }
  const size_t bodySize = size_t(length) - 2;
  if (!ReadAnswerBody(bodySize, start)) return giveUp();
  ByteView body(answerBody_.data(), bodySize);
  Trace(1, body);

  if (options_.checkAnswers && VerifyLinkFrameBody(length, body) != FrameFault::None) return giveUp();

  auto answer = std::make_shared<RadioAnswer>();
  answer->command = Le16(body.data() + 3);
  answer->payloadLength = uint16_t(length - kMinAnswerLength);
  answer->payload.assign(body.begin() + 7, body.begin() + 7 + answer->payloadLength);
  answerSlot_ = answer;
  return answerSlot_;
}

}  // namespace lw
