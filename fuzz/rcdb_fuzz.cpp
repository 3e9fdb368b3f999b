// RCDB tree: open any image, then walk every node and look each one up by its path; every node
// must lie inside the image. Also reads the identity the way the upgrade does.
#include <cstdint>
#include <vector>

#include "package/radio_identity.h"
#include "package/rcdb_records.h"
#include "package/rcdb_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image(data, data + size);
  lw::ReadIdentityFromImage(image);
  auto tree = lw::RcdbTree::Open(image);
  if (!tree) return 0;
  for (const auto& entry : tree->Walk()) {
    if (entry.info.dataOffset > size || entry.info.size > size - entry.info.dataOffset) __builtin_trap();
    auto path = lw::MakePath(entry.path.tree, entry.path.group, entry.path.index, entry.path.element);
    if (!path) continue;
    // Lookups take the first tree or group of a number, so a path may find another node than
    // the walk's (or none, when numbers repeat); whatever it finds lies inside the image.
    auto found = tree->FindNode(*path);
    if (found && (found->dataOffset > size || found->size > size - found->dataOffset)) __builtin_trap();
    auto bytes = tree->NodeBytes(entry.path);
    // Touch every byte of the node so the sanitizer sees any read outside the image.
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    if (sum > 255u * size) __builtin_trap();
    tree->NodeCount(*path);
  }
  std::vector<uint8_t> group;
  for (int g = 0; g < lw::kRcdbHeaderGroups; ++g) tree->GetHeaderGroup(g, &group);
  tree->TotalLength();
  lw::RcdbRecords records(image);
  records.GetVersionedHeader(&group);
  records.SetVersionedHeader(std::vector<uint8_t>(32, 0xAB));
  return 0;
}
