// Builds RCDB images from a description: the fixtures of the tests, the simulated radio's data
// and the demo (tools/rcdbpack reads the description from a manifest).
//
// Layout the builder writes (any layout RcdbTree accepts would do; this one is compact):
//   header | padding up to `treesAt` | trees | root child table | root extra table
// and for every tree, group and record:
//   node header | data area (children or bytes; its length is the size field)
//   | child table | extra table (4 zero bytes, when flagged)
// Elements of a record or plain group split its data bytes evenly, back to back.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/status.h"
#include "package/radio_identity.h"

namespace lw {

struct RcdbBuildRecord {
  std::vector<uint8_t> data;
  int elements = 0;  // 0 = no elements; else data splits into this many equal elements
  bool extraTable = false;
};

struct RcdbBuildGroup {
  int number = 0;  // 0..2047
  bool recordArray = false;
  std::vector<uint8_t> data;  // plain group: its bytes
  int elements = 0;           // plain group: element count
  std::vector<RcdbBuildRecord> records;  // record array
  bool extraTable = false;
};

struct RcdbBuildTree {
  int number = 0;  // 0..7
  std::vector<RcdbBuildGroup> groups;
  bool extraTable = false;
};

struct RcdbBuildSpec {
  bool wide = false;
  bool rootExtraTable = false;
  int formatNibble = 1;   // high nibble of byte 0 (1 = identifiable)
  int formatKind = 2;     // byte 29 = formatKind - 1 (with byte 6 = 1)
  std::string signature = "A001";  // image bytes 11-14 (digits or upper-case letters)
  uint16_t headerBlockLength = 154;
  std::map<int, std::vector<uint8_t>> headerGroups;  // group number -> bytes (cut or padded)
  // Written at the image's fixed identity places after the header groups (empty texts are
  // skipped; the restriction code is always written).
  std::optional<RadioIdentity> identity;
  size_t treesAt = 0;     // image offset of the first tree; 0 = right after the header
  std::vector<RcdbBuildTree> trees;
};

// The image, or an error when a count or offset does not fit the layout (a narrow image holds
// offsets and sizes below 65536).
Result<std::vector<uint8_t>> BuildRcdbImage(const RcdbBuildSpec& desc);

// The smallest image a radio identity can be read from: one tree with the records the data
// carry-over uses (tree 1 group 1 record 1, tree 2 groups 85 and 93, tree 3 group 91).
RcdbBuildSpec SampleRcdbSpec(const RadioIdentity& identity, bool wide = false);
// The identity of the sample radio (rcdbpack --sample, the demo): a KX412 portable with
// software A5.00.07.000 and serial 1234567890.
RadioIdentity SampleRadioIdentity();

// A record-list image whose identity record carries `identity` (UTF-16 texts).
std::vector<uint8_t> BuildRecordListImage(const RadioIdentity& identity);

}  // namespace lw
