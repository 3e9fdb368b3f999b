// The Intel HEX reader: turns HEX text (a stretch of an upgrade package, or a whole extern
// file) into a packed image and the segment table that tells the radio where each piece of the
// packed image belongs in flash.
//
// Model. Data land in a page store of 65,536 pages of 256 bytes (a 16 MiB window above the
// window base, the first extended linear address rounded down to 0x100 * 64 KiB); a page is
// created on first write, filled with 0xFF. Records are gathered into segments (at most 256):
// a record that continues the current segment, or lands in the same page as its end, extends
// it; any other starts a new segment at its page start. The packed image is the segments'
// bytes back to back; once the end record closes the list every segment is whole pages long.
//
// Lines end with CR LF or a bare LF. Lines of 10 characters or fewer are skipped; a longer line
// must start with ':'. Hex digits outside 0-9, A-F, a-f read as 0; checksums are not verified.
// Types: 00 data, 01 end of file, 02 extended segment address, 04 extended linear address;
// 03 and 05 (and unknown types) are ignored.
//
// Refused (the load fails with a message): a line without ':', an extended linear address
// outside the 16 MiB window, a line of 1,024 characters or more, a data record whose line is
// shorter than its byte count says, data running past the end of the window, a file needing
// more than 256 segments, a packed image larger than the image buffer, and text without an end
// record. Two faults only warn and the load goes on: a first address not on a 0x100 boundary,
// and an address going back inside the current page.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/text.h"

namespace lw {

class HeldFile;
class WindowPort;

struct ImageSegment {
  uint32_t packedOffset = 0;  // where the segment starts in the packed image
  uint32_t start = 0;         // window-relative address of its first byte
  uint32_t length = 0;        // bytes
};

inline constexpr size_t kHexMaxSegments = 256;
inline constexpr size_t kHexMaxLineLength = 1023;  // characters, line end not counted
inline constexpr uint32_t kSegmentMarker = 0x55AA;
inline constexpr size_t kSegmentEntrySize = 16;

// Results of LoadFromPackage.
inline constexpr int kHexLoaded = 1;
inline constexpr int kHexFailed = 0;
inline constexpr int kHexCannotOpen = -1;

// Operator texts of the reader (English; the window translates them).
inline constexpr const char* kHexTextCannotAccept = TextKey("CanNotAcceptFile");
inline constexpr const char* kHexTextTooMuchLinear = TextKey("Too much Extended linear Address.");
inline constexpr const char* kHexTextStartAddress = TextKey("Error start address (must be divided by 0x100).");
inline constexpr const char* kHexTextJumpedAddress = TextKey("Error jumped address (must be ascending).");
inline constexpr const char* kHexTextCannotOpen = TextKey("not open fud file");

class HexImage {
 public:
  // Messages are posted to `port` (for the user-interface thread), translated, as message boxes:
  // "CanNotAcceptFile" in an error box captioned "Error", the others as warnings. Messages()
  // keeps them in English either way.
  explicit HexImage(WindowPort* port = nullptr);
  ~HexImage();
  HexImage(const HexImage&) = delete;
  HexImage& operator=(const HexImage&) = delete;

  // Reads HEX text from byte `offset` of the file at `path` up to its end record. Returns
  // kHexLoaded, kHexFailed, or kHexCannotOpen when the file cannot be opened or positioned.
  // Nothing after the end record is read, so the text may be followed by other data.
  int LoadFromPackage(const std::string& path, uint64_t offset);
  // The same from a file held open for the run (the package, or an extern image file).
  int LoadFromHeld(const HeldFile& file, uint64_t offset);
  // The same reader over text in memory.
  int LoadFromText(std::string_view text);

  // Total length of the packed image in bytes (0 without segments).
  size_t PackedSize() const;
  // Copies the packed image to `destination` and returns its length; 0 when there is no
  // segment or the destination is too small for it.
  size_t ReadPacked(std::span<uint8_t> destination) const;
  Bytes Packed() const;

  // Writes one 16-byte entry per segment (AA 55, 0, packed offset + origin, start, length),
  // for the smaller of the segment count and ceil(tableLength / 16) segments, but never more
  // bytes than `tableLength` nor than `destination` holds. Returns the bytes written.
  size_t BuildSegmentTable(std::span<uint8_t> destination, size_t tableLength, uint32_t origin) const;

  const std::vector<ImageSegment>& Segments() const { return segments_; }
  // Every message shown during the last load, in order (warnings and the failure).
  const std::vector<std::string>& Messages() const { return messages_; }

 private:
  class Parser;
  using Page = std::array<uint8_t, 256>;

  void Reset();
  int Finished();
  void Notice(const std::string& text);
  Page& PageAt(uint32_t index);

  WindowPort* port_;
  std::vector<std::unique_ptr<Page>> pages_;
  std::vector<uint32_t> usedPages_;
  std::vector<ImageSegment> segments_;
  std::vector<std::string> messages_;
};

}  // namespace lw
