// The radio the remote-control tests and the soak upgrade: a KX412 portable on software
// A5.00.07.000, data format 2.0, serial PT24000001, within the sample package's rules.
#pragma once

#include "package/radio_identity.h"

namespace lw::test {

inline RadioIdentity EligibleIdentity() {
  RadioIdentity id;
  id.modelNumber = "KX412-000G0000-M00000-U1-0-F";
  id.serialNumber = "PT24000001";
  id.softwareVersion = "A5.00.07.000";
  id.formatVersion = "2.0";
  id.restrictionCode = 0;
  return id;
}

}  // namespace lw::test
