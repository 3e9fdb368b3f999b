// The communication trace, Comm.log: one text line per frame sent or received, for support
// staff reading what went over the wire. The file is opened, appended to and closed for each
// line, so it may be read or deleted between lines.
//
// Line format, byte for byte:
//   " PC -> Radio(2024-05-01 14:03:59):" then " %2.2X" per byte, then CR LF   (request)
//   " PC <- Radio(2024-05-01 14:03:59):" ...                                    (answer)
// The answer line holds the answer without its 2-byte length field.
#pragma once

#include <ctime>
#include <string>

#include "common/bytes.h"

namespace lw {

inline constexpr const char* kCommLogFileName = "Comm.log";

enum class TraceDirection { ToRadio, FromRadio };

// The line for these bytes at local time `when`, CR LF included.
std::string FormatTraceLine(TraceDirection direction, ByteView bytes, std::time_t when);

// Appends one line (stamped now) to the file, creating it if missing. Failures are ignored: a
// trace must never stop an upgrade.
void AppendTraceLine(const std::string& path, TraceDirection direction, ByteView bytes);

// Creates the file anew, empty. False when it cannot be created.
bool ClearTraceFile(const std::string& path);

}  // namespace lw
