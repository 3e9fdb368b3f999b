// rcdbpack: builds an RCDB image from a manifest (simulated radio data, the demo, fixtures).
#include <fstream>
#include <iostream>
#include <string>

#include "common/version.h"
#include "package/radio_identity.h"
#include "package/rcdb_builder.h"
#include "package/rcdb_manifest.h"
#include "package/rcdb_tree.h"

namespace {

const char* kUsage =
    "usage: rcdbpack MANIFEST -o OUT.rcdb\n"
    "       rcdbpack --sample [--wide] -o OUT.rcdb\n"
    "\n"
    "Builds an RCDB image from MANIFEST, an ini file with the sections [image] (layout, identity\n"
    "texts, header groups), [tree T], [group T/G] (a plain group), [records T/G] and\n"
    "[record T/G/I] (a record array and its records). Data values are hex:.., fill:LEN:BYTE,\n"
    "text:.. or file:PATH. --sample writes the built-in sample image of a portable radio\n"
    "instead. The image is opened again after writing and must hold its identity.\n"
    "See docs/rcdb-manifest.md. Exit status 2 on any error. --version prints the version.\n";

int Fail(const std::string& message) {
  std::cerr << "rcdbpack: " << message << "\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string manifest, out;
  bool sample = false, wide = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      std::cout << lw::VersionLine("rcdbpack");
      return 0;
    }
    if (arg == "-o" && i + 1 < argc) out = argv[++i];
    else if (arg == "--sample") sample = true;
    else if (arg == "--wide") wide = true;
    else if (!arg.empty() && arg[0] == '-') return Fail("unknown option " + arg + " (see --help)");
    else if (manifest.empty()) manifest = arg;
    else return Fail("more than one manifest given (see --help)");
  }
  if (out.empty() || (manifest.empty() != sample)) return Fail("usage: rcdbpack MANIFEST -o OUT.rcdb (see --help)");

  lw::RcdbBuildSpec desc;
  if (sample) {
    desc = lw::SampleRcdbSpec(lw::SampleRadioIdentity(), wide);
  } else {
    auto read = lw::ReadRcdbManifest(manifest);
    if (!read) return Fail(read.status().message());
    desc = *read;
  }
  auto image = lw::BuildRcdbImage(desc);
  if (!image) return Fail(image.status().message());
  if (lw::Status check = lw::RcdbTree::Check(*image); !check.ok())
    return Fail("the built image does not open: " + check.message());
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(image->data()), std::streamsize(image->size()));
  file.close();
  if (!file) return Fail("cannot write " + out);
  auto identity = lw::ReadIdentityFromImage(*image);
  std::cout << out << ": " << image->size() << " bytes, " << desc.trees.size() << " trees";
  if (identity.identity) std::cout << ", radio " << identity.identity->modelNumber << " " << identity.identity->serialNumber;
  std::cout << "\n";
  return 0;
}
