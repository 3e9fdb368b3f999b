#include "engine/carry_over.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <future>
#include <memory>

#include "common/text.h"
#include "common/window_port.h"
#include "package/rcdb_records.h"
#include "package/rcdb_tree.h"
#include "ui/translate.h"

namespace lw {
namespace {

constexpr const char* kAllVersion = "All Version";
constexpr const char* kLessEqual = "Less_Equal";
constexpr const char* kFirstDataVersion = "4.05";  // from here on the head text lives in root/1/1
constexpr const char* kModeFromAirInterface = "6.00";

// Header groups of the head information (RCDB header block).
constexpr int kHeadTextGroup = 1;     // head text of data versions below 4.05 (16 bytes)
constexpr int kModelGroup = 2;
constexpr int kCustomTextGroup = 3;   // configured head text of record-list radios
constexpr int kDateGroups[] = {8, 9};
constexpr int kAreaGroup = 10;
constexpr size_t kHeadTextSize = 16;  // characters
// Inside the head text: the region byte and the mode byte.
constexpr size_t kRegionAt = 4;
constexpr size_t kModeAt = 5;

// Records the carry-over edits: (tree, group) of plain groups.
constexpr int kModelTree = 1, kModelRecord = 1;   // root/1/1
constexpr int kUnitTree = 2, kUnitRecord = 85;    // root/2/85
constexpr int kOldBitTree = 2, kOldBitRecord = 93;  // root/2/93
constexpr int kTrunkTree = 2, kTrunkRecord = 200;   // root/2/200
constexpr size_t kUnitValueAt = 72;    // two 32-bit values at 72 and 76
constexpr size_t kModelFieldsAt = 496, kModelFieldsEnd = 524;  // 496..523
constexpr size_t kRestrictionByte = 27;

std::vector<std::string> TypeNames(std::string_view list) {
  std::string cleaned;
  for (char c : list) cleaned += (c == '[' || c == ']' || c == '\t') ? ' ' : c;
  std::vector<std::string> names;
  for (const std::string& part : Split(cleaned, ' '))
    if (!part.empty()) names.push_back(part);
  return names;
}

std::string FromSecond(std::string_view text) { return text.size() > 1 ? std::string(text.substr(1)) : std::string(); }

// Asks the operator through the window's thread and waits for the answer. Without a port the
// default button (OK) answers; a stop of the operation while waiting answers Cancel, so that a
// stopped worker changes nothing more.
bool AskOkCancel(const OperationState& state, const std::string& text) {
  if (!state.port) return true;
  auto promise = std::make_shared<std::promise<bool>>();
  std::future<bool> answer = promise->get_future();
  WindowPort* port = state.port;
  port->Post([port, promise, text] { promise->set_value(port->AskOkCancel(text)); });
  while (answer.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
    if (state.StopRequested()) return false;
  }
  return answer.get();
}

// The segments of a cps_data image: spans into the image (empty when it has none).
struct Segments {
  std::span<uint8_t> image;
  bool rcdb = false;
  std::optional<RcdbRecords> records;

  explicit Segments(std::span<uint8_t> bytes) : image(bytes), rcdb(IsRcdbImage(bytes)) {
    if (rcdb) records.emplace(bytes);
  }
  int Count() const {
    if (!rcdb) return image.size() >= kPlainSegmentOffset + kPlainSegmentSize ? 1 : 0;
    return records && records->ok() ? std::max(0, records->RecordCount(kSegmentTree, kSegmentGroup)) : 0;
  }
  std::span<uint8_t> At(int i) const {
    if (!rcdb) return i == 0 && Count() == 1 ? image.subspan(kPlainSegmentOffset, kPlainSegmentSize) : std::span<uint8_t>();
    if (!records || !records->ok()) return {};
    return records->Record(kSegmentTree, kSegmentGroup, i);
  }
};

void CopyInto(std::span<uint8_t> target, ByteView source) {
  std::copy_n(source.begin(), std::min(source.size(), target.size()), target.begin());
}

// --- Head text -------------------------------------------------------------------------------

// The head text is 16 characters: 16 bytes of 8-bit text in header group 1, 16 UTF-16 units in
// the 32 bytes of the versioned header. Characters beyond 8 bits do not occur in it; should
// one, it becomes '?'.
std::string Narrow(ByteView wide) {
  std::string text(kHeadTextSize, '\0');
  for (size_t i = 0; i < kHeadTextSize && 2 * i + 1 < wide.size(); ++i) {
    uint16_t unit = Le16(wide.data() + 2 * i);
    text[i] = unit < 0x100 ? char(unit) : '?';
  }
  return text;
}

Bytes Widen(std::string_view text) {
  Bytes wide(2 * kHeadTextSize, 0);
  for (size_t i = 0; i < kHeadTextSize && i < text.size(); ++i) PutLe16(&wide[2 * i], uint8_t(text[i]));
  return wide;
}

Bytes Fixed(std::string_view text, size_t size) {
  Bytes bytes(size, 0);
  std::copy_n(text.begin(), std::min(text.size(), size), bytes.begin());
  return bytes;
}

void SetHeaderByte(RcdbRecords& records, int group, size_t at, uint8_t value) {
  std::vector<uint8_t> bytes;
  if (!records.GetHeaderGroup(group, &bytes) || bytes.size() <= at) return;
  bytes[at] = value;
  records.SetHeaderGroup(group, bytes);
}

// "1.0" radios (record-list data) get their head information from the settings.
void HeaderFromSettings(const OperationState& state, std::span<uint8_t> newImage) {
  RcdbRecords records(newImage);
  if (!records.ok()) return;
  const CarryOverSettings& s = state.carryOver;
  const uint8_t area = uint8_t(s.areaByte);
  SetHeaderByte(records, kHeadTextGroup, kRegionAt, area);
  SetHeaderByte(records, kModelGroup, kRegionAt, area);
  SetHeaderByte(records, kAreaGroup, 0, area);
  records.SetHeaderGroup(kCustomTextGroup, Fixed(s.headText, kHeadTextSize));
  HeadDate date;
  if (!ParseHeadDate(s.headDate, &date)) return;
  for (int group : kDateGroups) {
    std::vector<uint8_t> bytes;
    if (!records.tree() || records.tree()->GetHeaderGroup(group, &bytes) != kRcdbOk || bytes.size() < 4) continue;
    PutLe16(bytes.data(), date.year);
    bytes[2] = date.month;
    bytes[3] = date.day;
    records.SetHeaderGroup(group, bytes);
  }
}

// The head text copy between data versions. Decisions taken here (the data leave them open):
// - the radio's data version (characters 2-5 of its software version) picks the source in the
//   old data: header group 1 below "4.05", else the versioned header (root/1/1 at 560);
// - the new version is characters 2-5 of the package's target version, "4.05" without one; it
//   picks the target the same way, converting 8-bit text and UTF-16 as needed;
// - the region byte is character 4 and the mode byte character 5 of the head text (character
//   4 is also the byte the record-list radios get the configured area byte in); the region and
//   mode overrides of set.ini replace them first, then an old version below "4.05" turns region
//   "0" into "P", then a new version from "6.00" on with mode "0" takes the configured air
//   interface (1 "P", 2 "0", 0 keeps it);
// - the further copy for models starting with "KX62" or "KV62" whose region byte is "T", or
//   with "KW", goes to the other of the two places (header group 1 as 8-bit text, or root/1/1
//   at 560 as UTF-16), so that firmware of either data version finds the text. Not header
//   groups 2-10: in an image they share their bytes with the model, serial and version texts.
void CopyHeadText(const OperationState& state, const RcdbRecords& oldRecords, RcdbRecords& newRecords) {
  const RadioIdentity& id = *state.identity;
  const std::string oldVersion = DataVersionOf(id.softwareVersion);
  std::string newVersion = state.packageHeader ? DataVersionOf(state.packageHeader->targetVersion) : std::string();
  if (newVersion.empty()) newVersion = kFirstDataVersion;

  std::string head;
  std::vector<uint8_t> bytes;
  if (oldVersion < kFirstDataVersion) {
    if (!oldRecords.GetHeaderGroup(kHeadTextGroup, &bytes)) return;
    head = std::string(bytes.begin(), bytes.end());
    head.resize(kHeadTextSize, '\0');
  } else {
    if (!oldRecords.GetVersionedHeader(&bytes)) return;
    head = Narrow(bytes);
  }

  const CarryOverSettings& s = state.carryOver;
  if (!s.regionOverride.empty()) head[kRegionAt] = s.regionOverride[0];
  if (!s.modeOverride.empty()) head[kModeAt] = s.modeOverride[0];
  if (oldVersion < kFirstDataVersion && head[kRegionAt] == '0') head[kRegionAt] = 'P';
  if (newVersion >= kModeFromAirInterface && head[kModeAt] == '0') {
    if (s.airInterface == 1) head[kModeAt] = 'P';
    if (s.airInterface == 2) head[kModeAt] = '0';
  }

  const std::string_view model = id.modelNumber;
  const bool furtherCopy =
      ((StartsWith(model, "KX62") || StartsWith(model, "KV62")) && head[kRegionAt] == 'T') || StartsWith(model, "KW");
  const bool versioned = newVersion >= kFirstDataVersion;
  if (!versioned || furtherCopy) newRecords.SetHeaderGroup(kHeadTextGroup, Fixed(head, kHeadTextSize));
  if (versioned || furtherCopy) newRecords.SetVersionedHeader(Widen(head));
}

}  // namespace

// --- Tuning rules -------------------------------------------------------------------------------

bool RuleApplies(const TunerRule& rule, const RadioIdentity& identity, uint32_t key) {
  if (rule.segmentKey != key) return false;
  if (Trim(rule.version) != kAllVersion) {
    const std::string radio = FromSecond(identity.softwareVersion);
    const std::string wanted = FromSecond(Trim(rule.version));
    const bool pass = Trim(rule.comparison) == kLessEqual ? radio <= wanted : radio == wanted;
    if (!pass) return false;
  }
  const RadioType type = RadioTypeOf(identity.modelNumber);
  if (type == RadioType::None) return false;
  const std::string name = RadioTypeName(type);
  for (const std::string& listed : TypeNames(rule.radioTypes))
    if (listed == name) return true;
  return false;
}

bool AnyRuleFor(const std::vector<TunerRule>& rules, const RadioIdentity& identity, uint32_t key) {
  return std::any_of(rules.begin(), rules.end(),
                     [&](const TunerRule& rule) { return RuleApplies(rule, identity, key); });
}

void ApplyRules(const std::vector<TunerRule>& rules, const RadioIdentity& identity, std::span<uint8_t> target,
                ByteView source, uint32_t key) {
  for (const TunerRule& rule : rules) {
    if (!RuleApplies(rule, identity, key)) continue;
    const size_t end = std::min<size_t>({size_t(rule.offset) + rule.length, target.size(), source.size()});
    if (rule.offset >= end) continue;
    std::copy(source.begin() + long(rule.offset), source.begin() + long(end), target.begin() + long(rule.offset));
  }
}

// --- Carry-over steps ---------------------------------------------------------------------------

bool CarryOverCpsData(const OperationState& state, ByteView oldData, std::span<uint8_t> newImage) {
  const int oldKind = RcdbFormatKind(oldData);
  const int newKind = RcdbFormatKind(newImage);
  for (int kind : {oldKind, newKind}) {
    if (IsUnidentifiableKind(kind) && !AskOkCancel(state, Translate(kUnidentifiableFormatText))) return false;
  }
  // The tree of the old data is only read; the copy keeps the caller's bytes untouched.
  Bytes oldCopy(oldData.begin(), oldData.end());
  Segments oldSegments(oldCopy);
  Segments newSegments(newImage);
  const bool intoImage = !(oldSegments.rcdb && !newSegments.rcdb);
  static const std::vector<TunerRule> kNoRules;
  const std::vector<TunerRule>& rules = state.tunerRules ? *state.tunerRules : kNoRules;

  const int count = oldSegments.Count();
  for (int i = 0; i < count; ++i) {
    std::span<uint8_t> oldSpan = oldSegments.At(i);
    Bytes segment(oldSpan.begin(), oldSpan.end());
    std::span<uint8_t> newSegment = newSegments.At(i);
    if (state.identity && AnyRuleFor(rules, *state.identity, uint32_t(i)))
      ApplyRules(rules, *state.identity, segment, newSegment, uint32_t(i));
    if (oldKind != 0 || newKind != 0) {
      if (intoImage) CopyInto(newSegment, segment);
    } else if (newImage.size() >= kPlainSegmentOffset + kPlainSegmentSize) {
      CopyInto(newImage.subspan(kPlainSegmentOffset, kPlainSegmentSize), segment);
    }
  }
  return true;
}

void ApplyModelFields(const OperationState& state, std::span<uint8_t> newImage) {
  if (!state.identity || state.identity->formatVersion == "1.0" || !state.equipmentTable) return;
  const RadioIdentity& id = *state.identity;
  auto entry = std::find_if(state.equipmentTable->begin(), state.equipmentTable->end(),
                            [&](const SerialEntry& e) { return e.serial == id.serialNumber; });
  if (entry == state.equipmentTable->end() || entry->first == -1 || entry->second == -1) return;
  RcdbRecords records(newImage);
  std::span<uint8_t> r = records.Record(kModelTree, kModelRecord, -1);
  if (r.size() < kModelFieldsEnd) return;

  const uint32_t m = uint32_t(entry->first);
  const std::string_view model = id.modelNumber;
  const std::string_view family = model.substr(0, std::min<size_t>(4, model.size()));

  std::fill(r.begin() + 496, r.begin() + 512, 0);
  PutLe16(&r[496], uint16_t((Le16(&r[496]) & ~0x1FFu) | 1u));
  if (family == "KX62" || family == "KX41") r[498] = 0x3D;
  if (Contains(model, "E")) r[498] = 0x46;
  if (family == "KV62") r[498] = 2;
  int band = -1;
  const char* bands[] = {"-U1-", "-U2-", "-U3-", "-V1-", "-U5-"};
  for (int b = 0; b < 5; ++b)
    if (Contains(model, bands[b])) band = b;
  if (band >= 0) r[499] = uint8_t((r[499] & ~0x07) | band);
  if (model.size() > 4) {
    const std::string_view variants = "02568";
    if (size_t v = variants.find(model[4]); v != std::string_view::npos) r[500] = uint8_t((r[500] & ~0x07) | v);
  }
  PutLe32(&r[504], (Le32(&r[504]) & 0xFF000000u) | (m & 0x00FFFFFFu));
  PutLe32(&r[508], 0);
  std::fill(r.begin() + 512, r.begin() + 524, 0);
  r[512] = 1;
  if (family == "KX62") r[520] = uint8_t((r[520] & ~0x0F) | 1);
  if (family == "KV62") r[520] = uint8_t((r[520] & ~0x0F) | 2);
  r[521] = 0;
  PutLe32(&r[516], (Le32(&r[516]) & ~0x3FFFFu) | (m & 0x3FFFFu));
}

void ApplySerialFields(const OperationState& state, std::span<uint8_t> newImage) {
  if (!state.identity || state.identity->formatVersion == "1.0" || !state.unitTable) return;
  const std::string& serial = state.identity->serialNumber;
  auto entry = std::find_if(state.unitTable->begin(), state.unitTable->end(),
                            [&](const MacEntry& e) { return e.name == serial; });
  if (entry == state.unitTable->end()) return;
  RcdbRecords records(newImage);
  std::span<uint8_t> r = records.Record(kUnitTree, kUnitRecord, -1);
  if (r.size() < kUnitValueAt + 8) return;
  // The unit table gives six bytes (a MAC address); the record keeps two 32-bit values. The
  // bytes go in order, so the address reads the same in the record as in the list.
  const auto& b = entry->bytes;
  PutLe32(&r[kUnitValueAt], uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
  PutLe32(&r[kUnitValueAt + 4], uint32_t(b[4]) | uint32_t(b[5]) << 8);
}

void CarryOverHeader(const OperationState& state, std::span<uint8_t> oldData, std::span<uint8_t> newImage) {
  if (!state.identity) return;
  const RadioIdentity& id = *state.identity;
  if (id.formatVersion == "1.0") {
    HeaderFromSettings(state, newImage);
    return;
  }
  RcdbRecords newRecords(newImage);
  if (!newRecords.ok()) return;
  // Old data that are not an RCDB tree count as having none of the records.
  std::optional<RcdbRecords> oldRecords;
  if (IsRcdbImage(oldData)) oldRecords.emplace(oldData);
  const bool oldOk = oldRecords && oldRecords->ok();
  auto oldRecord = [&](int tree, int group) {
    return oldOk ? oldRecords->Record(tree, group, -1) : std::span<uint8_t>();
  };

  if (oldOk) CopyHeadText(state, *oldRecords, newRecords);

  const std::string_view model = id.modelNumber;
  if (model.size() > 6 && model[6] == 'T') {
    std::span<uint8_t> target = newRecords.Record(kModelTree, kModelRecord, -1);
    std::span<uint8_t> source = oldRecord(kModelTree, kModelRecord);
    if (target.size() >= kModelFieldsEnd) {
      if (source.size() >= kModelFieldsEnd) {
        std::copy(source.begin() + kModelFieldsAt, source.begin() + kModelFieldsEnd, target.begin() + kModelFieldsAt);
        target[kRestrictionByte] = source[kRestrictionByte];
      } else {
        std::fill(target.begin() + kModelFieldsAt, target.begin() + kModelFieldsEnd, 0);
        target[kRestrictionByte] = 2;
      }
    }
    std::span<uint8_t> trunkTarget = newRecords.Record(kTrunkTree, kTrunkRecord, -1);
    std::span<uint8_t> trunkSource = oldRecord(kTrunkTree, kTrunkRecord);
    if (!trunkTarget.empty()) {
      const uint8_t low = trunkSource.empty() ? 2 : uint8_t(trunkSource[0] & 0x07);
      trunkTarget[0] = uint8_t((trunkTarget[0] & ~0x07) | low);
    }
  }
  if (StartsWith(model, "KQ")) {
    std::span<uint8_t> target = newRecords.Record(kUnitTree, kUnitRecord, -1);
    std::span<uint8_t> source = oldRecord(kUnitTree, kUnitRecord);
    if (target.size() >= kUnitValueAt + 8) {
      if (source.size() >= kUnitValueAt + 8) {
        std::copy_n(source.begin() + kUnitValueAt, 8, target.begin() + kUnitValueAt);
      } else {
        std::fill_n(target.begin() + kUnitValueAt, 8, 0);
      }
    }
  }
  if (state.carryOver.clearOldDataBit) {
    std::span<uint8_t> r = oldRecord(kOldBitTree, kOldBitRecord);
    if (r.size() > 15) r[15] = uint8_t(r[15] & ~0x08);
  }
}

bool ParseHeadDate(std::string_view text, HeadDate* date) {
  std::string digits = Trim(text);
  if (digits.empty()) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    date->year = uint16_t(local.tm_year + 1900);
    date->month = uint8_t(local.tm_mon + 1);
    date->day = uint8_t(local.tm_mday);
    return true;
  }
  if (digits.size() != 8 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  auto d = [&digits](size_t i) { return digits[i] - '0'; };
  date->year = uint16_t(1000 * d(0) + 100 * d(1) + 10 * d(2) + d(3));
  date->month = uint8_t(10 * d(4) + d(5));
  date->day = uint8_t(10 * d(6) + d(7));
  return true;
}

std::string DataVersionOf(std::string_view version) {
  if (version.size() < 5) return {};
  return std::string(version.substr(1, 4));
}

}  // namespace lw
