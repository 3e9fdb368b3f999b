#include "conversion/rcdb_conversion.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "engine/data_validation.h"
#include "package/radio_identity.h"
#include "package/rcdb_records.h"
#include "package/rcdb_tree.h"

namespace lw::conversion {
namespace {

// A unit is what the conversion moves: the data of a record, or of a plain group.
bool IsUnit(const RcdbNodeInfo& info) {
  return info.kind == RcdbNodeKind::Record || (info.kind == RcdbNodeKind::Group && !info.recordArray);
}

Result<RcdbTree> OpenImage(std::span<const uint8_t> data) {
  if (!IsRcdbImage(data) || IsUnidentifiableKind(RcdbFormatKind(data))) return Status::Error("not RCDB data");
  // The old data are only read.
  return RcdbTree::Open(std::span<uint8_t>(const_cast<uint8_t*>(data.data()), data.size()));
}

void CopyBytes(std::span<uint8_t> to, std::span<const uint8_t> from, ConversionCounts& counts) {
  const size_t n = std::min(to.size(), from.size());
  if (n > 0) std::memmove(to.data(), from.data(), n);
  if (from.size() < to.size())
    ++counts.padded;
  else if (from.size() > to.size())
    ++counts.truncated;
  else
    ++counts.copied;
}

std::span<uint8_t> DataOf(const RcdbTree& tree, const RcdbNodeInfo& info) {
  return tree.image().subspan(info.dataOffset, info.size);
}

// The path of element `k` of a unit: records name it as the fourth number, plain groups as
// the third.
RcdbPath ElementPath(RcdbPath unit, const RcdbNodeInfo& info, int k) {
  if (info.kind == RcdbNodeKind::Record)
    unit.element = k;
  else
    unit.index = k;
  return unit;
}

void MoveUnit(const RcdbTree& to, const RcdbTree& from, const RcdbPath& path, const RcdbNodeInfo& newInfo,
              const RcdbNodeInfo& oldInfo, ConversionCounts& counts) {
  if (newInfo.count > 0 && oldInfo.count > 0) {
    // Both split into elements: element by element, so that a field keeps its place in its
    // element even when the elements grew or shrank.
    const int common = std::min(newInfo.count, oldInfo.count);
    for (int k = 0; k < common; ++k) {
      auto n = to.FindNode(ElementPath(path, newInfo, k));
      auto o = from.FindNode(ElementPath(path, oldInfo, k));
      if (n && o) CopyBytes(DataOf(to, *n), DataOf(from, *o), counts);
    }
    counts.dropped += std::max(0, oldInfo.count - common);
    counts.kept += std::max(0, newInfo.count - common);
    return;
  }
  CopyBytes(DataOf(to, newInfo), DataOf(from, oldInfo), counts);
}

}  // namespace

bool ConvertRcdbData(std::span<uint8_t> image, std::span<const uint8_t> old, ConversionCounts* countsOut) {
  auto to = OpenImage(image);
  auto from = OpenImage(old);
  if (!to || !from) return false;
  ConversionCounts counts;

  // The header text area of root/1/1 belongs to the head-information step, which has already
  // written the radio's header fields into the new image: keep what it wrote.
  std::optional<std::array<uint8_t, kVersionedHeaderSize>> headerText;
  std::span<uint8_t> headerRecord = to->NodeBytes(RcdbPath{1, 1});
  if (headerRecord.size() >= kVersionedHeaderOffset + kVersionedHeaderSize) {
    headerText.emplace();
    std::memcpy(headerText->data(), headerRecord.data() + kVersionedHeaderOffset, kVersionedHeaderSize);
  }

  for (const RcdbTree::Entry& entry : to->Walk()) {
    if (!IsUnit(entry.info)) continue;
    auto oldInfo = from->FindNode(entry.path);
    if (!oldInfo || oldInfo->kind != entry.info.kind || oldInfo->recordArray != entry.info.recordArray) {
      ++counts.kept;
      continue;
    }
    MoveUnit(*to, *from, entry.path, entry.info, *oldInfo, counts);
  }
  for (const RcdbTree::Entry& entry : from->Walk()) {
    if (!IsUnit(entry.info)) continue;
    auto newInfo = to->FindNode(entry.path);
    if (!newInfo || newInfo->kind != entry.info.kind || newInfo->recordArray != entry.info.recordArray)
      ++counts.dropped;
  }

  if (headerText) std::memcpy(headerRecord.data() + kVersionedHeaderOffset, headerText->data(), kVersionedHeaderSize);
  SealRcdbData(image);
  if (countsOut) *countsOut = counts;
  return true;
}

}  // namespace lw::conversion
