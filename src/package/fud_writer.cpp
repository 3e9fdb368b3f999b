#include "package/fud_writer.h"

#include <fstream>
#include <initializer_list>

#include "common/bytes.h"
#include "common/text.h"

namespace lw {
namespace {

using namespace fud;

void PutText(std::vector<uint8_t>& out, size_t base, Field f, const std::string& text) {
  PutFixedText(out.data() + base + f.offset, f.width, text);
}

struct SizedText {
  const std::string& text;
  size_t width;  // of the field; it holds width-1 characters and the terminator
  const char* what;
};

// The first text that does not fit its field.
Status Fits(std::initializer_list<SizedText> texts) {
  for (const SizedText& t : texts) {
    if (t.text.size() >= t.width)
      return Status::Error(Format("%s \"%s\" is longer than %zu characters", t.what, t.text.c_str(), t.width - 1));
  }
  return Status::Ok();
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

Result<std::vector<uint8_t>> EncodePackage(const PackageSpec& desc) {
  PackageHeader h = desc.header;
  if (h.magic.empty()) h.magic = kMagic;
  if (desc.entries.size() > kMaxEntries)
    return Status::Error(Format("%zu entries; a package holds at most 100", desc.entries.size()));
  h.entryCount = uint32_t(desc.entries.size());
  h.versionCount = uint32_t(desc.versionRecords.size());
  h.modelCount = uint32_t(desc.modelRecords.size());
  h.serialCount = uint32_t(desc.serialRecords.size());
  h.tunerCount = uint32_t(desc.tunerRecords.size());
  if (Status fits = Fits({{h.magic, kMagicField.width, "magic"},
                          {h.producerVersion, kProducerVersion.width, "producerVersion"},
                          {h.targetVersion, kTargetVersion.width, "targetVersion"},
                          {h.dataModelNumber, kDataModelNumber.width, "dataModelNumber"}});
      !fits.ok())
    return fits;

  std::vector<uint8_t> out = EncodePackageHeader(h);
  for (const auto* list : {&desc.versionRecords, &desc.modelRecords, &desc.serialRecords, &desc.tunerRecords}) {
    for (const std::string& text : *list) {
      if (Status fits = Fits({{text, kRecordSize, "restriction record"}}); !fits.ok()) return fits;
      std::vector<uint8_t> record(kRecordSize, 0);
      PutFixedText(record.data(), kRecordSize, text);
      out.insert(out.end(), record.begin(), record.end());
    }
  }
  for (const auto& item : desc.entries) {
    DirectoryEntry e = item.entry;
    if (Status fits = Fits({{e.kindName, kKindName.width, "kindName"},
                            {e.fileName, kFileName.width, "fileName"},
                            {e.extendName, kExtendName.width, "extendName"}});
        !fits.ok())
      return fits;
    if (e.externFlag == 0) {
      if (item.data.size() > 0xFFFFFFFFu) return Status::Error("image " + e.kindName + " is larger than 4 GB");
      e.dataLength = uint32_t(item.data.size());
    }
    std::vector<uint8_t> bytes = EncodeDirectoryEntry(e);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  for (const auto& item : desc.entries)
    if (item.entry.externFlag == 0) out.insert(out.end(), item.data.begin(), item.data.end());
  return out;
}

Status WritePackage(const PackageSpec& desc, const std::string& path) {
  auto bytes = EncodePackage(desc);
  if (!bytes) return bytes.status();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes->data()), std::streamsize(bytes->size()));
  file.close();
  if (!file) return Status::Error("cannot write " + path);
  return Status::Ok();
}

}  // namespace lw
