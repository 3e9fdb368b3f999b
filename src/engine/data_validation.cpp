#include "engine/data_validation.h"

#include <array>

#include "common/bytes.h"
#include "engine/md5.h"
#include "package/radio_identity.h"
#include "package/rcdb_tree.h"

namespace lw {
namespace {

// 16 bytes of key, made from a small generator and folded through MD5, so that the key itself
// never stands in the binary.
const Md5Digest& SealKey() {
  static const Md5Digest key = [] {
    uint32_t x = 0x4C57u * 0x10001u + 0x3106u;
    Md5 md5;
    for (int i = 0; i < 48; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      uint8_t word[4];
      PutLe32(word, x + uint32_t(i) * 0x9E3779B9u);
      md5.Update(word, sizeof word);
    }
    return md5.Finish();
  }();
  return key;
}

size_t SealOffset(bool wide) { return RcdbHeaderBlockOffset(wide) + kSealOffsetInHeaderBlock; }

Result<RcdbTree> OpenForReading(std::span<const uint8_t> data) {
  if (!IsRcdbImage(data)) return Status::Error("not RCDB data");
  // The tree only reads the image here; Open takes a writable span because it also serves
  // callers that edit records.
  return RcdbTree::Open(std::span<uint8_t>(const_cast<uint8_t*>(data.data()), data.size()));
}

uint32_t SealOf(const RcdbTree& tree, std::span<const uint8_t> data) {
  Md5 md5;
  md5.Update(SealKey().data(), SealKey().size());
  const size_t headerEnd = RcdbRootDataOffset(tree.wide());
  const size_t seal = SealOffset(tree.wide());
  md5.Update(data.data(), seal);
  const uint8_t zeros[kSealSize] = {};
  md5.Update(zeros, kSealSize);
  md5.Update(data.data() + seal + kSealSize, headerEnd - seal - kSealSize);
  for (const RcdbTree::Entry& e : tree.Walk()) {
    uint8_t item[25];
    PutLe16(item, uint16_t(e.path.tree));
    PutLe16(item + 2, uint16_t(e.path.group));
    PutLe16(item + 4, uint16_t(e.path.index));
    PutLe16(item + 6, uint16_t(e.path.element));
    item[8] = uint8_t(e.info.kind);
    PutLe32(item + 9, e.info.word0);
    PutLe32(item + 13, uint32_t(e.info.size));
    PutLe32(item + 17, uint32_t(e.info.count));
    PutLe32(item + 21, e.info.recordArray ? 1u : 0u);
    md5.Update(item, sizeof item);
  }
  return Le32(md5.Finish().data());
}

}  // namespace

std::optional<uint32_t> ComputeRcdbSeal(std::span<const uint8_t> data) {
  auto tree = OpenForReading(data);
  if (!tree) return std::nullopt;
  return SealOf(*tree, data);
}

bool SealRcdbData(std::span<uint8_t> data) {
  auto seal = ComputeRcdbSeal(data);
  if (!seal) return false;
  PutLe32(data.data() + SealOffset((Le16(data.data()) & 0x100) != 0), *seal);
  return true;
}

Status ValidateConvertedData(std::span<const uint8_t> data) {
  auto fail = [](const char* text) { return Status::Error(text); };
  if (!IsRcdbImage(data)) return fail("not RCDB data");
  if (IsUnidentifiableKind(RcdbFormatKind(data))) return fail("unidentifiable RCDB format");
  auto tree = OpenForReading(data);
  if (!tree) return fail("the RCDB tree does not fit the data");
  if (tree->NodeCount("root") < 1) return fail("no tree in the data");
  const long long total = tree->TotalLength();
  if (total < 0 || uint64_t(total) > data.size()) return fail("declared length runs past the data");
  const uint32_t stored = Le32(data.data() + SealOffset(tree->wide()));
  if (stored != SealOf(*tree, data)) return fail("seal does not match");
  return Status::Ok();
}

}  // namespace lw
