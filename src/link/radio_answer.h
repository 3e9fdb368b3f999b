// The decoded answer of one exchange with the radio.
#pragma once

#include <cstdint>
#include <memory>

#include "common/bytes.h"

namespace lw {

struct RadioAnswer {
  uint16_t command = 0;        // the answer's command code
  uint16_t payloadLength = 0;  // total length of the answer minus 11
  Bytes payload;               // the answer's command frame from byte 5 on (payloadLength bytes)
};

// Answers are shared, not handed over: the transport's answer slot holds the last one, and a
// caller that keeps an answer across later exchanges (a memory read that is written back)
// simply keeps its pointer. Whoever lets go last frees it; nothing leaks when a new answer
// takes the slot.
using AnswerPtr = std::shared_ptr<const RadioAnswer>;

}  // namespace lw
