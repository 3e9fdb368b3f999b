#include "package/eligibility.h"

#include "common/codes.h"
#include "common/text.h"
#include "ui/translate.h"

namespace lw {
namespace {

std::optional<char> CharAt(const std::string& s, size_t i) {
  if (i < s.size()) return s[i];
  return std::nullopt;
}

}  // namespace

Eligibility::Eligibility(const PackageRestrictions& restrictions, std::string digitalType, std::string encryptLen)
    : r_(restrictions), digitalType_(std::move(digitalType)), encryptLen_(std::move(encryptLen)) {}

bool Eligibility::RadioTypeAdmitted(const std::string& modelNumber) const {
  if (r_.forRadioText == "All" || r_.forRadioText == Translate("All")) return true;
  RadioType type = RadioTypeOf(modelNumber);
  if (type == RadioType::None) return false;
  std::string name = RadioTypeName(type);
  std::string translated = Translate(name);
  std::string text = WithoutLetters(r_.forRadioText, "[]");
  int tokens = 0;
  for (const std::string& token : Split(text, ' ')) {
    if (token.empty()) continue;
    if (++tokens > 10) break;
    if (token == name || token == translated) return true;
  }
  return false;
}

bool Eligibility::ModeCharacterAdmitted(const std::string& modelNumber) const {
  auto c = CharAt(modelNumber, 12);
  if (!c) return false;
  return (Contains(digitalType_, "PDT") && *c == 'P') || (Contains(digitalType_, "DMR") && *c == '0') ||
         (Contains(digitalType_, "Analog") && *c == 'A');
}

bool Eligibility::EncryptionCharacterAdmitted(const std::string& modelNumber) const {
  auto c = CharAt(modelNumber, 17);
  if (!c) return false;
  // "Forbiden" is the word the shipped set.ini uses.
  return (Contains(encryptLen_, "256") && *c == '0') || (Contains(encryptLen_, "40") && *c == '1') ||
         (Contains(encryptLen_, "Forbiden") && *c == '2');
}

bool Eligibility::VersionAdmitted(const std::string& softwareVersion, const std::string& modelNumber,
                                  bool packageChosen) const {
  std::string dataVersion = softwareVersion.size() > 1 ? softwareVersion.substr(1, 4) : "";
  if (dataVersion < "5.00") return false;
  if (packageChosen) {
    int sources = 0;
    for (const auto& v : r_.versionList)
      if (v != r_.targetVersion) ++sources;
    // A package that names no source versions takes any radio from 5.00 on.
    if (sources == 0) return true;
  }
  // The letters of a version never decide: compare the numbers only.
  std::string r = WithoutLetters(softwareVersion, kVersionLetters);
  std::string t = WithoutLetters(r_.targetVersion, kVersionLetters);
  switch (RadioTypeOf(modelNumber)) {
    case RadioType::Portable:
    case RadioType::Mobile:
      return r <= t;
    case RadioType::PortableTrunking:
    case RadioType::MobileTrunking:
      return r.substr(0, 7) == t.substr(0, 7) || r <= t;
    case RadioType::Repeater:
    case RadioType::None:
      break;
  }
  return false;
}

bool Eligibility::ModelAdmitted(const std::string& softwareVersion, const std::string& modelNumber) const {
  if (r_.modelList.empty()) return true;
  for (const ModelEntry& entry : r_.modelList) {
    if (entry.IsMarker()) continue;
    bool versionMatches = entry.version == kAllVersion || softwareVersion == entry.version;
    if (!versionMatches) continue;
    auto wildcard = CharAt(entry.modelNumber, 4);
    if (wildcard == 'x' || wildcard == 'X') {
      for (char variant : {'0', '2', '5', '6', '8'}) {
        std::string candidate = entry.modelNumber;
        candidate[4] = variant;
        if (modelNumber == candidate) return true;
      }
    } else if (modelNumber == entry.modelNumber) {
      return true;
    }
  }
  return false;
}

bool Eligibility::SerialAdmitted(const std::string& serialNumber) const {
  if (r_.serialList.empty()) return true;
  for (const auto& s : r_.serialList)
    if (s == serialNumber) return true;
  return false;
}

Eligibility::Verdict Eligibility::Evaluate(const RadioIdentity& id, bool packageChosen) const {
  auto refuse = [](ReportCode code, std::string payload) { return Verdict{int(code), std::move(payload)}; };
  if (!RadioTypeAdmitted(id.modelNumber)) return refuse(ReportCode::RadioTypeBeyond, id.modelNumber);
  if (!ModeCharacterAdmitted(id.modelNumber)) return refuse(ReportCode::ModelBeyond, id.modelNumber);
  if (!EncryptionCharacterAdmitted(id.modelNumber)) return refuse(ReportCode::ModelBeyond, id.modelNumber);
  if (!VersionAdmitted(id.softwareVersion, id.modelNumber, packageChosen))
    return refuse(ReportCode::FirmwareBeyond, id.softwareVersion);
  if (id.restrictionCode != 0 && id.restrictionCode != -1) return refuse(ReportCode::CustomerCodeBeyond, "");
  if (packageChosen) {
    if (!ModelAdmitted(id.softwareVersion, id.modelNumber)) return refuse(ReportCode::ModelBeyond, id.modelNumber);
    if (!SerialAdmitted(id.serialNumber)) return refuse(ReportCode::SerialBeyond, id.serialNumber);
  }
  return Verdict{};
}

}  // namespace lw
