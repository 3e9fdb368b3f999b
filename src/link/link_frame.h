// The two wrappings of every request and answer on the bulk pipes.
//
// CommandFrame (n + 7 bytes, little-endian fields):
//   0      start marker 0x02
//   1..2   command code
//   3..4   payload length n
//   5..    payload (n bytes)
//   5+n    checksum: 0x32 minus the 8-bit sum of bytes 1 .. 4+n (the start marker is not summed)
//   6+n    end marker 0x03
//
// LinkFrame (L bytes):
//   0..1   total length L = CommandFrame size + 4
//   2..3   check word
//   4..    one CommandFrame
//
// The check word is the 16-bit sum of the complements (0xFFFF - x) of: L, each little-endian
// 16-bit word of the CommandFrame from its first byte on, and for an odd-length CommandFrame its
// last byte as the high byte of a final item. Equivalently -(k + S) mod 65536 for k items of
// plain sum S.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/bytes.h"

namespace lw {

inline constexpr uint8_t kFrameStartMarker = 0x02;
inline constexpr uint8_t kFrameEndMarker = 0x03;
inline constexpr uint8_t kChecksumBase = 0x32;
inline constexpr size_t kCommandFrameOverhead = 7;
inline constexpr size_t kLinkHeaderSize = 4;
// Requests are built in 2048-byte buffers: a payload may hold at most 2037 bytes.
inline constexpr size_t kMaxLinkFrameSize = 2048;
inline constexpr size_t kMaxRequestPayload = kMaxLinkFrameSize - kCommandFrameOverhead - kLinkHeaderSize;
// Answers: the body after the 2-byte length is read into 10240 bytes, so a whole answer is 11
// (an empty command frame) to 10242 bytes long.
inline constexpr size_t kAnswerBodyCapacity = 10240;
inline constexpr uint16_t kMinAnswerLength = 11;
inline constexpr uint16_t kMaxAnswerLength = 10242;

// The checksum byte of a CommandFrame for this code and payload.
uint8_t CommandChecksum(uint16_t command, ByteView payload);

// The check word over L and the CommandFrame bytes.
uint16_t CheckWord(uint16_t totalLength, ByteView commandFrame);

// Writes the LinkFrame for `command` and `payload` into `out` (at least payload + 11 bytes) and
// returns its size; 0 when the payload is longer than kMaxRequestPayload.
size_t BuildLinkFrame(uint16_t command, ByteView payload, uint8_t* out, size_t capacity);
// The same with the payload given in two parts, `head` then `data` (a memory write's fields and
// its block), gathered straight into the frame.
size_t BuildLinkFrame(uint16_t command, ByteView head, ByteView data, uint8_t* out, size_t capacity);
// The same into a new buffer (empty when the payload is too long).
Bytes BuildLinkFrame(uint16_t command, ByteView payload);
// A LinkFrame of any size the length field can express (payloads up to 65524 bytes): the
// radio's side of the link, whose answers are larger than any request. Empty when too long.
Bytes EncodeLinkFrame(uint16_t command, ByteView payload);

// What is wrong with a received LinkFrame, if anything.
enum class FrameFault {
  None,
  BadLength,       // the length field is below 11 or does not match the bytes
  BadCheckWord,
  BadMarkers,      // start or end marker missing
  BadInnerLength,  // the CommandFrame's payload length does not fit the total length
  BadChecksum,
};
const char* FrameFaultText(FrameFault fault);

// Checks the body of a LinkFrame (everything after its 2-byte length field), given that length.
FrameFault VerifyLinkFrameBody(uint16_t totalLength, ByteView body);
// Checks a whole LinkFrame, length field included.
FrameFault VerifyLinkFrame(ByteView frame);

}  // namespace lw
