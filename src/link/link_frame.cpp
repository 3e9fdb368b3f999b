#include "link/link_frame.h"

#include <cstring>

namespace lw {

uint8_t CommandChecksum(uint16_t command, ByteView payload) {
  uint32_t sum = (command & 0xFF) + (command >> 8) + (payload.size() & 0xFF) + ((payload.size() >> 8) & 0xFF);
  for (uint8_t b : payload) sum += b;
  return uint8_t(kChecksumBase - sum);
}

uint16_t CheckWord(uint16_t totalLength, ByteView commandFrame) {
  // Sum of the little-endian words = sum of the low bytes + 256 x sum of the high bytes; two
  // plain byte sums run much faster than assembling each word.
  const uint8_t* p = commandFrame.data();
  const size_t pairs = commandFrame.size() / 2;
  uint32_t low = 0, high = 0;
  for (size_t i = 0; i < pairs; ++i) {
    low += p[2 * i];
    high += p[2 * i + 1];
  }
  uint32_t sum = uint32_t(totalLength) + low + (high << 8);
  uint32_t items = 1 + uint32_t(pairs);
  if (commandFrame.size() % 2) {
    sum += uint32_t(p[commandFrame.size() - 1]) << 8;
    ++items;
  }
  return uint16_t(0u - (items + sum));
}

namespace {
size_t WriteFrame(uint16_t command, ByteView payload, uint8_t* out, size_t capacity) {
  const size_t size = payload.size() + kCommandFrameOverhead + kLinkHeaderSize;
  if (size > 0xFFFF || capacity < size) return 0;
  uint8_t* frame = out + kLinkHeaderSize;
  frame[0] = kFrameStartMarker;
  PutLe16(frame + 1, command);
  PutLe16(frame + 3, uint16_t(payload.size()));
  if (!payload.empty()) std::memcpy(frame + 5, payload.data(), payload.size());
  frame[5 + payload.size()] = CommandChecksum(command, payload);
  frame[6 + payload.size()] = kFrameEndMarker;
  PutLe16(out, uint16_t(size));
  PutLe16(out + 2, CheckWord(uint16_t(size), ByteView(frame, size - kLinkHeaderSize)));
  return size;
}
}  // namespace

size_t BuildLinkFrame(uint16_t command, ByteView payload, uint8_t* out, size_t capacity) {
  if (payload.size() > kMaxRequestPayload) return 0;
  return WriteFrame(command, payload, out, capacity);
}

Bytes EncodeLinkFrame(uint16_t command, ByteView payload) {
  Bytes frame(payload.size() + kCommandFrameOverhead + kLinkHeaderSize);
  if (WriteFrame(command, payload, frame.data(), frame.size()) == 0) return {};
  return frame;
}

Bytes BuildLinkFrame(uint16_t command, ByteView payload) {
  Bytes frame(payload.size() + kCommandFrameOverhead + kLinkHeaderSize);
  if (BuildLinkFrame(command, payload, frame.data(), frame.size()) == 0) return {};
  return frame;
}

const char* FrameFaultText(FrameFault fault) {
  switch (fault) {
    case FrameFault::None: return "good";
    case FrameFault::BadLength: return "bad length";
    case FrameFault::BadCheckWord: return "bad check word";
    case FrameFault::BadMarkers: return "bad markers";
    case FrameFault::BadInnerLength: return "bad inner length";
    case FrameFault::BadChecksum: return "bad checksum";
  }
  return "?";
}

FrameFault VerifyLinkFrameBody(uint16_t totalLength, ByteView body) {
  if (totalLength < kMinAnswerLength || body.size() != size_t(totalLength) - 2) return FrameFault::BadLength;
  ByteView frame = body.subspan(2);
  if (CheckWord(totalLength, frame) != Le16(body.data())) return FrameFault::BadCheckWord;
  if (frame.front() != kFrameStartMarker || frame.back() != kFrameEndMarker) return FrameFault::BadMarkers;
  const uint16_t payloadLength = Le16(frame.data() + 3);
  if (size_t(payloadLength) + kCommandFrameOverhead != frame.size()) return FrameFault::BadInnerLength;
  ByteView payload = frame.subspan(5, payloadLength);
  if (CommandChecksum(Le16(frame.data() + 1), payload) != frame[5 + payloadLength]) return FrameFault::BadChecksum;
  return FrameFault::None;
}

FrameFault VerifyLinkFrame(ByteView frame) {
  if (frame.size() < 2) return FrameFault::BadLength;
  return VerifyLinkFrameBody(Le16(frame.data()), frame.subspan(2));
}

}  // namespace lw
