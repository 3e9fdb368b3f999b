// fudpack: builds an upgrade package (.fud) from a manifest.
#include <cstring>
#include <iostream>
#include <string>

#include "common/version.h"
#include "package/fud_manifest.h"
#include "package/fud_reader.h"
#include "package/fud_writer.h"

namespace {

const char* kUsage =
    "usage: fudpack MANIFEST -o OUT.fud\n"
    "\n"
    "Builds an upgrade package from MANIFEST, an ini file with the sections [package] (header\n"
    "fields by name), [versionList], [modelList], [serialList], [tunerList] (record = TEXT, one\n"
    "line per record) and one [entry] per image (kindName, source, fileName, origin, areaLength,\n"
    "externFlag, extendName, dataLength). Source paths are relative to the manifest. The counts\n"
    "of the header and the length of every non-extern image are filled in; the package is read\n"
    "back after writing and must match. A manifest without producerVersion gets this program's\n"
    "version in the form the window shows (--version prints the version).\n"
    "See docs/fud-manifest.md. Exit status 2 on any error.\n";

int Fail(const std::string& message) {
  std::cerr << "fudpack: " << message << "\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string manifest, out;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      std::cout << lw::VersionLine("fudpack");
      return 0;
    }
    if (arg == "-o" && i + 1 < argc) out = argv[++i];
    else if (!arg.empty() && arg[0] == '-') return Fail("unknown option " + arg + " (see --help)");
    else if (manifest.empty()) manifest = arg;
    else return Fail("more than one manifest given (see --help)");
  }
  if (manifest.empty() || out.empty()) return Fail("usage: fudpack MANIFEST -o OUT.fud (see --help)");

  auto desc = lw::ReadFudManifest(manifest);
  if (!desc) return Fail(desc.status().message());
  // A package says which program made it unless the manifest names another producer.
  if (desc->header.producerVersion.empty()) desc->header.producerVersion = lw::ProgramVersionText();
  if (lw::Status written = lw::WritePackage(*desc, out); !written.ok()) return Fail(written.message());

  // Read the package back: what was written must be what the manifest said.
  lw::PackageFile back = lw::ReadPackage(out);
  if (!back.ok()) return Fail("the written package does not read back: " + back.error);
  if (back.entries.size() != desc->entries.size() || back.modelRecords != desc->modelRecords ||
      back.versionRecords != desc->versionRecords || back.serialRecords != desc->serialRecords ||
      back.tunerRecords != desc->tunerRecords)
    return Fail("the written package does not read back as described");
  std::cout << out << ": " << back.entries.size() << " entries, " << back.fileSize << " bytes\n";
  return 0;
}
