#include "package/rcdb_records.h"

#include <algorithm>

namespace lw {
namespace {
bool Readable(int group) { return (group >= 1 && group <= 4) || group == 10; }
bool Writable(int group) { return Readable(group) || group == 8 || group == 9; }
}  // namespace

RcdbRecords::RcdbRecords(std::span<uint8_t> image) {
  Result<RcdbTree> tree = RcdbTree::Open(image);
  if (tree.ok()) {
    tree_ = std::move(tree).value();
  } else {
    error_ = tree.status().message();
  }
}

int RcdbRecords::RecordCount(int tree, int group) const {
  if (!tree_ || group < 0) return -1;
  auto node = tree_->FindNode(RcdbPath{tree, group});
  return node ? node->count : -1;
}

std::span<uint8_t> RcdbRecords::Record(int tree, int group, int index) const {
  if (!tree_ || tree < 0 || group < 0) return {};
  return tree_->NodeBytes(RcdbPath{tree, group, index});
}

long long RcdbRecords::RecordSize(int tree, int group, int index) const {
  if (!tree_ || tree < 0 || group < 0) return -1;
  auto node = tree_->FindNode(RcdbPath{tree, group, index});
  return node ? (long long)node->size : -1;
}

bool RcdbRecords::GetHeaderGroup(int group, std::vector<uint8_t>* out) const {
  return tree_ && Readable(group) && tree_->GetHeaderGroup(group, out) == kRcdbOk;
}

bool RcdbRecords::SetHeaderGroup(int group, std::span<const uint8_t> bytes) {
  return tree_ && Writable(group) && tree_->SetHeaderGroup(group, bytes) == kRcdbOk;
}

bool RcdbRecords::GetVersionedHeader(std::vector<uint8_t>* out) const {
  auto data = Record(1, 1, -1);
  if (data.size() < kVersionedHeaderOffset + kVersionedHeaderSize) return false;
  auto field = data.subspan(kVersionedHeaderOffset, kVersionedHeaderSize);
  out->assign(field.begin(), field.end());
  return true;
}

bool RcdbRecords::SetVersionedHeader(std::span<const uint8_t> bytes) {
  auto data = Record(1, 1, -1);
  if (bytes.size() != kVersionedHeaderSize || data.size() < kVersionedHeaderOffset + kVersionedHeaderSize)
    return false;
  std::copy(bytes.begin(), bytes.end(), data.begin() + long(kVersionedHeaderOffset));
  return true;
}

}  // namespace lw
