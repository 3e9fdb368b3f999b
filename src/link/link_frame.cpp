#include "link/link_frame.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lw {

namespace {

// The sums of the bytes at even and at odd offsets from p: the low and the high bytes of the
// little-endian words the check word adds up, and together the bytes the checksum adds up.
// Without SSE2: eight bytes at a time, in 16-bit lanes (a lane takes at most 255 a step, so it is emptied
// into the totals every 256 steps, before it could overflow).
struct ByteSums {
  uint64_t even = 0;
  uint64_t odd = 0;
};

uint64_t LaneTotal(uint64_t lanes) {
  return (lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) + (lanes >> 48);
}

// With `copyTo`, the bytes are also copied there on the same pass (a request's block goes
// into its frame while it is summed).
ByteSums SumBytes(const uint8_t* p, size_t n, uint8_t* copyTo = nullptr) {
  static_assert(std::endian::native == std::endian::little, "byte 0 of a loaded word is its lowest");
  constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
  ByteSums sums;
  size_t i = 0;
#if defined(__SSE2__)
  // Sixteen bytes at a time where every x86-64 processor can: the sum of absolute differences
  // against zero adds eight bytes into a 64-bit lane in one instruction; the even bytes are
  // summed the same way behind a mask, and the odd ones are the rest.
  if (n >= 16) {
    const __m128i evenMask = _mm_set1_epi16(0x00FF);
    const __m128i zero = _mm_setzero_si128();
    __m128i all = zero, even = zero;
    for (; n - i >= 16; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      if (copyTo) _mm_storeu_si128(reinterpret_cast<__m128i*>(copyTo + i), v);
      all = _mm_add_epi64(all, _mm_sad_epu8(v, zero));
      even = _mm_add_epi64(even, _mm_sad_epu8(_mm_and_si128(v, evenMask), zero));
    }
    const uint64_t allTotal =
        uint64_t(_mm_cvtsi128_si64(all)) + uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(all, all)));
    sums.even = uint64_t(_mm_cvtsi128_si64(even)) + uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(even, even)));
    sums.odd = allTotal - sums.even;
  }
#endif
  if (copyTo && i < n) std::memcpy(copyTo + i, p + i, n - i);
  while (n - i >= 8) {
    const size_t end = i + std::min<size_t>((n - i) / 8, 256) * 8;
    uint64_t even = 0, odd = 0;
    for (; i < end; i += 8) {
      uint64_t word;
      std::memcpy(&word, p + i, sizeof word);
      even += word & kEvenBytes;
      odd += (word >> 8) & kEvenBytes;
    }
    sums.even += LaneTotal(even);
    sums.odd += LaneTotal(odd);
  }
  for (; i < n; ++i) (i % 2 ? sums.odd : sums.even) += p[i];
  return sums;
}

}  // namespace

uint8_t CommandChecksum(uint16_t command, ByteView payload) {
  const ByteSums bytes = SumBytes(payload.data(), payload.size());
  uint64_t sum = (command & 0xFF) + (command >> 8) + (payload.size() & 0xFF) + ((payload.size() >> 8) & 0xFF);
  sum += bytes.even + bytes.odd;
  return uint8_t(kChecksumBase - sum);
}

namespace {
// The check word from the sums of the command frame's whole words (`pairs` of them) and its
// odd last byte, if any. Also the total of all its bytes, for the checksum.
uint16_t CheckWordOf(uint16_t totalLength, const ByteSums& words, size_t size, const uint8_t* p, uint64_t* total) {
  // Sum of the little-endian words = sum of the low bytes + 256 x sum of the high bytes.
  uint32_t sum = uint32_t(totalLength) + uint32_t(words.even) + uint32_t(words.odd << 8);
  uint32_t items = 1 + uint32_t(size / 2);
  if (total) *total = words.even + words.odd;
  if (size % 2) {
    sum += uint32_t(p[size - 1]) << 8;
    ++items;
    if (total) *total += p[size - 1];
  }
  return uint16_t(0u - (items + sum));
}
}  // namespace

uint16_t CheckWord(uint16_t totalLength, ByteView commandFrame) {
  const size_t size = commandFrame.size();
  return CheckWordOf(totalLength, SumBytes(commandFrame.data(), size - size % 2), size, commandFrame.data(), nullptr);
}

namespace {
// The payload is `head` followed by `data`, gathered into the frame (a memory write's address
// fields and its block, without first copying them together).
size_t WriteFrame(uint16_t command, ByteView head, ByteView data, uint8_t* out, size_t capacity) {
  const size_t length = head.size() + data.size();
  const size_t size = length + kCommandFrameOverhead + kLinkHeaderSize;
  if (size > 0xFFFF || capacity < size) return 0;
  uint8_t* frame = out + kLinkHeaderSize;
  frame[0] = kFrameStartMarker;
  PutLe16(frame + 1, command);
  PutLe16(frame + 3, uint16_t(length));
  // One pass over the payload copies it into the frame and gives both sums: the checksum adds
  // its bytes, the check word adds them as the high (payload offsets 0, 2, ...) and low bytes
  // (1, 3, ...) of the frame's words, the payload starting at frame offset 5. Same results as
  // CommandChecksum and CheckWord.
  ByteSums payloadSums = SumBytes(head.data(), head.size(), frame + 5);
  ByteSums dataSums = SumBytes(data.data(), data.size(), frame + 5 + head.size());
  if (head.size() % 2) std::swap(dataSums.even, dataSums.odd);  // its even bytes are the payload's odd ones
  payloadSums.even += dataSums.even;
  payloadSums.odd += dataSums.odd;
  const uint64_t payloadTotal = payloadSums.even + payloadSums.odd;
  frame[5 + length] = uint8_t(
      kChecksumBase - ((command & 0xFF) + (command >> 8) + (length & 0xFF) + ((length >> 8) & 0xFF) + payloadTotal));
  frame[6 + length] = kFrameEndMarker;
  const size_t frameSize = size - kLinkHeaderSize;
  uint64_t low = payloadSums.odd, high = payloadSums.even;
  for (size_t k : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(4), 5 + length, 6 + length}) {
    const bool loneLast = frameSize % 2 == 1 && k == frameSize - 1;  // counted as a high byte
    (k % 2 == 0 && !loneLast ? low : high) += frame[k];
  }
  const uint32_t items = 1 + uint32_t(frameSize / 2) + uint32_t(frameSize % 2);
  PutLe16(out, uint16_t(size));
  PutLe16(out + 2, uint16_t(0u - (items + uint32_t(size) + uint32_t(low) + uint32_t(high << 8))));
  return size;
}
}  // namespace

size_t BuildLinkFrame(uint16_t command, ByteView payload, uint8_t* out, size_t capacity) {
  return BuildLinkFrame(command, payload, {}, out, capacity);
}

size_t BuildLinkFrame(uint16_t command, ByteView head, ByteView data, uint8_t* out, size_t capacity) {
  if (head.size() + data.size() > kMaxRequestPayload) return 0;
  return WriteFrame(command, head, data, out, capacity);
}

Bytes EncodeLinkFrame(uint16_t command, ByteView payload) {
  Bytes frame(payload.size() + kCommandFrameOverhead + kLinkHeaderSize);
  if (WriteFrame(command, payload, {}, frame.data(), frame.size()) == 0) return {};
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
  // One pass over the frame serves both checks: the checksum's sum (command, length and
  // payload bytes) is the frame's total less its start marker, checksum and end marker.
  uint64_t total = 0;
  const ByteSums words = SumBytes(frame.data(), frame.size() - frame.size() % 2);
  if (CheckWordOf(totalLength, words, frame.size(), frame.data(), &total) != Le16(body.data()))
    return FrameFault::BadCheckWord;
  if (frame.front() != kFrameStartMarker || frame.back() != kFrameEndMarker) return FrameFault::BadMarkers;
  const uint16_t payloadLength = Le16(frame.data() + 3);
  if (size_t(payloadLength) + kCommandFrameOverhead != frame.size()) return FrameFault::BadInnerLength;
  const uint8_t checksum = frame[5 + payloadLength];
  const uint64_t summed = total - frame[0] - checksum - frame[6 + payloadLength];
  if (uint8_t(kChecksumBase - summed) != checksum) return FrameFault::BadChecksum;
  return FrameFault::None;
}

FrameFault VerifyLinkFrame(ByteView frame) {
  if (frame.size() < 2) return FrameFault::BadLength;
  return VerifyLinkFrameBody(Le16(frame.data()), frame.subspan(2));
}

}  // namespace lw
