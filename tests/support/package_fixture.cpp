#include "support/package_fixture.h"

namespace lw::test {

PackageSpec SamplePackageSpec() {
  PackageSpec desc;
  PackageHeader& h = desc.header;
  h.producerVersion = "V7.06.01.003";
  h.keepHeadInfo = 1;
  h.keepCpsData = 1;
  h.targetVersion = "A5.00.09.000";
  h.forPortable = 1;
  h.forMobile = 1;
  h.dataModelNumber = "KX412-000G0000-M00000-U1-0-F";
  desc.versionRecords = {"A5.00.07.000"};
  desc.modelRecords = {"<A5.00.07.000> KX41X-000G0000-M00000-U1-0-F", "<All Version> KV620-000G0000-M00000-U1-0-F"};
  desc.serialRecords = {"1234567890"};
  desc.tunerRecords = {"<All Version>  <Address=256> <Length=64> <LowHigh=1>"};
  desc.entries.push_back({{"cps_data", "cps.bin", 0, 0x18000, 0x8000, 0, ""}, std::vector<uint8_t>(16, 0xC5)});
  desc.entries.push_back({{"arm_main", "arm.bin", 99, 0x10000, 0x440000, 1, "V1"}, {}});
  desc.entries.push_back({{"english language package", "en.bin", 0, 0x600000, 0x100000, 0, ""},
                          std::vector<uint8_t>{1, 2, 3, 4, 5}});
  return desc;
}

}  // namespace lw::test
