#include "package/radio_identity.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "common/text.h"
#include "package/rcdb_tree.h"
#include "package/record_list.h"
#include "ui/translate.h"

namespace lw {
namespace {

// XUID identity file fields.
constexpr size_t kXuidModelAt = 68, kXuidModelBytes = 64;
constexpr size_t kXuidVersionAt = 132, kXuidVersionBytes = 32;
constexpr size_t kXuidFormatAt = 164, kXuidFormatBytes = 32;
constexpr size_t kXuidSerialAt = 196, kXuidSerialBytes = 91;
constexpr size_t kXuidRestrictionAt = 287;

std::string Utf16Field(std::span<const uint8_t> data, size_t offset, size_t bytes) {
  if (offset >= data.size()) return {};
  bytes = std::min(bytes, data.size() - offset);
  return Utf16LeToUtf8(data.data() + offset, bytes);
}

void PutUtf16Field(std::vector<uint8_t>& out, size_t offset, size_t bytes, const std::string& text) {
  std::vector<uint8_t> wide = Utf8ToUtf16Le(text);
  // Keep room for the terminating NUL unit.
  size_t room = bytes >= 2 ? (bytes - 2) & ~size_t(1) : 0;
  std::copy_n(wide.begin(), std::min(wide.size(), room), out.begin() + long(offset));
}

std::optional<RadioIdentity> FromRcdbImage(std::span<const uint8_t> image) {
  RadioIdentity id;
  id.formatVersion = "2.0";
  id.modelNumber = FixedText(image, kImageModelAt, kImageModelWidth);
  id.serialNumber = FixedText(image, kImageSerialAt, kImageSerialWidth);
  id.softwareVersion = FixedText(image, kImageVersionAt, kImageVersionWidth);
  id.variantCode = FixedText(image, kImageVariantAt, kImageVariantWidth);
  id.packageCheckText = Utf16Field(image, kImagePackageTextAt, kImagePackageTextBytes);
  // Radios from data version 4.05.16 on keep a customer restriction code in the header.
  if (id.softwareVersion.size() > 1 && id.softwareVersion.substr(1, 7) >= "4.05.16") {
    if (auto code = ReadLe16(image, kImageRestrictionCodeAt)) id.restrictionCode = int16_t(*code);
  }
  return id;
}

}  // namespace

RadioType RadioTypeOf(std::string_view model) {
  if (model.empty()) return RadioType::None;
  bool trunking = model.size() > 6 && model[6] == 'T';
  if (StartsWith(model, "KV")) return trunking ? RadioType::MobileTrunking : RadioType::Mobile;
  if (StartsWith(model, "KQ")) return RadioType::Repeater;
  return trunking ? RadioType::PortableTrunking : RadioType::Portable;
}

const char* RadioTypeName(RadioType type) {
  switch (type) {
    case RadioType::Portable: return TextKey("Portable");
    case RadioType::Mobile: return TextKey("Mobile");
    case RadioType::Repeater: return TextKey("Repeater");
    case RadioType::PortableTrunking: return TextKey("Portable_trunking");
    case RadioType::MobileTrunking: return TextKey("Mobile_trunking");
    case RadioType::None: break;
  }
  return "";
}

int RcdbFormatKind(std::span<const uint8_t> image) {
  if (!IsRcdbImage(image)) return 0;
  if ((image[0] >> 4) != 1) return 128;
  if (image[6] == 1) return image.size() > kImageFormatByteAt ? image[kImageFormatByteAt] + 1 : 144;
  return 144;
}

std::string RecordListFailureText(int error) {
  if (error == 0) return {};
  // The translated pattern is outside data: its "%d" is replaced here, it never reaches printf.
  std::string text = TranslateLines(kRecordListFailedText);
  if (size_t at = text.find("%d"); at != std::string::npos) text.replace(at, 2, std::to_string(error));
  return text;
}

ImageIdentity ReadIdentityFromImage(std::span<const uint8_t> image, char areaByte) {
  ImageIdentity out;
  if (IsRcdbImage(image) && RcdbTree::Check(image).ok()) {
    out.rcdb = true;
    out.formatKind = RcdbFormatKind(image);
    if (!IsUnidentifiableKind(out.formatKind) && out.formatKind > 0) out.identity = FromRcdbImage(image);
    return out;
  }
  RecordListResult list = ParseRecordList(image);
  if (!list.ok()) {
    out.recordListError = list.error;
    return out;
  }
  for (const ListRecord& record : list.list.records) {
    if (record.tag != kIdentityRecordTag) continue;
    // The identity record is 256 bytes; a shorter one reads as if zero-padded.
    std::vector<uint8_t> bytes = record.bytes;
    bytes.resize(std::max(bytes.size(), kIdentityRecordSize), 0);
    RadioIdentity id;
    id.formatVersion = "1.0";
    id.softwareVersion = Utf16Field(bytes, kRecordVersionAt, kRecordSerialAt - kRecordVersionAt);
    id.serialNumber = Utf16Field(bytes, kRecordSerialAt, kRecordModelAt - kRecordSerialAt);
    id.modelNumber = Utf16Field(bytes, kRecordModelAt, bytes.size() - kRecordModelAt);
    if (areaByte) id.variantCode = std::string(1, areaByte);
    out.identity = id;
    out.identityRecord.assign(bytes.begin(), bytes.begin() + long(kIdentityRecordSize));
    break;
  }
  return out;
}

RadioIdentity IdentityFromXuid(std::span<const uint8_t> file) {
  std::vector<uint8_t> buffer(kXuidFileMax, 0);
  std::copy_n(file.begin(), std::min(file.size(), kXuidFileMax), buffer.begin());
  RadioIdentity id;
  id.modelNumber = Utf16Field(buffer, kXuidModelAt, kXuidModelBytes);
  id.softwareVersion = Utf16Field(buffer, kXuidVersionAt, kXuidVersionBytes);
  id.formatVersion = Utf16Field(buffer, kXuidFormatAt, kXuidFormatBytes);
  id.serialNumber = Utf16Field(buffer, kXuidSerialAt, kXuidSerialBytes);
  id.restrictionCode = int16_t(Le16(buffer.data() + kXuidRestrictionAt));
  // The 5th character; model numbers are ASCII, so a byte is a character.
  id.variantCode = id.modelNumber.size() > 4 ? id.modelNumber.substr(4, 1) : "";
  return id;
}

std::vector<uint8_t> MakeXuidFile(const RadioIdentity& id) {
  std::vector<uint8_t> file(kXuidFileMax, 0);
  PutUtf16Field(file, kXuidModelAt, kXuidModelBytes, id.modelNumber);
  PutUtf16Field(file, kXuidVersionAt, kXuidVersionBytes, id.softwareVersion);
  PutUtf16Field(file, kXuidFormatAt, kXuidFormatBytes, id.formatVersion);
  PutUtf16Field(file, kXuidSerialAt, kXuidSerialBytes, id.serialNumber);
  PutLe16(file.data() + kXuidRestrictionAt, uint16_t(int16_t(id.restrictionCode)));
  return file;
}

RadioFileIdentity IdentityFromRadioFile(std::span<const uint8_t> file, char areaByte) {
  RadioFileIdentity out;
  if (!IsRcdbImage(file) && file.size() <= kXuidFileMax) {
    out.kind = RadioFileKind::IdentityFile;
    out.identity = IdentityFromXuid(file);
    return out;
  }
  out.image = ReadIdentityFromImage(file, areaByte);
  out.kind = out.image.rcdb ? RadioFileKind::RcdbImage : RadioFileKind::RecordList;
  out.identity = out.image.identity;
  return out;
}

}  // namespace lw
