// A small, complete package: every list in use and three entries (one of them extern).
#pragma once

#include "package/fud_writer.h"

namespace lw::test {

// Target A5.00.09.000, for Portable and Mobile, one source version, two model records of
// different families, one serial, one tuner record; entries cps_data (16 bytes), arm_main
// (extern, extend name V1) and english language package (5 bytes).
PackageSpec SamplePackageSpec();

}  // namespace lw::test
