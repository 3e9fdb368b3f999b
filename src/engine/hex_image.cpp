#include "engine/hex_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "common/held_file.h"
#include "common/text.h"
#include "common/window_port.h"
#include "engine/binary_image.h"
#include "ui/translate.h"

namespace lw {
namespace {

constexpr uint32_t kPageSize = 256;
constexpr uint32_t kPageCount = 65536;
constexpr uint32_t kWindowSize = kPageSize * kPageCount;  // 16 MiB
constexpr size_t kReadChunk = 1 << 20;

// Texts of the refusals that the reader adds to the ones the radio tools always had.
constexpr const char* kTextLineTooLong = TextKey("HEX line of 1024 characters or more; the file cannot be read.");
constexpr const char* kTextShortRecord = TextKey("HEX record shorter than its byte count; the file is damaged.");
constexpr const char* kTextBeyondWindow = TextKey("HEX data beyond the 16 MiB address window.");
constexpr const char* kTextTooManySegments = TextKey("HEX file needs more than 256 segments.");
constexpr const char* kTextTooLarge = TextKey("HEX image larger than the image buffer (40000000 bytes).");

// Hex digit values; anything that is not a hex digit reads as 0.
struct DigitTable {
  uint8_t value[256] = {};
  constexpr DigitTable() {
    for (int c = '0'; c <= '9'; ++c) value[c] = uint8_t(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) value[c] = uint8_t(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) value[c] = uint8_t(c - 'a' + 10);
  }
};
constexpr DigitTable kDigits;

inline uint32_t HexByte(const char* p) {
  return uint32_t(kDigits.value[uint8_t(p[0])] << 4) | kDigits.value[uint8_t(p[1])];
}

inline uint32_t RoundUpToPage(uint64_t v) {
  return uint32_t((v + kPageSize - 1) / kPageSize * kPageSize);
}

}  // namespace

// One pass over the lines of one load.
class HexImage::Parser {
 public:
  enum class Step { Continue, Done, Failed };

  explicit Parser(HexImage& image) : image_(image) {}

  Step Line(std::string_view line) {
    if (line.size() > kHexMaxLineLength) return Fail(kTextLineTooLong);
    if (line.size() <= 10) return Step::Continue;
    if (line[0] != ':') return Fail(kHexTextCannotAccept);
    const char* p = line.data();
    const uint32_t count = HexByte(p + 1);
    const uint32_t type = HexByte(p + 7);
    switch (type) {
      case 0x00:
        return Data(line, count);
      case 0x01:
        Close();
        return Step::Done;
      case 0x02:
      case 0x04: {
        if (count < 2) return Step::Continue;
        if (line.size() < 13) return Fail(kTextShortRecord);
        const uint32_t value = (HexByte(p + 9) << 8) | HexByte(p + 11);
        if (type == 0x02) {
          addressOffset_ = value * 16;
          return Step::Continue;
        }
        if (!windowBase_) windowBase_ = value & 0xFF00;
        // A value below the base would put data before the window: as far outside as above.
        if (value < *windowBase_ || value - *windowBase_ > 0xFF) return Fail(kHexTextTooMuchLinear);
        addressOffset_ = (value - *windowBase_) << 16;
        return Step::Continue;
      }
      default:  // 03, 05 and anything unknown carry nothing for the image
        return Step::Continue;
    }
  }

 private:
  Step Fail(const char* text) {
    image_.Notice(text);
    return Step::Failed;
  }

  Step Data(std::string_view line, uint32_t count) {
    if (line.size() < 9 + 2 * size_t(count)) return Fail(kTextShortRecord);
    // A record without bytes would make an empty segment, and the packing stops at the first
    // empty segment: everything after it would be lost.
    if (count == 0) return Step::Continue;
    if (!windowBase_) windowBase_ = 0;
    const uint32_t address = addressOffset_ + ((HexByte(line.data() + 3) << 8) | HexByte(line.data() + 5));
    if (uint64_t(address) + count > kWindowSize) return Fail(kTextBeyondWindow);

    auto& segments = image_.segments_;
    if (segments.empty()) {
      if (address % kPageSize != 0) image_.Notice(kHexTextStartAddress);
      segments.push_back({0, address, count});
    } else {
      ImageSegment& s = segments.back();
      const uint32_t end = s.start + s.length;
      if (address == end) {
        s.length += count;
      } else if (address / kPageSize == end / kPageSize) {
        if (address % kPageSize < s.length % kPageSize) image_.Notice(kHexTextJumpedAddress);
        // The gap inside the page belongs to the segment and keeps 0xFF.
        s.length = s.length - s.length % kPageSize + address % kPageSize;
        // A record that runs on into the next page must be covered too, or its tail would be
        // left out of the packed image when the next record starts a new segment.
        if (address % kPageSize + count > kPageSize) s.length = std::max(s.length, address + count - s.start);
      } else {
        if (segments.size() >= kHexMaxSegments) return Fail(kTextTooManySegments);
        const uint32_t packedEnd = RoundUpToPage(uint64_t(s.packedOffset) + s.length);
        s.length = packedEnd - s.packedOffset;
        segments.push_back({packedEnd, address & ~(kPageSize - 1), address % kPageSize + count});
      }
    }
    Store(address, line.data() + 9, count);
    return Step::Continue;
  }

  void Store(uint32_t address, const char* digits, uint32_t count) {
    uint32_t pageIndex = address / kPageSize;
    uint32_t at = address % kPageSize;
    Page* page = &image_.PageAt(pageIndex);
    for (uint32_t i = 0; i < count; ++i, digits += 2) {
      if (at == kPageSize) {
        page = &image_.PageAt(++pageIndex);
        at = 0;
      }
      (*page)[at++] = uint8_t(HexByte(digits));
    }
  }

  void Close() {
    if (image_.segments_.empty()) return;
    ImageSegment& s = image_.segments_.back();
    s.length = RoundUpToPage(s.length);
  }

  HexImage& image_;
  std::optional<uint32_t> windowBase_;
  uint32_t addressOffset_ = 0;
};

HexImage::HexImage(WindowPort* port) : port_(port) {}
HexImage::~HexImage() = default;

void HexImage::Reset() {
  // Free only the pages in use: the slot table itself is kept for the next load.
  if (pages_.size() != kPageCount) pages_.resize(kPageCount);
  for (uint32_t index : usedPages_) pages_[index].reset();
  usedPages_.clear();
  segments_.clear();
  messages_.clear();
}

void HexImage::Notice(const std::string& text) {
  messages_.push_back(text);
  if (!port_) return;
  // A line that is no HEX at all stops the load: an error box of its own. The rest are the
  // program's warnings.
  lw::Notice box{Translate(text), NoticeIcon::Warning, {}};
  if (text == kHexTextCannotAccept) {
    box.icon = NoticeIcon::Error;
    box.caption = Translate("Error");
  }
  WindowPort* port = port_;
  port->Post([port, box] { port->Notify(box); });
}

HexImage::Page& HexImage::PageAt(uint32_t index) {
  auto& slot = pages_[index];
  if (!slot) {
    slot = std::make_unique<Page>();
    usedPages_.push_back(index);
    slot->fill(0xFF);
  }
  return *slot;
}

int HexImage::Finished() {
  if (PackedSize() > kImageBufferSize) {
    Notice(kTextTooLarge);
    return kHexFailed;
  }
  return kHexLoaded;
}

int HexImage::LoadFromText(std::string_view text) {
  Reset();
  Parser parser(*this);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    const bool last = eol == std::string_view::npos;
    std::string_view line = text.substr(pos, last ? std::string_view::npos : eol - pos);
    if (!last && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    switch (parser.Line(line)) {
      case Parser::Step::Continue:
        break;
      case Parser::Step::Done:
        return Finished();
      case Parser::Step::Failed:
        return kHexFailed;
    }
    if (last) break;
    pos = eol + 1;
  }
  return kHexFailed;  // no end-of-file record
}

int HexImage::LoadFromPackage(const std::string& path, uint64_t offset) {
  Result<HeldFile> file = HeldFile::Open(path);
  if (!file.ok()) {
    Reset();
    Notice(kHexTextCannotOpen);
    return kHexCannotOpen;
  }
  return LoadFromHeld(*file, offset);
}

int HexImage::LoadFromHeld(const HeldFile& file, uint64_t offset) {
  Reset();
  if (offset > uint64_t(INT64_MAX)) {
    Notice(kHexTextCannotOpen);
    return kHexCannotOpen;
  }
  Parser parser(*this);
  // Stream the text: a package holds much more than the HEX entry, and the reading must stop
  // at the end record. `carry` holds the start of a line cut by the chunk boundary; it never
  // grows beyond one line of the allowed length.
  std::vector<uint8_t> chunk(kReadChunk);
  std::string carry;
  for (uint64_t at = offset;;) {
    const ptrdiff_t got = file.ReadSome(at, chunk);
    if (got < 0) return kHexFailed;
    at += uint64_t(got);
    const bool atEnd = size_t(got) < chunk.size();
    std::string_view data(reinterpret_cast<const char*>(chunk.data()), size_t(got));
    size_t pos = 0;
    while (pos < data.size()) {
      const size_t eol = data.find('\n', pos);
      if (eol == std::string_view::npos) {
        carry.append(data.substr(pos));
        if (carry.size() > kHexMaxLineLength + 1) {  // + 1: room for the CR of a CR LF
          parser.Line(carry);  // refuses it as too long
          return kHexFailed;
        }
        break;
      }
      std::string_view line = data.substr(pos, eol - pos);
      if (!carry.empty()) {
        carry.append(line);
        line = carry;
      }
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      const Parser::Step step = parser.Line(line);
      carry.clear();
      if (step == Parser::Step::Failed) return kHexFailed;
      if (step == Parser::Step::Done) return Finished();
      pos = eol + 1;
    }
    if (atEnd) break;
  }
  // Text after the last line end is a last line.
  if (!carry.empty() && parser.Line(carry) == Parser::Step::Done) return Finished();
  return kHexFailed;  // no end-of-file record
}

size_t HexImage::PackedSize() const {
  size_t total = 0;
  for (const ImageSegment& s : segments_) {
    if (s.length == 0) break;
    total += s.length;
  }
  return total;
}

size_t HexImage::ReadPacked(std::span<uint8_t> destination) const {
  const size_t total = PackedSize();
  if (total == 0 || total > destination.size()) return 0;
  uint8_t* out = destination.data();
  for (const ImageSegment& s : segments_) {
    if (s.length == 0) break;
    uint64_t address = s.start;
    uint64_t left = s.length;
    while (left > 0) {
      const uint64_t at = address % kPageSize;
      const uint64_t take = std::min<uint64_t>(left, kPageSize - at);
      const uint64_t index = address / kPageSize;
      const Page* page = index < pages_.size() ? pages_[index].get() : nullptr;
      if (page)
        std::memcpy(out, page->data() + at, take);
      else
        std::memset(out, 0xFF, take);
      out += take;
      address += take;
      left -= take;
    }
  }
  return total;
}

Bytes HexImage::Packed() const {
  Bytes out(PackedSize());
  ReadPacked(out);
  return out;
}

size_t HexImage::BuildSegmentTable(std::span<uint8_t> destination, size_t tableLength,
                                   uint32_t origin) const {
  const size_t entries =
      std::min(segments_.size(), (tableLength + kSegmentEntrySize - 1) / kSegmentEntrySize);
  if (entries == 0) return 0;
  for (size_t i = 0; i < entries; ++i) {
    const ImageSegment& s = segments_[i];
    uint8_t entry[kSegmentEntrySize];
    PutLe16(entry, uint16_t(kSegmentMarker));
    PutLe16(entry + 2, 0);
    PutLe32(entry + 4, s.packedOffset + origin);
    PutLe32(entry + 8, s.start);
    PutLe32(entry + 12, s.length);
    const size_t at = i * kSegmentEntrySize;
    if (at >= destination.size()) break;
    std::memcpy(destination.data() + at, entry, std::min(kSegmentEntrySize, destination.size() - at));
  }
  return std::min(entries * kSegmentEntrySize, std::min(tableLength, destination.size()));
}

}  // namespace lw
