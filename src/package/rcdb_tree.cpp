#include "package/rcdb_tree.h"

#include <array>
#include <cstring>
#include <limits>

#include "common/bytes.h"
#include "common/text.h"

namespace lw {
namespace {

// Node header lengths (up to the data area) and child-table entry sizes, narrow / wide.
constexpr size_t kTreeHeader[2] = {16, 20};
constexpr size_t kGroupHeader[2] = {18, 22};
constexpr size_t kRecordHeader[2] = {10, 14};
constexpr size_t kRootEntry[2] = {3, 5};
constexpr size_t kChildEntry[2] = {4, 6};

// Offsets of header groups 1..11 within the header block, and their sizes.
constexpr RcdbFieldPlace kGroupPlaces[kRcdbHeaderGroups] = {
    {0, 32},   {2, 16},   {18, 32},  {50, 16}, {66, 16}, {82, 16},
    {98, 4},   {102, 4},  {106, 6},  {112, 6}, {118, 4}, {118, 32},
};

bool IsDigitOrUpper(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); }

std::optional<int> ParseNumber(std::string_view text, int max) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

}  // namespace

bool IsRcdbImage(std::span<const uint8_t> image) {
  if (image.size() < 15 || std::memcmp(image.data() + 2, "RCDB", 4) != 0) return false;
  for (size_t i = 11; i <= 14; ++i)
    if (!IsDigitOrUpper(image[i])) return false;
  return true;
}

size_t RcdbHeaderBlockOffset(bool wide) { return wide ? 42 : 40; }
size_t RcdbRootTableFieldOffset(bool wide) { return RcdbHeaderBlockOffset(wide) + kRcdbHeaderBlockSize; }
size_t RcdbRootDataOffset(bool wide) { return RcdbRootTableFieldOffset(wide) + (wide ? 4 : 2); }

std::optional<RcdbFieldPlace> HeaderGroupPlace(int group, bool wide) {
  if (group < 0 || group >= kRcdbHeaderGroups) return std::nullopt;
  RcdbFieldPlace place = kGroupPlaces[group];
  if (group == 0) place.offset = 6;
  else place.offset += RcdbHeaderBlockOffset(wide);
  return place;
}

std::optional<std::string> MakePath(int tree, int group, int index, int element) {
  if (tree < -1 || tree > kRcdbMaxTree) return std::nullopt;
  for (int n : {group, index, element})
    if (n < -1 || n > kRcdbMaxNumber) return std::nullopt;
  std::string path = "root";
  auto append = [&path](int n) {
    path += '/';
    path += std::to_string(n);
  };
  if (tree == -1) return path;
  append(tree);
  if (group == -1) return path;
  append(group);
  if (index != -1) append(index);
  if (element != -1) append(element);
  return path;
}

std::optional<RcdbPath> ParsePath(std::string_view text) {
  std::vector<std::string> parts = Split(text, '/');
  if (parts.empty() || parts[0] != "root" || parts.size() > 5) return std::nullopt;
  RcdbPath path;
  int* slots[4] = {&path.tree, &path.group, &path.index, &path.element};
  for (size_t i = 1; i < parts.size(); ++i) {
    auto n = ParseNumber(parts[i], i == 1 ? kRcdbMaxTree : kRcdbMaxNumber);
    if (!n) return std::nullopt;
    *slots[i - 1] = *n;
  }
  return path;
}

// Builds the node table with every offset checked. Children of one node are appended in one
// run before any of them is expanded, so each node's children are consecutive.
class RcdbTree::Builder {
 public:
  explicit Builder(RcdbTree& tree) : t_(tree) {
    // A sound image spends at least three bytes of child table per node, so more child
    // entries than that is a table pointing at itself over and over: refuse it before it
    // costs memory.
    budget_ = t_.image_.size() / 3 + 16;
  }

  bool Run() {
    auto img = t_.image_;
    if (img.size() > std::numeric_limits<uint32_t>::max()) return Fail("image larger than 4 GB");
    auto flags = ReadLe32(img, 0);
    if (!flags) return Fail("image shorter than its header");
    t_.wide_ = (*flags >> 8) & 1;
    w_ = t_.wide_ ? 1 : 0;
    size_t dataStart = RcdbRootDataOffset(t_.wide_);
    if (img.size() < dataStart) return Fail("image shorter than its header");
    uint64_t rootSize = Field(38);
    if (!InBounds(img.size(), dataStart, rootSize)) return Fail("root data size runs past the end");
    Node root;
    root.kind = RcdbNodeKind::Root;
    root.word0 = *flags;
    root.offset = 0;
    root.data = uint32_t(dataStart);
    root.size = uint32_t(rootSize);
    root.extraTable = *flags & 1;
    root.table = uint32_t(Field(RcdbRootTableFieldOffset(t_.wide_)));
    root.childCount = uint16_t((*flags >> 1) & 7);
    t_.nodes_.push_back(root);
    return Expand(0, {}, 0);
  }
  const std::string& error() const { return error_; }

 private:
  uint64_t Field(uint64_t offset) const {  // a size or offset field, caller checked bounds
    const uint8_t* p = t_.image_.data() + offset;
    return w_ ? Le32(p) : Le16(p);
  }

  bool Fail(const std::string& what) {
    error_ = what;
    return false;
  }

  // Positions of the child-table entries that lead to a node, for the error text.
  using Trail = std::array<uint32_t, 4>;
  bool Fail(const Trail& trail, int depth, const std::string& what) {
    static const char* const kLevel[4] = {"tree", "group", "record", "element"};
    std::string where("root");
    for (int i = 0; i < depth; ++i) where.append(Format(", %s entry %u", kLevel[i], trail[size_t(i)]));
    where.append(": ").append(what);
    return Fail(where);
  }

  bool Expand(uint32_t index, Trail trail, int depth) {
    Node parent = t_.nodes_[index];
    if (parent.kind == RcdbNodeKind::Element || parent.childCount == 0) return true;
    auto img = t_.image_;
    size_t entrySize = parent.kind == RcdbNodeKind::Root ? kRootEntry[w_] : kChildEntry[w_];
    size_t offsetAt = parent.kind == RcdbNodeKind::Root ? 1 : 2;
    if (!InBounds(img.size(), parent.table, uint64_t(parent.childCount) * entrySize))
      return Fail(trail, depth, "child table runs past the end");
    if (parent.childCount > budget_) return Fail(trail, depth, "more nodes than the image can hold");
    budget_ -= parent.childCount;

    uint32_t first = uint32_t(t_.nodes_.size());
    t_.nodes_[index].firstChild = first;
    for (uint32_t i = 0; i < parent.childCount; ++i) {
      uint64_t at = parent.table + uint64_t(i) * entrySize + offsetAt;
      uint64_t start = uint64_t(parent.data) + Field(at);
      Trail here = trail;
      here[size_t(depth)] = i;
      Node child;
      child.number = uint16_t(i);
      switch (parent.kind) {
        case RcdbNodeKind::Root:
          if (!Container(start, RcdbNodeKind::Tree, kTreeHeader[w_], 12, child, here, depth + 1)) return false;
          child.number = uint16_t((child.word0 >> 5) & 7);
          child.childCount = uint16_t((child.word0 >> 16) & 0x7FF);
          child.extraTable = child.word0 & 1;
          break;
        case RcdbNodeKind::Tree:
          if (!Container(start, RcdbNodeKind::Group, kGroupHeader[w_], 14, child, here, depth + 1)) return false;
          child.number = uint16_t(child.word0 & 0x7FF);
          child.childCount = uint16_t(*ReadLe32(img, start + 4) & 0x7FF);
          child.recordArray = (child.word0 >> 31) & 1;
          child.extraTable = (child.word0 >> 15) & 1;
          break;
        case RcdbNodeKind::Group:
          if (parent.recordArray) {
            if (!Container(start, RcdbNodeKind::Record, kRecordHeader[w_], 6, child, here, depth + 1)) return false;
            child.childCount = uint16_t(*ReadLe16(img, start + 4) & 0x7FF);
            child.extraTable = (child.word0 >> 15) & 1;
            break;
          }
          [[fallthrough]];
        case RcdbNodeKind::Record: {
          child.kind = RcdbNodeKind::Element;
          uint32_t declared = (parent.word0 >> 16) & 0x7FF;
          // A parent that declares no element count gives empty elements rather than a
          // division by zero.
          uint64_t size = declared ? parent.size / declared : 0;
          if (!InBounds(img.size(), start, size)) return Fail(here, depth + 1, "element runs past the end");
          child.offset = child.data = uint32_t(start);
          child.size = uint32_t(size);
          break;
        }
        case RcdbNodeKind::Element:
          break;
      }
      t_.nodes_.push_back(child);
    }
    for (uint32_t i = 0; i < parent.childCount; ++i) {
      Trail here = trail;
      here[size_t(depth)] = i;
      if (!Expand(first + i, here, depth + 1)) return false;
    }
    return true;
  }

  // A node with a header, a size field at `sizeAt` followed by its child-table offset.
  bool Container(uint64_t start, RcdbNodeKind kind, size_t header, size_t sizeAt, Node& node,
                 const Trail& where, int depth) {
    auto img = t_.image_;
    if (!InBounds(img.size(), start, header)) return Fail(where, depth, "node header runs past the end");
    node.kind = kind;
    node.word0 = Le32(img.data() + start);
    node.offset = uint32_t(start);
    node.data = uint32_t(start + header);
    uint64_t size = Field(start + sizeAt);
    if (!InBounds(img.size(), node.data, size)) return Fail(where, depth, "node size runs past the end");
    node.size = uint32_t(size);
    uint64_t table = start + Field(start + sizeAt + (w_ ? 4 : 2));
    if (table > img.size()) return Fail(where, depth, "child table outside the image");
    node.table = uint32_t(table);
    return true;
  }

  RcdbTree& t_;
  std::string error_;
  int w_ = 0;
  size_t budget_ = 0;
};

Result<RcdbTree> RcdbTree::Open(std::span<uint8_t> image) {
  RcdbTree tree;
  tree.image_ = image;
  Builder builder(tree);
  if (!builder.Run()) return Status::Error(builder.error());
  return tree;
}

Status RcdbTree::Check(std::span<const uint8_t> image) {
  // Open only reads the image; the tree is dropped before anyone could write through it.
  std::span<uint8_t> view(const_cast<uint8_t*>(image.data()), image.size());
  return Open(view).status();
}

const RcdbTree::Node* RcdbTree::Child(const Node& parent, int position) const {
  if (position < 0 || position >= parent.childCount) return nullptr;
  return &nodes_[parent.firstChild + uint32_t(position)];
}

std::optional<uint32_t> RcdbTree::Locate(const RcdbPath& path) const {
  const Node& root = nodes_[0];
  if (path.tree < 0) return 0;
  auto findNumbered = [this](const Node& parent, int number, uint32_t mask, int shift) -> std::optional<uint32_t> {
    for (uint32_t i = 0; i < parent.childCount; ++i) {
      const Node& c = nodes_[parent.firstChild + i];
      if (int((c.word0 >> shift) & mask) == number) return parent.firstChild + i;
    }
    return std::nullopt;
  };
  auto tree = findNumbered(root, path.tree, 7, 5);
  if (!tree || path.group < 0) return tree;
  auto group = findNumbered(nodes_[*tree], path.group, 0x7FF, 0);
  if (!group || path.index < 0) return group;
  const Node& g = nodes_[*group];
  const Node* item = Child(g, path.index);
  if (!item) return std::nullopt;
  if (g.recordArray && path.element >= 0) {
    item = Child(*item, path.element);
    if (!item) return std::nullopt;
  }
  return uint32_t(item - nodes_.data());
}

RcdbNodeInfo RcdbTree::Info(uint32_t index) const {
  const Node& n = nodes_[index];
  RcdbNodeInfo info;
  info.kind = n.kind;
  info.word0 = n.word0;
  info.offset = n.offset;
  info.dataOffset = n.data;
  info.size = n.size;
  info.count = n.childCount;
  info.number = n.number;
  info.recordArray = n.recordArray;
  info.extraTable = n.extraTable;
  info.childTableOffset = n.table;
  return info;
}

std::optional<RcdbNodeInfo> RcdbTree::FindNode(const RcdbPath& path) const {
  auto index = Locate(path);
  if (!index) return std::nullopt;
  return Info(*index);
}

std::optional<RcdbNodeInfo> RcdbTree::FindNode(std::string_view path) const {
  auto parsed = ParsePath(path);
  if (!parsed) return std::nullopt;
  return FindNode(*parsed);
}

long long RcdbTree::NodeSize(std::string_view path) const {
  auto node = FindNode(path);
  return node ? (long long)node->size : -1;
}

int RcdbTree::NodeCount(std::string_view path) const {
  auto node = FindNode(path);
  return node ? node->count : -1;
}

int RcdbTree::NodeData(std::string_view path, uint8_t** data) const {
  auto node = FindNode(path);
  if (!node) return kRcdbNoNode;
  if (data) *data = image_.data() + node->dataOffset;
  return kRcdbOk;
}

std::span<uint8_t> RcdbTree::NodeBytes(const RcdbPath& path) const {
  auto node = FindNode(path);
  if (!node) return {};
  return image_.subspan(node->dataOffset, node->size);
}

int RcdbTree::GetHeaderGroup(int group, std::vector<uint8_t>* output) const {
  auto place = HeaderGroupPlace(group, wide_);
  if (!place) return kRcdbNoNode;
  if (output) output->assign(image_.begin() + long(place->offset), image_.begin() + long(place->offset + place->size));
  return kRcdbOk;
}

int RcdbTree::SetHeaderGroup(int group, std::span<const uint8_t> input) {
  auto place = HeaderGroupPlace(group, wide_);
  if (!place || input.size() != place->size) return kRcdbNoNode;
  std::memcpy(image_.data() + place->offset, input.data(), place->size);
  modified_ = true;
  return kRcdbOk;
}

long long RcdbTree::TotalLength() const {
  long long length = 38 + Le16(image_.data() + RcdbHeaderBlockOffset(wide_)) + 4;
  for (const char* tree : {"root/1", "root/2"}) {
    long long size = NodeSize(tree);
    if (size > 0) length += size;
  }
  return length;
}

std::vector<RcdbTree::Entry> RcdbTree::Walk() const {
  std::vector<Entry> out;
  out.reserve(nodes_.size());
  out.push_back({RcdbPath{}, Info(0)});
  const Node& root = nodes_[0];
  for (uint32_t t = 0; t < root.childCount; ++t) {
    uint32_t ti = root.firstChild + t;
    const Node& tree = nodes_[ti];
    RcdbPath tp{int(tree.number)};
    out.push_back({tp, Info(ti)});
    for (uint32_t g = 0; g < tree.childCount; ++g) {
      uint32_t gi = tree.firstChild + g;
      const Node& group = nodes_[gi];
      RcdbPath gp = tp;
      gp.group = group.number;
      out.push_back({gp, Info(gi)});
      for (uint32_t r = 0; r < group.childCount; ++r) {
        uint32_t ri = group.firstChild + r;
        RcdbPath rp = gp;
        rp.index = int(r);
        out.push_back({rp, Info(ri)});
        const Node& record = nodes_[ri];
        if (record.kind != RcdbNodeKind::Record) continue;
        for (uint32_t e = 0; e < record.childCount; ++e) {
          RcdbPath ep = rp;
          ep.element = int(e);
          out.push_back({ep, Info(record.firstChild + e)});
        }
      }
    }
  }
  return out;
}

}  // namespace lw
