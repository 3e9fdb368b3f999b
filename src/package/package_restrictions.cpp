#include "package/package_restrictions.h"

namespace lw {

PackageRestrictions RestrictionsFromSettings(const ProgramSettings& settings, const UpgradeRules& upgrade,
                                             const std::vector<RadioRule>& radios,
                                             const std::vector<TunerRule>& tuners) {
  PackageRestrictions r;
  r.forRadioText = settings.radioType;
  r.targetVersion = settings.upgradeTo;
  for (const auto& pair : upgrade.versionPairs) r.versionList.push_back(pair.from);
  for (const auto& rule : radios) {
    if (rule.changeRow)
      r.modelList.push_back({kChangeRowKey, "", ""});
    else
      r.modelList.push_back({rule.fields[0], rule.fields[1], rule.fields[2]});
  }
  for (const auto& rule : tuners)
    r.tunerList.push_back({rule.version, rule.radioTypes, rule.offset, rule.length, rule.segmentKey, rule.comparison});
  return r;
}

}  // namespace lw
