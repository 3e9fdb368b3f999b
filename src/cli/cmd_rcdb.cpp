// loftwise-cli rcdb: the header groups and node tree of an RCDB image, or one node's bytes.
#include <fstream>
#include <iostream>
#include <iterator>

#include "cli/command.h"
#include "common/bytes.h"
#include "common/text.h"
#include "package/radio_identity.h"
#include "package/rcdb_tree.h"

namespace lw::cli {
namespace {

int RunRcdb(const std::vector<std::string>& argv);

const CommandInfo kInfo{"rcdb", "rcdb IMAGE [PATH]", "print an RCDB image's header groups and tree, or one node",
                        RunRcdb};

const char* kDetails =
    "Without PATH: the layout, the radio identity the image carries, header groups 0 to 11 in\n"
    "hex, and every node as its path (root/TREE/GROUP/INDEX/ELEMENT) with its kind, size and\n"
    "child count. With PATH (for example root/3/91/2): that node's data bytes in hex, 16 per\n"
    "line with their image offsets.\n"
    "Exit status 2 when IMAGE cannot be read or PATH is malformed, 3 when IMAGE is not a sound\n"
    "RCDB image (the reason is printed), 4 when PATH names no node.\n";

const char* KindName(RcdbNodeKind kind, bool recordArray) {
  switch (kind) {
    case RcdbNodeKind::Root: return "root";
    case RcdbNodeKind::Tree: return "tree";
    case RcdbNodeKind::Group: return recordArray ? "record array" : "group";
    case RcdbNodeKind::Record: return "record";
    case RcdbNodeKind::Element: return "element";
  }
  return "";
}

int RunRcdb(const std::vector<std::string>& argv) {
  Args args(argv, {"home"}, {"help"});
  if (!args.ok()) return Fail(args.error());
  if (args.Flag("help")) return Usage(kInfo, kDetails);
  const auto& pos = args.Positionals();
  if (pos.empty() || pos.size() > 2) return Fail("rcdb needs IMAGE and at most one PATH (see --help)");

  std::ifstream file(pos[0], std::ios::binary);
  if (!file) return Fail("cannot open " + pos[0]);
  Bytes image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  auto tree = RcdbTree::Open(image);
  if (!tree) return Fail(pos[0] + " is not a sound RCDB image: " + tree.status().message(), 3);
  if (!IsRcdbImage(image)) return Fail(pos[0] + " does not carry the RCDB signature", 3);

  if (pos.size() == 2) {
    auto path = ParsePath(pos[1]);
    if (!path) return Fail("malformed path \"" + pos[1] + "\" (root/TREE/GROUP/INDEX/ELEMENT)");
    auto node = tree->FindNode(*path);
    if (!node) return Fail(pos[1] + " names no node", 4);
    for (size_t at = 0; at < node->size; at += 16) {
      size_t n = std::min<size_t>(16, node->size - at);
      std::cout << Format("%08zX  ", node->dataOffset + at)
                << HexString(ByteView(image).subspan(node->dataOffset + at, n)) << "\n";
    }
    return 0;
  }

  std::cout << pos[0] << ": " << image.size() << " bytes, " << (tree->wide() ? "wide" : "narrow")
            << " layout, format kind " << RcdbFormatKind(image) << ", total length " << tree->TotalLength() << "\n";
  ImageIdentity id = ReadIdentityFromImage(image);
  if (id.identity)
    std::cout << "identity: model " << id.identity->modelNumber << ", serial " << id.identity->serialNumber
              << ", version " << id.identity->softwareVersion << ", variant " << id.identity->variantCode
              << ", restriction code " << id.identity->restrictionCode << "\n";
  std::cout << "header groups:\n";
  for (int g = 0; g < kRcdbHeaderGroups; ++g) {
    Bytes bytes;
    tree->GetHeaderGroup(g, &bytes);
    std::cout << Format("  %2d: ", g) << HexString(bytes) << "\n";
  }
  std::cout << "nodes:\n";
  for (const auto& e : tree->Walk()) {
    std::string path = MakePath(e.path.tree, e.path.group, e.path.index, e.path.element).value_or("?");
    std::cout << Format("  %-24s %-12s size %-8zu count %-5d offset 0x%zX%s\n", path.c_str(),
                        KindName(e.info.kind, e.info.recordArray), e.info.size, e.info.count, e.info.dataOffset,
                        e.info.extraTable ? "  extra table" : "");
  }
  return 0;
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
