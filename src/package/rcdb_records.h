// RcdbRecords: the RCDB calls the data carry-over, the validation and the upgrade make, on one
// image opened for the life of the object. Records are addressed as (tree, group, index); an
// index of -1 names the group itself (the plain groups the carry-over edits in place).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "package/rcdb_tree.h"

namespace lw {

// Images from data version 4.05 on keep the header text that older ones keep in header group 1
// as 32 bytes at this offset of the data of root/1/1.
inline constexpr size_t kVersionedHeaderOffset = 560;
inline constexpr size_t kVersionedHeaderSize = 32;

class RcdbRecords {
 public:
  explicit RcdbRecords(std::span<uint8_t> image);

  bool ok() const { return tree_.has_value(); }
  const std::string& error() const { return error_; }
  bool modified() const { return tree_ && tree_->modified(); }
  const RcdbTree* tree() const { return tree_ ? &*tree_ : nullptr; }

  // Records (or elements) of the group; -1 when the image or the group is missing.
  int RecordCount(int tree, int group) const;
  // The data area of the record (of the group for index -1); empty when there is none.
  std::span<uint8_t> Record(int tree, int group, int index) const;
  long long RecordSize(int tree, int group, int index) const;

  // Header groups 1, 2, 3, 4 and 10 can be read; 1, 2, 3, 4, 8, 9 and 10 written. False for
  // any other group, a wrong size or an image that did not open.
  bool GetHeaderGroup(int group, std::vector<uint8_t>* out) const;
  bool SetHeaderGroup(int group, std::span<const uint8_t> bytes);

  // The 32 bytes at offset 560 of root/1/1; false when that node is missing or too short.
  bool GetVersionedHeader(std::vector<uint8_t>* out) const;
  bool SetVersionedHeader(std::span<const uint8_t> bytes);

 private:
  std::string error_;
  std::optional<RcdbTree> tree_;
};

}  // namespace lw
