// Whether a radio may take the current package: six rules, applied in a fixed order before
// anything is written to the radio. The first rule that refuses decides the report.
//
//   step rule                         applied                  refusal
//   1    RadioTypeAdmitted            always                   19, model number
//   2    ModeCharacterAdmitted        always                   18, model number
//   3    EncryptionCharacterAdmitted  always                   18, model number
//   4    VersionAdmitted              always                   17, software version
//   5    restriction code 0 or -1     always                   27, no payload
//   6    ModelAdmitted                a package was chosen     18, model number
//   7    SerialAdmitted               a package was chosen     24, serial number
//
// Text comparisons are exact and ordinal ("10.0" is less than "9.0"). A model number too short
// to have the character a rule looks at is refused by that rule.
#pragma once

#include <string>

#include "config/settings.h"
#include "package/package_restrictions.h"
#include "package/radio_identity.h"

namespace lw {

// Result code of an admitted radio (the remote identity check answers "ok" for it).
inline constexpr int kAdmitted = 100;
// The letters a firmware version text carries beside its numbers (its kind and region), left
// out where versions are compared by their numbers.
inline constexpr const char* kVersionLetters = "ACSNTVEP";

class Eligibility {
 public:
  // `digitalType` and `encryptLen` are the settings "Digital Type" and "Encrypt Len".
  Eligibility(const PackageRestrictions& restrictions, std::string digitalType, std::string encryptLen);
  Eligibility(const PackageRestrictions& restrictions, const ProgramSettings& settings)
      : Eligibility(restrictions, settings.digitalType, settings.encryptLen) {}

  bool RadioTypeAdmitted(const std::string& modelNumber) const;
  bool ModeCharacterAdmitted(const std::string& modelNumber) const;
  bool EncryptionCharacterAdmitted(const std::string& modelNumber) const;
  bool VersionAdmitted(const std::string& softwareVersion, const std::string& modelNumber, bool packageChosen) const;
  bool ModelAdmitted(const std::string& softwareVersion, const std::string& modelNumber) const;
  bool SerialAdmitted(const std::string& serialNumber) const;

  struct Verdict {
    int code = kAdmitted;  // kAdmitted, or the report code of the refusing step
    std::string payload;   // the text the report carries (empty for 27 and for admit)
    bool admitted() const { return code == kAdmitted; }
  };
  // The seven steps in order.
  Verdict Evaluate(const RadioIdentity& identity, bool packageChosen) const;

 private:
  const PackageRestrictions& r_;
  std::string digitalType_;
  std::string encryptLen_;
};

}  // namespace lw
