#include "package/fud_writer.h"

#include <fstream>

#include "common/bytes.h"
#include "common/text.h"

namespace lw {
namespace {

using namespace fud;

void PutText(std::vector<uint8_t>& out, size_t base, Field f, const std::string& text) {
  PutFixedText(out.data() + base + f.offset, f.width, text);
}

bool Fits(const std::string& text, size_t width, const std::string& what, std::string* error) {
  if (text.size() < width) return true;
  if (error) *error = Format("%s \"%s\" is longer than %zu characters", what.c_str(), text.c_str(), width - 1);
  return false;
}

}  // namespace

std::vector<uint8_t> EncodePackageHeader(const PackageHeader& h) {
  std::vector<uint8_t> out(kHeaderSize, 0);
  uint8_t* p = out.data();
  PutText(out, 0, kMagicField, h.magic);
  PutText(out, 0, kProducerVersion, h.producerVersion);
  PutLe32(p + kEntryCount, h.entryCount);
  PutLe32(p + kKeepHeadInfo, h.keepHeadInfo);
  PutLe32(p + kKeepCpsData, h.keepCpsData);
  PutText(out, 0, kTargetVersion, h.targetVersion);
  PutLe32(p + kVersionCount, h.versionCount);
  PutLe32(p + kModelCount, h.modelCount);
  PutLe32(p + kSerialCount, h.serialCount);
  PutLe32(p + kTunerCount, h.tunerCount);
  PutLe32(p + kAllRadios, h.allRadios);
  PutLe32(p + kForPortable, h.forPortable);
  PutLe32(p + kForMobile, h.forMobile);
  PutLe32(p + kForRepeater, h.forRepeater);
  PutLe32(p + kForPortableTrunking, h.forPortableTrunking);
  PutLe32(p + kForMobileTrunking, h.forMobileTrunking);
  PutLe32(p + kForOther, h.forOther);
  PutLe32(p + kIgnoreLetter, h.ignoreLetter);
  PutLe32(p + kSetModeEnabled, h.setModeEnabled);
  PutLe32(p + kSetTypeEnabled, h.setTypeEnabled);
  PutLe32(p + kModeValue, h.modeValue);
  PutLe32(p + kTypeValue, h.typeValue);
  PutText(out, 0, kDataModelNumber, h.dataModelNumber);
  PutLe32(p + kCompressArmMain, h.compressArmMain);
  return out;
}

std::vector<uint8_t> EncodeDirectoryEntry(const DirectoryEntry& e) {
  std::vector<uint8_t> out(kEntrySize, 0);
  uint8_t* p = out.data();
  PutText(out, 0, kKindName, e.kindName);
  PutText(out, 0, kFileName, e.fileName);
  PutLe32(p + kDataLength, e.dataLength);
  PutLe32(p + kOrigin, e.origin);
  PutLe32(p + kAreaLength, e.areaLength);
  PutLe32(p + kExternFlag, e.externFlag);
  PutText(out, 0, kExtendName, e.extendName);
  return out;
}

std::optional<std::vector<uint8_t>> EncodePackage(const PackageSpec& desc, std::string* error) {
  PackageHeader h = desc.header;
  if (h.magic.empty()) h.magic = kMagic;
  if (desc.entries.size() > kMaxEntries) {
    if (error) *error = Format("%zu entries; a package holds at most 100", desc.entries.size());
    return std::nullopt;
  }
  h.entryCount = uint32_t(desc.entries.size());
  h.versionCount = uint32_t(desc.versionRecords.size());
  h.modelCount = uint32_t(desc.modelRecords.size());
  h.serialCount = uint32_t(desc.serialRecords.size());
  h.tunerCount = uint32_t(desc.tunerRecords.size());
  if (!Fits(h.magic, kMagicField.width, "magic", error) ||
      !Fits(h.producerVersion, kProducerVersion.width, "producerVersion", error) ||
      !Fits(h.targetVersion, kTargetVersion.width, "targetVersion", error) ||
      !Fits(h.dataModelNumber, kDataModelNumber.width, "dataModelNumber", error))
    return std::nullopt;

  std::vector<uint8_t> out = EncodePackageHeader(h);
  for (const auto* list : {&desc.versionRecords, &desc.modelRecords, &desc.serialRecords, &desc.tunerRecords}) {
    for (const std::string& text : *list) {
      if (!Fits(text, kRecordSize, "restriction record", error)) return std::nullopt;
      std::vector<uint8_t> record(kRecordSize, 0);
      PutFixedText(record.data(), kRecordSize, text);
      out.insert(out.end(), record.begin(), record.end());
    }
  }
  for (const auto& item : desc.entries) {
    DirectoryEntry e = item.entry;
    if (!Fits(e.kindName, kKindName.width, "kindName", error) ||
        !Fits(e.fileName, kFileName.width, "fileName", error) ||
        !Fits(e.extendName, kExtendName.width, "extendName", error))
      return std::nullopt;
    if (e.externFlag == 0) {
      if (item.data.size() > 0xFFFFFFFFu) {
        if (error) *error = "image " + e.kindName + " is larger than 4 GB";
        return std::nullopt;
      }
      e.dataLength = uint32_t(item.data.size());
    }
    std::vector<uint8_t> bytes = EncodeDirectoryEntry(e);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  for (const auto& item : desc.entries)
    if (item.entry.externFlag == 0) out.insert(out.end(), item.data.begin(), item.data.end());
  return out;
}

bool WritePackage(const PackageSpec& desc, const std::string& path, std::string* error) {
  auto bytes = EncodePackage(desc, error);
  if (!bytes) return false;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes->data()), std::streamsize(bytes->size()));
  file.close();
  if (!file) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace lw
