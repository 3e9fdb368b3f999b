// RcdbTree: a navigable node view over a radio configuration database (RCDB) image that the
// caller keeps in memory. The tree never copies image bytes: node data addresses point into
// the caller's buffer, so writing through them changes the image. The buffer must outlive
// the tree and must not be resized while the tree is open.
//
// Image layout (little-endian; "narrow" images use 16-bit offsets and sizes, "wide" ones
// 32-bit, chosen by bit 8 of the first word):
//   0    flags: bit 0 root extra table, bits 1-3 tree count, bit 8 wide
//   2    "RCDB"
//   6    header group 0 (32 bytes)
//   38   root data size (2 or 4 bytes)
//   40/42  header block, 154 bytes: bytes 0-1 its length, 2-149 header groups 1-11
//   +154 offset of the root's child table (from the image start), then the root data area
// Nodes below the root are trees (numbered 0..7), groups (numbered 0..2047; plain groups hold
// elements, record arrays hold records), records (hold elements) and elements (bare bytes).
// A node's size field counts its data area, which starts right after its header; children
// lie at the parent's data area start plus the offset of their child-table entry.
//
// Unlike a bare walker, Open checks every offset, count and size it follows against the
// image length and refuses the whole image when one does not fit: a corrupt image can never
// make a later lookup read or write outside the buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"

namespace lw {

inline constexpr int kRcdbOk = 0;
inline constexpr int kRcdbNoTree = -100;  // kept for callers that hold an optional tree
inline constexpr int kRcdbNoNode = -105;  // the path names no node

inline constexpr int kRcdbMaxTree = 7;
inline constexpr int kRcdbMaxNumber = 2047;
inline constexpr int kRcdbHeaderGroups = 12;     // groups 0..11
inline constexpr size_t kRcdbHeaderBlockSize = 154;

// True for an image that carries the "RCDB" text at bytes 2-5 and digits or upper-case
// letters at bytes 11-14: the test callers make before trusting an image as RCDB data.
bool IsRcdbImage(std::span<const uint8_t> image);

// Where header group `group` (0..11) lies in an image of the given layout, and its size.
struct RcdbFieldPlace {
  size_t offset = 0;
  size_t size = 0;
};
std::optional<RcdbFieldPlace> HeaderGroupPlace(int group, bool wide);
// Byte offsets of the fixed header fields for each layout.
size_t RcdbHeaderBlockOffset(bool wide);    // 40 or 42
size_t RcdbRootTableFieldOffset(bool wide);  // 194 or 196
size_t RcdbRootDataOffset(bool wide);        // 196 or 200

// A node path: "root", then up to four numbers (tree, group, index, element); -1 = absent.
struct RcdbPath {
  int tree = -1;
  int group = -1;
  int index = -1;
  int element = -1;
};

// The path text for the numbers; none when tree is outside -1..7 or another number outside
// -1..2047. A missing tree or group ends the path; index and element are each appended when
// present (so for a plain group, MakePath(t, g, -1, e) names element e).
std::optional<std::string> MakePath(int tree, int group, int index, int element);
// Reads a path text; none for anything that MakePath could not have produced.
std::optional<RcdbPath> ParsePath(std::string_view text);

enum class RcdbNodeKind : uint8_t { Root, Tree, Group, Record, Element };

// What a lookup reports about one node. Offsets are from the image start.
struct RcdbNodeInfo {
  RcdbNodeKind kind = RcdbNodeKind::Root;
  uint32_t word0 = 0;
  size_t offset = 0;      // node start (for an element: its bytes)
  size_t dataOffset = 0;  // start of the data area (for an element: its bytes)
  size_t size = 0;        // size field; for an element parent size / declared element count
  int count = 0;          // children: trees, groups, records or elements
  int number = -1;        // tree or group number; child position for records and elements
  bool recordArray = false;
  bool extraTable = false;  // an extra table follows the child table (located, never read)
  size_t childTableOffset = 0;
};

class RcdbTree {
 public:
  // Builds the node tree over `image`; the error says what did not fit.
  static Result<RcdbTree> Open(std::span<uint8_t> image);
  // Whether Open would succeed, for a caller that only reads.
  static Status Check(std::span<const uint8_t> image);

  bool wide() const { return wide_; }
  bool modified() const { return modified_; }
  std::span<uint8_t> image() const { return image_; }

  std::optional<RcdbNodeInfo> FindNode(const RcdbPath& path) const;
  std::optional<RcdbNodeInfo> FindNode(std::string_view path) const;
  // -1 when the path names no node.
  long long NodeSize(std::string_view path) const;
  int NodeCount(std::string_view path) const;
  // kRcdbOk and the data address of the node, or kRcdbNoNode.
  int NodeData(std::string_view path, uint8_t** data) const;
  // The node's data area as a span of `size` bytes (empty when the path names no node).
  std::span<uint8_t> NodeBytes(const RcdbPath& path) const;

  // Header groups 0..11; kRcdbOk, or kRcdbNoNode for a group number outside the table.
  // Get copies the group's bytes; Set writes `input` (exactly the group's size) into the
  // image and marks the tree modified. Group 11 overlaps group 10.
  int GetHeaderGroup(int group, std::vector<uint8_t>* output) const;
  int SetHeaderGroup(int group, std::span<const uint8_t> input);

  // 38 + the header block length (its bytes 0-1) + 4 + NodeSize(root/1) + NodeSize(root/2),
  // each missing tree counting 0.
  long long TotalLength() const;

  // Every node in depth-first order with its path (the order of the image's child tables).
  struct Entry {
    RcdbPath path;
    RcdbNodeInfo info;
  };
  std::vector<Entry> Walk() const;

 private:
  struct Node {
    uint32_t word0 = 0;
    uint32_t offset = 0;
    uint32_t data = 0;
    uint32_t size = 0;
    uint32_t firstChild = 0;  // children are stored consecutively
    uint32_t table = 0;
    uint16_t childCount = 0;
    uint16_t number = 0;
    RcdbNodeKind kind = RcdbNodeKind::Root;
    bool recordArray = false;
    bool extraTable = false;
  };
  class Builder;

  RcdbTree() = default;
  RcdbNodeInfo Info(uint32_t index) const;
  std::optional<uint32_t> Locate(const RcdbPath& path) const;
  const Node* Child(const Node& parent, int position) const;

  std::span<uint8_t> image_;
  bool wide_ = false;
  bool modified_ = false;
  std::vector<Node> nodes_;  // nodes_[0] is the root
};

}  // namespace lw
