// OperationState: everything one radio operation (an upgrade, its restore variant, a remote
// upgrade) keeps while the burn-script runner writes, erases and reads the radio for it. The
// upgrade operation owns one, fills it (image, identity, package header, settings) and hands it
// to RunKind for each image kind; the runner and the data carry-over read and update it.
//
// Threading: the state belongs to the worker thread that runs the operation. The only member
// another thread touches is the stop flag, which the controller's watchdog sets; the runner
// checks it before every line and every block loop, so that a worker the watchdog gave up on
// no longer talks to the radio.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/status.h"
#include "config/burn_script.h"
#include "config/settings.h"
#include "engine/binary_image.h"
#include "engine/streamed_image.h"
#include "link/radio_answer.h"
#include "package/fud_format.h"
#include "package/radio_identity.h"

namespace lw {

class UsbTransport;
class WindowPort;
class OperationSink;

// The operation kind of an upgrade, whether the operator or the remote control started it.
inline constexpr int kOperationKindUpgrade = 4;

// The largest radio data the operation keeps (the change-data buffer); a source data file
// larger than this is not read.
inline constexpr size_t kChangeDataBufferSize = 16'778'240;

// Calls into the conversion library and the check of its result. `destination` is the new
// image (converted in place, its length kept), `source` the radio's previous data. True means
// converted / accepted.
using ConvertFunction = std::function<bool(std::span<uint8_t> destination, ByteView source)>;
using ValidateFunction = std::function<bool(ByteView converted)>;

// Settings the data carry-over uses, as plain values (from set.ini, see settings.h).
struct CarryOverSettings {
  bool modelFields = false;    // "ESN Data Write": ApplyModelFields (equipment table)
  bool serialFields = false;   // "MAC Address Write": ApplySerialFields (unit table)
  char areaByte = 'P';         // "Head Area Byte": region byte of record-list radios
  std::string headText;        // "Head Text": header group 3 of record-list radios
  std::string headDate;        // "Head Date": YYYYMMDD digits; empty = the day of the upgrade
  bool clearOldDataBit = false;  // "Clear Old Data Bit": bit 3 of byte 15 of root/2/93 (old data)
  std::string regionOverride;  // "Head Region Override": "" keep, else "P" or "0"
  std::string modeOverride;    // "Head Mode Override": "" keep, else "T" or "0"
  uint32_t airInterface = 0;   // "SetModeStandard": 0 keep, 1 PDT, 2 DMR

  // The values of `settings` (the keys above).
  static CarryOverSettings From(const ProgramSettings& settings);
};

struct OperationState {
  // --- The radio link and the script -------------------------------------------------------
  UsbTransport* transport = nullptr;
  const BurnScript* script = nullptr;
  // Bootloader newer than "01.04.005": block loops and script writes send the line's memory
  // selector; older bootloaders get selector 0.
  bool newerBootloader = true;
  int operationKind = kOperationKindUpgrade;

  // --- Images ------------------------------------------------------------------------------
  // The image of the kind being burned; only its first `imageLength` bytes count (the buffer
  // may be larger, filled with 0xFF past the image).
  Bytes image;
  size_t imageLength = 0;
  // A binary image read from a file is kept here instead (never cleared before the read fills
  // it); when it is set, `image` is empty and this is the image.
  ImageBuffer loadedImage;
  // An image still being made (compressed) while the radio erases the area it goes to; until
  // AwaitImage takes it, there is no image. The script runner waits for it before the first
  // line that needs the image.
  std::future<Bytes> pendingImage;
  // A binary image that is not in memory at all: the write and read-back loops take its blocks
  // from the held package as they reach them (only for kinds whose image nothing changes).
  std::unique_ptr<StreamedImage> streamedImage;
  // The HEX image's extra part: the segment table written at EXTORG.
  Bytes extra;
  size_t extraLength = 0;

  // The radio data read by the script (or read from the source data file): the "change data".
  // Its size is the fill count; the upgrade clears it before each entry.
  Bytes readBuffer;
  // The answer of the last generic "XRCP_Memory_Read" line, written back by the next
  // "XRCP_Memory_Write" line without FILE.
  AnswerPtr lastReadAnswer;

  // A radio data file (restore, remote upgrade) that replaces reading the radio's data; empty
  // when the data come from the radio.
  std::string sourceDataFile;
  // That file's bytes as the operation read them at its start. The conversion takes the data
  // from here: the file is read once, so that nothing done to it during the run (a restore
  // deletes its backup at the end) changes what the entries convert from. Null: read the file.
  const Bytes* sourceData = nullptr;

  // Where a pic_gif package goes, from its header (taken when a pic_gif line runs).
  int pictureLayoutKind = -1;
  int pictureVersionCode = -1;

  // Steps of the current progress phase (set by RunKind).
  int phaseTotal = 0;

  // "Verify Writes": every area a FILE line wrote is read back and compared before the next
  // line runs.
  bool verifyWrites = false;
  // Ready to show: what a line that failed found (the read-back's kind, side and address).
  std::string failureDetail;

  // --- What the carry-over needs -----------------------------------------------------------
  std::optional<PackageHeader> packageHeader;  // keepHeadInfo, keepCpsData, targetVersion
  std::optional<RadioIdentity> identity;
  CarryOverSettings carryOver;
  const std::vector<TunerRule>* tunerRules = nullptr;   // "TUNER DATA CHANGE" (or the package's)
  const std::vector<SerialEntry>* equipmentTable = nullptr;  // EquipmentSn.txt
  const std::vector<MacEntry>* unitTable = nullptr;     // Lumaret.txt
  ConvertFunction convert;    // none: a conversion the package asks for fails (-8000)
  ValidateFunction validate;  // none: the converted image is accepted

  // --- Reaching the operator ---------------------------------------------------------------
  // Progress, phase texts and log lines go to the sink (posted to the user-interface thread);
  // the one question of the carry-over goes to the port. Either may be null (tests, tools):
  // then nothing is shown, and the question takes its default answer (OK).
  OperationSink* sink = nullptr;
  WindowPort* port = nullptr;
  // Set when the exit-allowed flag must be raised again on a failure path (a missing source
  // data file); defaults to the sink's flag.
  std::function<void(bool)> setExitAllowed;
  // The watchdog's stop flag (the sink's, or one of the caller's). Null: never stopped.
  std::shared_ptr<const std::atomic<bool>> stop;
  // How pauses are taken (100 ms before extern writes and generic erases, 500 ms at a phase
  // end); tests may replace it.
  std::function<void(int ms)> pause;

  bool StopRequested() const { return stop && stop->load(); }

  // The counted part of the image and of the extra part (never past the buffers). A streamed
  // image is read whole into memory first (no kind that is streamed asks for it); when that
  // read fails the image is empty and streamedImage keeps why.
  std::span<uint8_t> ImageBytes() {
    AwaitImage();
    if (streamedImage) MaterializeStream();
    const std::span<uint8_t> all = loadedImage.empty() ? std::span<uint8_t>(image) : loadedImage.bytes();
    return all.first(std::min(imageLength, all.size()));
  }
  size_t ImageSize() const {
    if (streamedImage) return streamedImage->size();
    return std::min(imageLength, loadedImage.empty() ? image.size() : loadedImage.size());
  }
  // The first `n` bytes of the image (fewer when it is shorter), without reading a streamed
  // image whole.
  Bytes ImageHead(size_t n) {
    AwaitImage();
    if (streamedImage) return streamedImage->Head(n);
    const std::span<uint8_t> bytes = ImageBytes();
    return Bytes(bytes.begin(), bytes.begin() + std::ptrdiff_t(std::min(n, bytes.size())));
  }
  std::span<uint8_t> ExtraBytes() { return std::span<uint8_t>(extra).first(std::min(extraLength, extra.size())); }
  // Sets the image to `bytes` (length = its size).
  void SetImage(Bytes bytes) {
    pendingImage = {};  // an image still being made is not wanted any more (waits for it)
    streamedImage.reset();
    loadedImage = ImageBuffer();
    image = std::move(bytes);
    imageLength = image.size();
  }
  void SetImage(ImageBuffer bytes) {
    pendingImage = {};
    streamedImage.reset();
    Bytes().swap(image);
    loadedImage = std::move(bytes);
    imageLength = loadedImage.size();
  }
  void SetImage(std::unique_ptr<StreamedImage> streamed) {
    SetImage(Bytes());
    imageLength = streamed ? streamed->size() : 0;
    streamedImage = std::move(streamed);
  }
  // Lets go of the image's memory.
  void ReleaseImage() { SetImage(Bytes()); }
  // The image will be what `making` gives; nothing is the image until then.
  void SetPendingImage(std::future<Bytes> making) {
    ReleaseImage();
    pendingImage = std::move(making);
  }
  bool ImagePending() const { return pendingImage.valid(); }
  // Why the image could not be read from its file; ok while it could (or it is in memory).
  Status ImageReadFailure() const { return streamedImage ? streamedImage->failure() : Status::Ok(); }
  // Waits for an image still being made and makes it the image (its exception, if it failed).
  void AwaitImage() {
    if (pendingImage.valid()) SetImage(pendingImage.get());
  }

 private:
  // Reads a streamed image whole into loadedImage; on failure the image is left empty and the
  // stream stays, holding why.
  void MaterializeStream() {
    StreamedImage& stream = *streamedImage;
    ImageBuffer whole(stream.size());
    const uint8_t* bytes = whole.size() ? stream.Block(0, whole.size()) : nullptr;
    if (whole.size() && !bytes) {
      imageLength = 0;
      return;
    }
    if (bytes) std::copy(bytes, bytes + whole.size(), whole.data());
    SetImage(std::move(whole));
  }
};

}  // namespace lw
