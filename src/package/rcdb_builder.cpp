#include "package/rcdb_builder.h"

#include <algorithm>

#include "common/bytes.h"
#include "common/text.h"
#include "package/rcdb_tree.h"
#include "package/record_list.h"

namespace lw {
namespace {

using Blob = std::vector<uint8_t>;

class Writer {
 public:
  explicit Writer(bool wide) : wide_(wide) {}
  std::string error;

  // Appends a size or offset field of the layout's width; refuses what a narrow field cannot hold.
  bool Field(Blob& out, size_t at, uint64_t value, const char* what) {
    if (value > (wide_ ? 0xFFFFFFFFull : 0xFFFFull)) {
      error = Format("%s %llu does not fit a %s image", what, (unsigned long long)value, wide_ ? "wide" : "narrow");
      return false;
    }
    if (wide_) PutLe32(out.data() + at, uint32_t(value));
    else PutLe16(out.data() + at, uint16_t(value));
    return true;
  }

  // header | data | child table (entries of `lead` zero bytes + offset) | extra table.
  std::optional<Blob> Node(size_t header, size_t sizeAt, uint32_t word0, const Blob& data,
                           const std::vector<size_t>& childOffsets, bool extra) {
    Blob out(header, 0);
    PutLe32(out.data(), word0);
    if (!Field(out, sizeAt, data.size(), "node size")) return std::nullopt;
    size_t table = header + data.size();
    if (!Field(out, sizeAt + (wide_ ? 4 : 2), table, "child table offset")) return std::nullopt;
    out.insert(out.end(), data.begin(), data.end());
    size_t entry = wide_ ? 6 : 4;
    for (size_t off : childOffsets) {
      Blob e(entry, 0);
      if (!Field(e, 2, off, "child offset")) return std::nullopt;
      out.insert(out.end(), e.begin(), e.end());
    }
    if (extra) out.insert(out.end(), 4, 0);
    return out;
  }

  std::vector<size_t> Elements(size_t bytes, int count) {
    std::vector<size_t> offsets;
    size_t each = count > 0 ? bytes / size_t(count) : 0;
    for (int i = 0; i < count; ++i) offsets.push_back(size_t(i) * each);
    return offsets;
  }

  std::optional<Blob> Record(const RcdbBuildRecord& r) {
    if (r.elements < 0 || r.elements > kRcdbMaxNumber) return Bad("record element count out of range");
    uint32_t word0 = (r.extraTable ? 1u << 15 : 0) | (uint32_t(r.elements) << 16);
    auto blob = Node(wide_ ? 14 : 10, 6, word0, r.data, Elements(r.data.size(), r.elements), r.extraTable);
    if (blob) PutLe16(blob->data() + 4, uint16_t(r.elements));
    return blob;
  }

  std::optional<Blob> Group(const RcdbBuildGroup& g) {
    if (g.number < 0 || g.number > kRcdbMaxNumber) return Bad("group number out of range");
    Blob data;
    std::vector<size_t> offsets;
    uint32_t count;
    if (g.recordArray) {
      if (g.records.size() > size_t(kRcdbMaxNumber)) return Bad("too many records in a group");
      for (const auto& r : g.records) {
        auto blob = Record(r);
        if (!blob) return std::nullopt;
        offsets.push_back(data.size());
        data.insert(data.end(), blob->begin(), blob->end());
      }
      count = uint32_t(g.records.size());
    } else {
      if (g.elements < 0 || g.elements > kRcdbMaxNumber) return Bad("group element count out of range");
      data = g.data;
      offsets = Elements(data.size(), g.elements);
      count = uint32_t(g.elements);
    }
    uint32_t word0 = uint32_t(g.number) | (g.extraTable ? 1u << 15 : 0) | (g.recordArray ? 1u << 31 : 0) |
                     (g.recordArray ? 0 : uint32_t(g.elements) << 16);
    auto blob = Node(wide_ ? 22 : 18, 14, word0, data, offsets, g.extraTable);
    if (blob) PutLe32(blob->data() + 4, count);
    return blob;
  }

  std::optional<Blob> Tree(const RcdbBuildTree& t) {
    if (t.number < 0 || t.number > kRcdbMaxTree) return Bad("tree number out of range");
    if (t.groups.size() > size_t(kRcdbMaxNumber)) return Bad("too many groups in a tree");
    Blob data;
    std::vector<size_t> offsets;
    for (const auto& g : t.groups) {
      auto blob = Group(g);
      if (!blob) return std::nullopt;
      offsets.push_back(data.size());
      data.insert(data.end(), blob->begin(), blob->end());
    }
    uint32_t word0 = (t.extraTable ? 1u : 0) | (uint32_t(t.number) << 5) | (uint32_t(t.groups.size()) << 16);
    return Node(wide_ ? 20 : 16, 12, word0, data, offsets, t.extraTable);
  }

  std::nullopt_t Bad(const std::string& what) {
    error = what;
    return std::nullopt;
  }

 private:
  bool wide_;
};

// Texts are written only when given, so an empty identity field leaves a header group that
// shares its bytes as the description set it.
void PutText(Blob& image, size_t at, size_t width, const std::string& text) {
  if (text.empty()) return;
  PutFixedText(image.data() + at, width, text.substr(0, width - 1));
}

}  // namespace

Result<std::vector<uint8_t>> BuildRcdbImage(const RcdbBuildSpec& desc) {
  auto fail = [](const std::string& what) { return Status::Error(what); };
  if (desc.trees.size() > 7) return fail("an image holds at most 7 trees");
  Writer w(desc.wide);
  const size_t dataStart = RcdbRootDataOffset(desc.wide);
  Blob image(dataStart, 0);

  bool packageText = desc.identity && !desc.identity->packageCheckText.empty();
  size_t treesAt = std::max(desc.treesAt, dataStart);
  if (packageText) treesAt = std::max(treesAt, kImagePackageTextAt + kImagePackageTextBytes);
  image.resize(treesAt, 0);

  std::vector<size_t> treeOffsets;
  for (const auto& t : desc.trees) {
    auto blob = w.Tree(t);
    if (!blob) return fail(w.error);
    treeOffsets.push_back(image.size() - dataStart);
    image.insert(image.end(), blob->begin(), blob->end());
  }
  size_t table = image.size();
  for (size_t i = 0; i < treeOffsets.size(); ++i) {
    Blob entry(desc.wide ? 5 : 3, 0);
    entry[0] = uint8_t(desc.trees[i].number);
    if (!w.Field(entry, 1, treeOffsets[i], "tree offset")) return fail(w.error);
    image.insert(image.end(), entry.begin(), entry.end());
  }
  if (desc.rootExtraTable) image.insert(image.end(), 4, 0);
  if (!w.Field(image, RcdbRootTableFieldOffset(desc.wide), table, "root child table offset") ||
      !w.Field(image, 38, image.size() - dataStart, "root data size"))
    return fail(w.error);

  // Fixed header: flags, "RCDB", the header block length and the header groups.
  uint16_t flags = uint16_t((desc.rootExtraTable ? 1 : 0) | (desc.trees.size() << 1) |
                            ((desc.formatNibble & 0xF) << 4) | (desc.wide ? 0x100 : 0));
  PutLe16(image.data(), flags);
  std::copy_n("RCDB", 4, image.begin() + 2);
  PutLe16(image.data() + RcdbHeaderBlockOffset(desc.wide), desc.headerBlockLength);
  if (!desc.headerGroups.count(0)) {
    image[6] = 1;
    PutText(image, 11, 5, desc.signature);
    image[kImageFormatByteAt] = uint8_t(desc.formatKind - 1);
  }
  for (const auto& [group, bytes] : desc.headerGroups) {
    auto place = HeaderGroupPlace(group, desc.wide);
    if (!place) return fail(Format("no header group %d", group));
    std::fill_n(image.begin() + long(place->offset), place->size, 0);
    std::copy_n(bytes.begin(), std::min(bytes.size(), place->size), image.begin() + long(place->offset));
  }
  if (desc.identity) {
    const RadioIdentity& id = *desc.identity;
    PutText(image, kImageModelAt, kImageModelWidth, id.modelNumber);
    PutText(image, kImageSerialAt, kImageSerialWidth, id.serialNumber);
    PutText(image, kImageVersionAt, kImageVersionWidth, id.softwareVersion);
    PutText(image, kImageVariantAt, kImageVariantWidth, id.variantCode);
    PutLe16(image.data() + kImageRestrictionCodeAt, uint16_t(int16_t(id.restrictionCode)));
    if (packageText) {
      Blob wide = Utf8ToUtf16Le(id.packageCheckText);
      std::copy_n(wide.begin(), std::min(wide.size(), kImagePackageTextBytes - 2),
                  image.begin() + long(kImagePackageTextAt));
    }
  }
  return image;
}

RadioIdentity SampleRadioIdentity() {
  RadioIdentity id;
  id.modelNumber = "KX412-000G0000-M00000-U1-0-F";
  id.serialNumber = "1234567890";
  id.softwareVersion = "A5.00.07.000";
  id.variantCode = "0";
  id.restrictionCode = 0;
  return id;
}

RcdbBuildSpec SampleRcdbSpec(const RadioIdentity& identity, bool wide) {
  RcdbBuildSpec desc;
  desc.wide = wide;
  desc.identity = identity;
  auto plain = [](int number, size_t bytes, uint8_t fill) {
    RcdbBuildGroup g;
    g.number = number;
    g.data.assign(bytes, fill);
    return g;
  };
  RcdbBuildTree t1{1, {plain(1, 600, 0x11)}};
  RcdbBuildTree t2{2, {plain(85, 96, 0x22), plain(93, 32, 0x23), plain(200, 4, 0x24)}};
  RcdbBuildGroup segments;
  segments.number = 91;
  segments.recordArray = true;
  for (uint8_t i = 0; i < 2; ++i) segments.records.push_back({Blob(256, uint8_t(0x30 + i)), 0, false});
  RcdbBuildTree t3{3, {segments}};
  desc.trees = {t1, t2, t3};
  return desc;
}

std::vector<uint8_t> BuildRecordListImage(const RadioIdentity& id) {
  Blob record(kIdentityRecordSize, 0);
  auto put = [&record](size_t at, const std::string& text) {
    Blob wide = Utf8ToUtf16Le(text);
    wide.insert(wide.end(), {0, 0});
    if (record.size() < at + wide.size()) record.resize(at + wide.size(), 0);
    std::copy(wide.begin(), wide.end(), record.begin() + long(at));
  };
  PutLe32(record.data(), kIdentityRecordTag);
  put(kRecordVersionAt, id.softwareVersion.substr(0, 31));
  put(kRecordSerialAt, id.serialNumber.substr(0, 33));
  put(kRecordModelAt, id.modelNumber);
  if (record.size() % 2) record.push_back(0);

  // A first, unrelated record, so the reader has to look for the tag.
  Blob other(8, 0);
  PutLe32(other.data(), 0x00020100);
  Blob image(kRecordListDataStart + other.size() + record.size(), 0);
  auto entry = [&image](size_t index, size_t offset, size_t length) {
    uint8_t* e = image.data() + kRecordListHeaderSize + index * kRecordListEntrySize;
    PutLe32(e + 4, uint32_t(offset));
    PutLe16(e + 8, uint16_t(length));
    PutLe16(e + 10, 1);
  };
  entry(0, kRecordListDataStart, other.size());
  entry(1, kRecordListDataStart + other.size(), record.size());
  std::copy(other.begin(), other.end(), image.begin() + long(kRecordListDataStart));
  std::copy(record.begin(), record.end(), image.begin() + long(kRecordListDataStart + other.size()));
  return image;
}

}  // namespace lw
