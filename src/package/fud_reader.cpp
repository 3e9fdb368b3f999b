#include "package/fud_reader.h"

#include <cstdlib>
#include <optional>
#include <span>

#include "common/bytes.h"
#include "common/text.h"
#include "config/burn_script.h"
#include "config/image_kind.h"
#include "ui/translate.h"

namespace lw {
namespace {

using namespace fud;

uint32_t U32(const uint8_t* p, size_t offset) { return Le32(p + offset); }
std::string Text(const uint8_t* p, Field f) { return FixedText(ByteView(p + f.offset, f.width), 0, f.width); }

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size())
    text.replace(pos, from.size(), to);
  return text;
}

std::string TrimLeft(const std::string& s) {
  size_t b = 0;
  while (b < s.size() && (s[b] == ' ' || s[b] == '\t')) ++b;
  return s.substr(b);
}

PackageFile Failed(PackageFile file, PackageStatus status, const std::string& error) {
  file.status = status;
  file.error = error;
  return file;
}

}  // namespace

int PackageErrorPayload(PackageStatus status) { return status == PackageStatus::OpenFailed ? 0 : 1; }

PackageHeader DecodePackageHeader(const uint8_t* p) {
  PackageHeader h;
  h.magic = Text(p, kMagicField);
  h.producerVersion = Text(p, kProducerVersion);
  h.entryCount = U32(p, kEntryCount);
  h.keepHeadInfo = U32(p, kKeepHeadInfo);
  h.keepCpsData = U32(p, kKeepCpsData);
  h.targetVersion = Text(p, kTargetVersion);
  h.versionCount = U32(p, kVersionCount);
  h.modelCount = U32(p, kModelCount);
  h.serialCount = U32(p, kSerialCount);
  h.tunerCount = U32(p, kTunerCount);
  h.allRadios = U32(p, kAllRadios);
  h.forPortable = U32(p, kForPortable);
  h.forMobile = U32(p, kForMobile);
  h.forRepeater = U32(p, kForRepeater);
  h.forPortableTrunking = U32(p, kForPortableTrunking);
  h.forMobileTrunking = U32(p, kForMobileTrunking);
  h.forOther = U32(p, kForOther);
  h.ignoreLetter = U32(p, kIgnoreLetter);
  h.setModeEnabled = U32(p, kSetModeEnabled);
  h.setTypeEnabled = U32(p, kSetTypeEnabled);
  h.modeValue = U32(p, kModeValue);
  h.typeValue = U32(p, kTypeValue);
  h.dataModelNumber = Text(p, kDataModelNumber);
  h.compressArmMain = U32(p, kCompressArmMain);
  return h;
}

DirectoryEntry DecodeDirectoryEntry(const uint8_t* p) {
  DirectoryEntry e;
  e.kindName = Text(p, kKindName);
  e.fileName = Text(p, kFileName);
  e.dataLength = U32(p, kDataLength);
  e.origin = U32(p, kOrigin);
  e.areaLength = U32(p, kAreaLength);
  e.externFlag = U32(p, kExternFlag);
  e.extendName = Text(p, kExtendName);
  return e;
}

PackageFile ReadPackage(const std::string& path, bool withLists) {
  Result<HeldFile> file = HeldFile::Open(path);
  if (!file.ok()) {
    PackageFile out;
    return Failed(std::move(out), PackageStatus::OpenFailed, "cannot open package " + path);
  }
  return ReadPackage(*file, withLists);
}

PackageFile ReadPackage(const HeldFile& file, bool withLists) {
  PackageFile out;
  const std::string& path = file.path();
  const uint64_t size = file.size();
  out.fileSize = size;

  Bytes header(kHeaderSize, 0);
  size_t got = size_t(std::min<uint64_t>(size, kHeaderSize));
  if (!file.ReadAt(0, std::span(header).first(got)).ok())
    return Failed(std::move(out), PackageStatus::OpenFailed, "cannot read " + path);
  if (FixedText(header, 0, kMagicField.width) != kMagic)
    return Failed(std::move(out), PackageStatus::WrongMagic, "not an upgrade package (wrong magic): " + path);
  if (got < kHeaderSize)
    return Failed(std::move(out), PackageStatus::Truncated,
                  Format("package truncated: %llu bytes, the header alone is 484", (unsigned long long)size));
  out.headerBytes = header;
  out.header = DecodePackageHeader(header.data());
  const PackageHeader& h = out.header;

  if (h.entryCount > kMaxEntries)
    return Failed(std::move(out), PackageStatus::TooManyEntries,
                  Format("package directory claims %u entries (at most 100)", h.entryCount));
  uint64_t records = uint64_t(h.versionCount) + h.modelCount + h.serialCount + h.tunerCount;
  uint64_t listBytes = records * kRecordSize;
  out.dataStart = kHeaderSize + listBytes + uint64_t(h.entryCount) * kEntrySize;
  // Bound every count by the file before allocating for it.
  if (out.dataStart > size)
    return Failed(std::move(out), PackageStatus::Truncated,
                  Format("package truncated: %llu bytes, its lists and directory need %llu", (unsigned long long)size,
                         (unsigned long long)out.dataStart));

  if (withLists && records > 0) {
    Bytes lists(static_cast<size_t>(listBytes));
    if (!file.ReadAt(kHeaderSize, lists).ok())
      return Failed(std::move(out), PackageStatus::Truncated, "cannot read the restriction lists");
    size_t at = 0;
    auto take = [&](uint32_t count, std::vector<std::string>& list) {
      list.reserve(count);
      for (uint32_t i = 0; i < count; ++i, at += kRecordSize) list.push_back(FixedText(lists, at, kRecordSize));
    };
    take(h.versionCount, out.versionRecords);
    take(h.modelCount, out.modelRecords);
    take(h.serialCount, out.serialRecords);
    take(h.tunerCount, out.tunerRecords);
  }

  Bytes directory(size_t(h.entryCount) * kEntrySize);
  if (!directory.empty() && !file.ReadAt(kHeaderSize + listBytes, directory).ok())
    return Failed(std::move(out), PackageStatus::Truncated, "cannot read the package directory");
  uint64_t offset = out.dataStart;
  for (uint32_t i = 0; i < h.entryCount; ++i) {
    out.entries.push_back(DecodeDirectoryEntry(directory.data() + size_t(i) * kEntrySize));
    out.dataOffsets.push_back(offset);
    if (out.entries.back().externFlag == 0) offset += out.entries.back().dataLength;
  }
  if (offset > size)
    return Failed(std::move(out), PackageStatus::Truncated,
                  Format("package truncated: %llu bytes, its images need %llu", (unsigned long long)size,
                         (unsigned long long)offset));
  out.status = PackageStatus::Ok;
  return out;
}

std::vector<std::string> SplitTokens(const std::string& text) {
  std::vector<std::string> tokens;
  std::string current;
  bool inToken = false, inBracket = false;
  for (char c : text) {
    bool blank = c == ' ' || c == '\t';
    if (!inToken) {
      if (blank) continue;
      inToken = true;
    }
    if (blank && !inBracket) {
      tokens.push_back(current);
      current.clear();
      inToken = false;
      continue;
    }
    if (c == '[') inBracket = true;
    else if (c == ']') inBracket = false;
    current += c;
  }
  if (inToken) tokens.push_back(current);
  return tokens;
}

std::vector<std::string> VersionListOf(const std::vector<std::string>& records, bool ignoreLetter,
                                       const std::string& targetVersion) {
  std::vector<std::string> list;
  for (const std::string& record : records) {
    list.push_back(record);
    if (!ignoreLetter) continue;
    // A version is admitted whatever letter it carries: add the other letter variants.
    std::string bare = WithoutLetters(record, "ACSNT");
    for (char letter : {'A', 'C', 'S', 'N', 'T'}) {
      std::string variant = letter + bare;
      if (variant != record) list.push_back(variant);
    }
  }
  if (!targetVersion.empty()) list.push_back(targetVersion);
  return list;
}

std::vector<ModelEntry> ModelListOf(const std::vector<std::string>& records) {
  std::vector<ModelEntry> list;
  std::string previous;
  bool first = true;
  for (const std::string& text : records) {
    ModelEntry entry;
    if (Contains(text, kAllVersion)) {
      entry.version = kAllVersion;
      entry.modelNumber = TrimLeft(ReplaceAll(text, "<All Version>", ""));
    } else {
      std::vector<std::string> tokens = SplitTokens(text);
      if (tokens.size() > 0) entry.version = WithoutLetters(tokens[0], "<>");
      if (tokens.size() > 1) entry.modelNumber = WithoutLetters(tokens[1], "<>");
    }
    entry.familyKey = entry.modelNumber.substr(0, 5);
    std::string line = entry.modelNumber.substr(0, 2);
    if (!first && line != previous) list.push_back({kChangeRowKey, "", ""});
    list.push_back(entry);
    previous = line;
    first = false;
  }
  return list;
}

std::vector<TunerChangeEntry> TunerListOf(const std::vector<std::string>& records) {
  std::vector<TunerChangeEntry> list;
  for (const std::string& text : records) {
    std::vector<std::string> tokens = SplitTokens(ReplaceAll(text, kAllVersion, "All_Version"));
    tokens.resize(std::max<size_t>(tokens.size(), 4));
    for (size_t i = 0; i < 4; ++i) tokens[i] = WithoutLetters(tokens[i], "<>");
    TunerChangeEntry entry;
    entry.version = tokens[0] == "All_Version" ? kAllVersion : tokens[0];
    auto number = [](const std::string& token) {
      size_t eq = token.find('=');
      return eq == std::string::npos ? 0u : UnsignedDecimal(Trim(token.substr(eq + 1)));
    };
    entry.address = number(tokens[1]);
    entry.length = number(tokens[2]);
    entry.lowHigh = number(tokens[3]);
    entry.radioTypes = kAllRadioTypes;
    list.push_back(entry);
  }
  return list;
}

std::string ForRadioTextOf(const PackageHeader& h) {
  if (h.allRadios != 0) return Translate("All");
  std::string text;
  const std::pair<uint32_t, const char*> flags[] = {
      {h.forPortable, TextKey("Portable")},
      {h.forMobile, TextKey("Mobile")},
      {h.forRepeater, TextKey("Repeater")},
      {h.forPortableTrunking, TextKey("Portable_trunking")},
      {h.forMobileTrunking, TextKey("Mobile_trunking")},
      {h.forOther, TextKey("Other")},
  };
  for (const auto& [flag, name] : flags) {
    if (flag != 1) continue;
    if (!text.empty()) text += ' ';
    text += Translate(name);
  }
  return text;
}

std::string ContentsTextOf(const std::vector<DirectoryEntry>& entries) {
  bool english = false, other = false;
  for (const auto& e : entries) {
    english |= e.kindName == kind::kEnglishLanguage;
    other |= e.kindName == kind::kOtherLanguage;
  }
  // Long directories shorten the two language package names so the summary fits.
  bool shorten = entries.size() > 5 || (entries.size() > 3 && english && other);
  std::string text = "[ ";
  for (const auto& e : entries) {
    if (shorten && e.kindName == kind::kEnglishLanguage) text += "english";
    else if (shorten && e.kindName == kind::kOtherLanguage) text += "other";
    else text += e.kindName;
    text += " * ";
  }
  return text + " ]";
}

void ClearPackageDisplay(PackageRestrictions& r) {
  r.versionList.clear();
  r.modelList.clear();
  r.serialList.clear();
  r.tunerList.clear();
  r.forRadioText.clear();
  r.contentsText.clear();
  r.headInfoIndicator = false;
  r.cpsDataIndicator = false;
}

void ApplyPackage(const PackageFile& p, PackageRestrictions& r) {
  const PackageHeader& h = p.header;
  r.header = h;
  r.headerBytes = p.headerBytes;
  r.forRadioText = ForRadioTextOf(h);
  r.targetVersion = h.targetVersion;
  r.ignoreLetter = h.ignoreLetter;
  r.setModeEnabled = h.setModeEnabled;
  r.setTypeEnabled = h.setTypeEnabled;
  r.modeValue = h.modeValue;
  r.typeValue = h.typeValue;
  r.versionList = VersionListOf(p.versionRecords, h.ignoreLetter == 1, h.targetVersion);
  r.modelList = ModelListOf(p.modelRecords);
  r.serialList = p.serialRecords;
  r.tunerList = TunerListOf(p.tunerRecords);
  r.contentsText = ContentsTextOf(p.entries);
  r.headInfoIndicator = h.keepHeadInfo == 1;
  r.cpsDataIndicator = h.keepCpsData == 1;
}

PackageStatus LoadPackage(const std::string& path, PackageRestrictions& restrictions) {
  PackageFile package = ReadPackage(path);
  if (!package.ok()) {
    ClearPackageDisplay(restrictions);
    return package.status;
  }
  ApplyPackage(package, restrictions);
  return PackageStatus::Ok;
}

}  // namespace lw
