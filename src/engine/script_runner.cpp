#include "engine/script_runner.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "common/codes.h"
#include "common/operation_report.h"
#include "common/text.h"
#include "config/image_kind.h"
#include "engine/carry_over.h"
#include "link/usb_transport.h"
#include "package/package_files.h"
#include "ui/translate.h"

namespace lw {
namespace {

constexpr std::string_view kErase = "XRCP_Memory_Erase";
constexpr std::string_view kWrite = "XRCP_Memory_Write";
constexpr std::string_view kRead = "XRCP_Memory_Read";
constexpr std::string_view kChangeData = "XRCP_CHANGE_DATA";
constexpr std::string_view kProcessTip = "PROCESS_TIP";

constexpr size_t kGenericPayloadSize = 1024;
// The write-back of a memory read: selector, then the answer from its address on (address 4,
// length 2, 256 data bytes).
constexpr size_t kWriteBackPayload = 263;
constexpr size_t kWriteBackData = 256;
constexpr size_t kAnswerHead = 2;  // answer bytes before the address echo
constexpr int kExternPauseMs = 100;
constexpr int kGenericErasePauseMs = 100;

// Placement of a picture package, by the layout of its header.
constexpr uint32_t kPictureLowAddress = 0x4C0000;
constexpr uint32_t kPictureHighAddress = 0x600000;

// Thrown out of a block loop's progress report when the watchdog stopped the operation, so
// that not one more request goes to the radio; RunLine turns it into kNoAnswer. The loops hold
// nothing but local buffers while they report, so unwinding through them is safe.
struct OperationStopped {};

// The tokens of a line by position; a missing token is empty.
struct LineView {
  std::string t0, t1, t2, t3;
  std::string option;  // the bracketed option token
  bool origin = false;
  bool extorg = false;

  explicit LineView(const CommandLine& line) {
    const auto& t = line.tokens;
    auto at = [&t](size_t i) { return i < t.size() ? t[i] : std::string(); };
    t0 = at(0);
    t1 = at(1);
    t2 = at(2);
    t3 = at(3);
    option = line.option;
    origin = Contains(t2, "ORIGIN");
    extorg = Contains(t2, "EXTORG");
  }
  bool Has(std::string_view word) const { return Contains(option, word); }
};

// Blocks of `block` needed to cover `total`; the block loops always process at least one.
int BlocksOf(uint64_t total, uint64_t block) {
  if (block == 0) return 1;
  uint64_t n = (total + block - 1) / block;
  return int(std::clamp<uint64_t>(n, 1, 0x7FFFFFFF));
}

uint32_t U32(int64_t value) { return uint32_t(uint64_t(value)); }

bool SkippedLine(const OperationState& state, std::string_view kind, const CommandLine& line) {
  // Lines for the oldest bootloaders only.
  if (Contains(line.line, "OLD_VERSION") && state.newerBootloader) return true;
  // With a radio data file the configuration data come from the file, not from the radio.
  if (!state.sourceDataFile.empty() && kind == kind::kCpsData && Contains(line.line, kRead) &&
      Contains(line.line, "FILE/ORIGIN"))
    return true;
  return false;
}

uint8_t SelectorOf(const OperationState& state, const BurnScript& script, std::string_view kind,
                   const std::string& t1) {
  return state.newerBootloader ? uint8_t(U32(ResolveValue(script, kind, t1))) : 0;
}

bool PictureHigh(const OperationState& state) {
  return !(state.pictureLayoutKind == 2 || state.pictureVersionCode == 45);
}

// The erase length of a line with ORIGIN or EXTORG, and the address it may move to.
uint32_t EraseLength(const OperationState& state, const BurnScript& script, std::string_view kind,
                     const LineView& v, uint32_t* address) {
  if (v.extorg) return U32(ResolveValue(script, kind, "EXTLEN"));
  if (v.Has("RCDBLENGTH")) return U32(ResolveValue(script, kind, "RCDBLENGTH"));
  const size_t length = state.imageLength;
  if (StartsWith(kind, kind::kArmMain) && kind != kind::kArmMainRx) {
    // The main firmware window grows with the image (compressed images are smaller).
    if (length <= 0x440000) return 0x440000;
    if (length <= 0x580000) return 0x580000;
    return 0x700000;
  }
  if (!StartsWith(kind, kind::kPicGifPackage)) return U32(ResolveValue(script, kind, "LENGTH"));
  if (address) *address = PictureHigh(state) ? kPictureHighAddress : kPictureLowAddress;
  if (length <= 0x1C0000) return 0x1C0000;
  if (length <= 0x200000) return 0x200000;
  return 0x300000;
}

// Which block writer a FILE line uses; None falls through to the write-back.
enum class FileWrite { None, Ascending, Extern, Descending };

FileWrite FileWriteOf(const LineView& v) {
  if (v.origin && v.Has("HEX")) return FileWrite::Ascending;
  if (v.Has("EXTERN") && v.Has("HEX")) return FileWrite::Extern;
  if (v.origin && v.Has("BYTE") && v.Has("ADDRDESCEND")) return FileWrite::Descending;
  if (v.origin && v.Has("BYTE")) return FileWrite::Ascending;
  return FileWrite::None;
}

// The bytes a FILE write sends: the image (streamed from its file, or in memory), or for the
// segment-table line the extra part. `memory` serves as the source for bytes in memory.
BlockSource& FileWriteData(OperationState& state, FileWrite how, MemoryBlocks& memory) {
  if (how == FileWrite::Extern) {
    memory = MemoryBlocks(state.ExtraBytes());
    return memory;
  }
  state.AwaitImage();
  if (state.streamedImage) return *state.streamedImage;
  memory = MemoryBlocks(state.ImageBytes());
  return memory;
}

// The "index=value" of a write-back line's option; none when the option is not of that form
// (an option such as "[FILE ... PROCESS_TIP=text]" that fell through changes nothing).
bool WriteBackAssignment(const std::string& option, int64_t* index, int64_t* value) {
  std::string inner;
  for (char c : option)
    if (c != '[' && c != ']') inner += c;
  inner = Trim(inner);
  size_t eq = inner.find('=');
  if (eq == std::string::npos) return false;
  std::string left = Trim(inner.substr(0, eq));
  if (left.empty() || left.find_first_not_of("0123456789abcdefABCDEFxX") != std::string::npos) return false;
  if (left[0] < '0' || left[0] > '9') return false;
  *index = int32_t(ParseNumber(left));
  *value = int32_t(ParseNumber(Trim(inner.substr(eq + 1))));
  return true;
}

void Pause(const OperationState& state, int ms) {
  if (state.pause) {
    state.pause(ms);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

void RaiseExitAllowed(OperationState& state) {
  if (state.setExitAllowed) {
    state.setExitAllowed(true);
  } else if (state.sink) {
    state.sink->SetExitAllowed(true);
  }
}

// Reads the radio data file whole into the read buffer; false when it cannot be read or is
// larger than the change-data buffer.
bool ReadSourceFile(OperationState& state) {
  std::ifstream in(state.sourceDataFile, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0 || uint64_t(size) > kChangeDataBufferSize) return false;
  in.seekg(0);
  Bytes data(static_cast<size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(data.data()), size)) return false;
  state.readBuffer = std::move(data);
  return true;
}

int ChangeData(OperationState& state, ProgressSteps& steps, std::string_view kind) {
  if (state.sourceData) {
    state.readBuffer = *state.sourceData;
  } else if (!state.sourceDataFile.empty() && !ReadSourceFile(state)) {
    RaiseExitAllowed(state);
    return kNoAnswer;
  }
  std::span<uint8_t> image = state.ImageBytes();
  if (state.packageHeader) {
    if (state.packageHeader->keepHeadInfo == 1) CarryOverHeader(state, state.readBuffer, image);
    if (state.packageHeader->keepCpsData != 0) {
      if (!state.convert || !state.convert(image, state.readBuffer)) return kConversionFailed;
      if (state.validate && !state.validate(image)) return kValidationFailed;
    }
  }
  if (kind::IsCpsData(kind)) CarryOverCpsData(state, state.readBuffer, image);
  if (state.identity) {
    if (state.carryOver.modelFields) ApplyModelFields(state, image);
    if (state.carryOver.serialFields) ApplySerialFields(state, image);
  }
  // The conversion counts as the step its line was given, so that a phase of its own ends.
  steps.Report();
  return kOk;
}

int WriteBack(OperationState& state, ProgressSteps& steps, const BurnScript& script, std::string_view kind,
              const LineView& v) {
  // The write-back needs a memory read before it: nothing to write without one.
  if (!state.lastReadAnswer || state.lastReadAnswer->payload.size() < kAnswerHead + 6 + kWriteBackData)
    return kNoAnswer;
  Bytes payload;
  payload.reserve(kWriteBackPayload);
  payload.push_back(SelectorOf(state, script, kind, v.t1));
  const Bytes& answer = state.lastReadAnswer->payload;
  payload.insert(payload.end(), answer.begin() + kAnswerHead, answer.begin() + kAnswerHead + 6 + kWriteBackData);
  int64_t index = 0, value = 0;
  if (WriteBackAssignment(v.option, &index, &value)) {
    // An index outside the block would write somewhere the script did not read.
    if (index < 0 || index >= int64_t(kWriteBackData)) return kWriteRefused;
    payload[1 + 6 + size_t(index)] = uint8_t(value);
  }
  size_t written = 0;
  state.transport->Exchange(kCmdMemoryWrite, payload, false, written);
  if (written < 1) return kWriteRefused;
  steps.Report();
  return kOk;
}

int Generic(OperationState& state, ProgressSteps& steps, const BurnScript& script, std::string_view kind,
            const CommandLine& line, const LineView& v) {
  if (v.t0 == kErase) Pause(state, kGenericErasePauseMs);
  std::vector<std::string> c = SplitScriptTokens(line.commandPart);
  if (c.empty()) c.push_back(v.t0);
  // A keyword the script does not define reads as 0 and goes out as command 0, which a radio
  // does not answer: the line then fails with kNoAnswer instead of being skipped silently.
  const uint16_t code = uint16_t(U32(ResolveValue(script, kind, c[0])));
  Bytes payload;
  for (size_t i = 1; i < c.size(); ++i)
    PackValue(payload, ResolveValue(script, kind, c[i]), ValueWidth(c[i]), kGenericPayloadSize);
  size_t written = 0;
  AnswerPtr answer = state.transport->Exchange(code, payload, true, written);
  if (!answer) return kNoAnswer;
  state.transport->ReleaseAnswer();
  if (v.t0 == kRead) state.lastReadAnswer = answer;
  steps.Report();
  return kOk;
}

// Reads back what a FILE line wrote, as a progress phase of its own (the write line ends its
// phase, so the next line announces its own again). A difference ends the line with
// kVerifyMismatch and the detail the operator needs to tell a bad block from a bad link.
int VerifyWritten(OperationState& state, std::string_view kind, uint32_t address, BlockSource& data, uint8_t selector) {
  if (data.size() == 0) return kOk;
  const int blocks = int((data.size() + kMaxReadBlock - 1) / kMaxReadBlock);
  const std::string shown = Translate(TextKey("Verifying the written data"));
  if (state.sink) {
    state.sink->Phase(shown, blocks);
    state.sink->Log(shown);
  }
  VerifyResult result = VerifyArea(*state.transport, address, data, selector, [&state](int done, int) {
    if (state.StopRequested()) throw OperationStopped{};
    if (state.sink) state.sink->Progress(done);
  });
  if (result.code == kVerifyMismatch) {
    const std::string side = selector == kReceiveSide ? Translate("receive") : Translate("main");
    state.failureDetail = FillPlaceholders(
        Translate(TextKey("Read-back verify failed: %s, %s side, first difference at %s (written %s, read %s)")),
        {kind, side, Format("0x%06X", unsigned(result.address)), Format("%02X", unsigned(result.expected)),
         Format("%02X", unsigned(result.actual))});
  }
  return result.code;
}

int RunLineUnchecked(OperationState& state, ProgressSteps& steps, std::string_view kind, const CommandLine& line) {
  const BurnScript& script = *state.script;
  if (Contains(kind, kind::kPicGifPackage)) {
    PictureHeader header = PictureHeaderInfo(state.ImageHead(kPictureHeaderSize));
    state.pictureLayoutKind = header.layoutKind;
    state.pictureVersionCode = header.versionCode;
  }
  if (SkippedLine(state, kind, line)) return kOk;
  LineView v(line);
  if (v.t0 == kChangeData) return ChangeData(state, steps, kind);
  if (!state.transport) return kNoAnswer;

  if (v.t0 == kErase && (v.origin || v.extorg)) {
    uint32_t address = U32(ResolveValue(script, kind, v.t2));
    const uint8_t selector = SelectorOf(state, script, kind, v.t1);
    const uint32_t length = EraseLength(state, script, kind, v, &address);
    const uint32_t block = U32(ResolveValue(script, kind, v.t3)) * kEraseUnit;
    return EraseArea(*state.transport, steps, address, length, block, selector);
  }
  if (v.t0 == kWrite && v.Has("FILE")) {
    FileWrite how = FileWriteOf(v);
    if (how != FileWrite::None) {
      uint32_t address = U32(ResolveValue(script, kind, v.t2));
      const uint8_t selector = SelectorOf(state, script, kind, v.t1);
      if (v.origin && StartsWith(kind, kind::kPicGifPackage))
        address = PictureHigh(state) ? kPictureHighAddress : kPictureLowAddress;
      const uint32_t block = U32(ResolveValue(script, kind, v.t3));
      MemoryBlocks memory;
      BlockSource& data = FileWriteData(state, how, memory);
      int rc;
      switch (how) {
        case FileWrite::Extern:
          Pause(state, kExternPauseMs);
          rc = WriteAscending(*state.transport, steps, address, data, block, selector);
          break;
        case FileWrite::Descending:
          rc = WriteDescending(*state.transport, steps, address, data, block, selector);
          break;
        default: rc = WriteAscending(*state.transport, steps, address, data, block, selector); break;
      }
      if (rc != kOk || !state.verifyWrites) return rc;
      return VerifyWritten(state, kind, address, data, selector);
    }
  }
  if (v.t0 == kWrite) return WriteBack(state, steps, script, kind, v);
  if (v.t0 == kRead && v.origin) {
    const uint32_t address = U32(ResolveValue(script, kind, v.t2));
    const uint8_t selector = SelectorOf(state, script, kind, v.t1);
    const uint32_t length = U32(ResolveValue(script, kind, v.Has("RCDBLENGTH") ? "RCDBLENGTH" : "LENGTH"));
    const uint32_t block = U32(ResolveValue(script, kind, v.t3));
    // The read buffer is the change-data buffer: a script asking for more than it holds is
    // refused before anything is read.
    if (state.readBuffer.size() + uint64_t(length) > kChangeDataBufferSize) return kNoAnswer;
    return ReadArea(*state.transport, steps, address, length, block, selector, state.readBuffer);
  }
  return Generic(state, steps, script, kind, line, v);
}

}  // namespace

int ValueWidth(std::string_view text) {
  size_t open = text.find('(');
  if (open == std::string_view::npos || text.size() < open + 2) return 0;
  std::string inner(text.substr(open + 1, text.size() - open - 2));
  char* end = nullptr;
  long width = std::strtol(inner.c_str(), &end, 10);
  if (end == inner.c_str()) return 0;
  return int(std::clamp<long>(width, -1, 0x7FFFFFFF));
}

int64_t ResolveValue(const BurnScript& script, std::string_view kind, std::string_view text) {
  std::string_view value = text.substr(0, text.find('('));
  std::string_view name = value;
  int64_t multiplier = 1;
  bool multiplied = false;
  if (size_t star = value.find('*'); star != std::string_view::npos) {
    name = value.substr(0, star);
    std::string factor(value.substr(star + 1));
    multiplier = std::strtoll(factor.c_str(), nullptr, 10);
    multiplied = true;
  }
  std::string key = Trim(name);
  int64_t result;
  if (auto defined = script.LookupValue(kind, key)) {
    result = *defined;
  } else {
    result = int32_t(ParseNumber(key));
  }
  return multiplied ? result * multiplier : result;
}

size_t PackValue(Bytes& payload, int64_t value, int width, size_t limit) {
  Bytes bytes;
  const uint32_t v = U32(value);
  if (width == 1) {
    bytes = {uint8_t(v)};
  } else if (width == 2) {
    bytes = {uint8_t(v), uint8_t(v >> 8)};
  } else if (width == 4) {
    bytes = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  } else if (width >= 5) {
    bytes.assign(size_t(std::min<int64_t>(width, int64_t(limit))), uint8_t(v));
  }
  size_t room = payload.size() < limit ? limit - payload.size() : 0;
  size_t n = std::min(room, bytes.size());
  payload.insert(payload.end(), bytes.begin(), bytes.begin() + long(n));
  return n;
}

std::string PhaseText(const CommandLine& line) {
  size_t at = line.line.find(kProcessTip);
  if (at == std::string::npos) return {};
  size_t eq = line.line.find('=', at);
  if (eq == std::string::npos) return {};
  std::string text = line.line.substr(eq + 1);
  size_t close = text.find(']');
  if (close != std::string::npos) text.resize(close);
  return Trim(text);
}

int CountSteps(const OperationState& state, std::string_view kind, const CommandLine& line) {
  // Count what RunLine will report, so that a phase's bar ends exactly at its total.
  if (SkippedLine(state, kind, line) || !state.script) return 0;
  const BurnScript& script = *state.script;
  LineView v(line);
  if (v.t0 == kErase && (v.origin || v.extorg)) {
    uint32_t length = EraseLength(state, script, kind, v, nullptr);
    return BlocksOf(length, uint64_t(U32(ResolveValue(script, kind, v.t3))) * kEraseUnit);
  }
  if (v.t0 == kWrite && v.Has("FILE")) {
    FileWrite how = FileWriteOf(v);
    if (how != FileWrite::None) {
      uint64_t block = U32(ResolveValue(script, kind, v.t3));
      // The segment-table line writes the extra part as it stands, whatever EXTLEN says.
      uint64_t length = how == FileWrite::Extern ? std::min(state.extraLength, state.extra.size()) : state.ImageSize();
      return BlocksOf(length, block);
    }
  }
  if (v.t0 == kRead && v.origin) {
    uint32_t length = U32(ResolveValue(script, kind, v.Has("RCDBLENGTH") ? "RCDBLENGTH" : "LENGTH"));
    return BlocksOf(length, U32(ResolveValue(script, kind, v.t3)));
  }
  return 1;
}

int RunLine(OperationState& state, ProgressSteps& steps, std::string_view kind, const CommandLine& line) {
  if (state.StopRequested()) return kNoAnswer;
  if (!state.script) return kNoAnswer;
  try {
    return RunLineUnchecked(state, steps, kind, line);
  } catch (const OperationStopped&) {
    return kNoAnswer;
  }
}

// Whether a line can go out while the image is still being made: an erase whose area does not
// follow the image's length (the EXTORG area, an RCDBLENGTH, or no area at all). Everything else
// counts or sends the image.
bool RunsWithoutImage(const OperationState& state, std::string_view kind, const CommandLine& line) {
  if (Contains(kind, kind::kPicGifPackage)) return false;  // its header places and counts its lines
  if (SkippedLine(state, kind, line)) return true;
  LineView v(line);
  return v.t0 == kErase && (v.extorg || v.Has("RCDBLENGTH") || !v.origin);
}

// Waits for an image still being made unless `line` can do without it.
void AwaitImageFor(OperationState& state, std::string_view kind, const CommandLine& line) {
  if (state.ImagePending() && !RunsWithoutImage(state, kind, line)) state.AwaitImage();
}

int RunKind(OperationState& state, std::string_view kind) {
  if (!state.script) return kOk;
  const std::vector<CommandLine> lines = state.script->CommandLines(kind);
  ProgressSteps steps;
  steps.post = [&state](int position) {
    if (state.StopRequested()) throw OperationStopped{};
    if (state.sink) state.sink->Progress(position);
    // The next request follows this report: the last moment to stop before it.
    if (state.StopRequested()) throw OperationStopped{};
  };
  if (state.pause) steps.pause = state.pause;

  int phaseEnd = -1;
  for (int i = 0; i < int(lines.size()); ++i) {
    if (state.StopRequested()) return kNoAnswer;
    if (i > phaseEnd) {
      // The picture placement of the step count needs this image's header.
      if (Contains(kind, kind::kPicGifPackage)) {
        PictureHeader header = PictureHeaderInfo(state.ImageHead(kPictureHeaderSize));
        state.pictureLayoutKind = header.layoutKind;
        state.pictureVersionCode = header.versionCode;
      }
      int total = 0;
      std::string text;
      int j = i;
      for (; j < int(lines.size()); ++j) {
        AwaitImageFor(state, kind, lines[size_t(j)]);
        total += CountSteps(state, kind, lines[size_t(j)]);
        if (Contains(lines[size_t(j)].line, kProcessTip)) {
          text = PhaseText(lines[size_t(j)]);
          break;
        }
      }
      phaseEnd = std::min(j, int(lines.size()) - 1);
      state.phaseTotal = total;
      steps.total = total;
      steps.counter = 1;
      std::string shown = text.empty() ? std::string() : Translate(text);
      if (state.sink) {
        state.sink->Phase(shown, total);
        if (!shown.empty()) state.sink->Log(shown);
      }
    }
    AwaitImageFor(state, kind, lines[size_t(i)]);
    int rc = RunLine(state, steps, kind, lines[size_t(i)]);
    if (rc != kOk) return rc;
  }
  return kOk;
}

}  // namespace lw
