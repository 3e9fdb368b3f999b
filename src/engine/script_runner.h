// The burn-script runner: runs the command lines of one image kind against the radio.
//
// A line is split into tokens t0..t4: keyword, memory selector, address (a number or a name
// such as ORIGIN / EXTORG), block size (erase: in 256-byte units) and one bracketed option
// token. Four keywords run whole areas through the XRCP block loops or the data carry-over:
// "XRCP_Memory_Erase" and "XRCP_Memory_Read" with ORIGIN / EXTORG, "XRCP_Memory_Write" with
// FILE (the image) or without it (the last memory read written back with one byte changed),
// and "XRCP_CHANGE_DATA". Any other line is one generic command: its code is the value of
// the keyword (the script's "COMM DEFINE" gives it) and its payload the line's values packed
// by their widths.
//
// Progress: the lines of a kind form phases, each ending at a line whose option holds
// "PROCESS_TIP=text" (or at the last line). A phase's step total is the sum of CountSteps over
// its lines; RunKind announces it with the phase text, and the block loops report a step per
// block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "config/burn_script.h"
#include "engine/operation_state.h"
#include "link/xrcp.h"

namespace lw {

// --- Values ----------------------------------------------------------------------------------

// A value text "value(width)": the width is the decimal number between "(" and the last
// character; -1 when the text has no "(".
int ValueWidth(std::string_view text);

// Resolves a value text for `kind`: the width in parentheses is dropped; "NAME*N" multiplies by
// the decimal N. NAME is looked up case-insensitively among the defined values of `kind` and
// "COMM DEFINE" (first in file order; -1111 counts as not defined); an undefined name is read
// as a number (a word reads as 0).
int64_t ResolveValue(const BurnScript& script, std::string_view kind, std::string_view text);

// Appends `value` by `width`: 1 one byte, 2 16-bit LE, 4 32-bit LE, 5 or more that many copies
// of the low byte; any other width (0, 3, negative) appends nothing. Nothing is appended past
// `limit` bytes in all (the generic payload holds 1024). Returns the bytes appended.
size_t PackValue(Bytes& payload, int64_t value, int width, size_t limit = 1024);

// --- Running ---------------------------------------------------------------------------------

// The progress steps RunLine will report for the line (no radio traffic).
int CountSteps(const OperationState& state, std::string_view kind, const CommandLine& line);

// Runs one line. Returns kOk, kNoAnswer (no answer, source data file missing, stopped),
// kWriteRefused, kConversionFailed or kValidationFailed.
int RunLine(OperationState& state, ProgressSteps& steps, std::string_view kind, const CommandLine& line);

// Runs every line of `kind` in file order, phase by phase; 0, or the first nonzero result.
// A kind without lines does nothing and returns 0.
int RunKind(OperationState& state, std::string_view kind);

// The phase text of a line: what follows "PROCESS_TIP=" in its option token up to "]";
// empty when the line has none.
std::string PhaseText(const CommandLine& line);

}  // namespace lw
