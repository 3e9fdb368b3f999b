// Arbitrary bytes as the radio's side of the link: they come back through the USB transport in
// pieces of the sizes the input chooses, as the answers to the version and state queries, a
// memory read of several blocks, an erase and a write, with answer checking on or off; the
// data read are then taken for RCDB data and a radio identity. Nothing may crash, hang, or read
// outside what arrived.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/usb_transport.h"
#include "link/xrcp.h"
#include "package/radio_identity.h"

namespace {

struct Input {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t at = 0;
  size_t piece = 1;
  bool serving = false;  // after Open: the drain at Open would swallow everything otherwise
};

class FuzzPipes : public lw::UsbPipes {
 public:
  explicit FuzzPipes(Input& in) : in_(in) {}
  size_t Read(uint8_t* buffer, size_t n, int) override {
    if (!in_.serving || in_.at >= in_.size || n == 0) return 0;
    size_t take = std::min({n, in_.piece, in_.size - in_.at});
    std::copy(in_.data + in_.at, in_.data + in_.at + take, buffer);
    in_.at += take;
    return take;
  }
  size_t Write(const uint8_t*, size_t n) override { return n; }

 private:
  Input& in_;
};

class FuzzBackend : public lw::UsbBackend {
 public:
  explicit FuzzBackend(Input& in) : in_(in) {}
  std::optional<std::vector<std::string>> Enumerate(lw::UsbDeviceClass cls) override {
    if (cls == lw::UsbDeviceClass::Primary) return std::vector<std::string>{"fuzz"};
    return std::vector<std::string>{};
  }
  std::unique_ptr<lw::UsbPipes> Open(const std::string&) override { return std::make_unique<FuzzPipes>(in_); }
  void SetHotplugCallback(std::function<void()>) override {}

 private:
  Input& in_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Input in;
  // Byte 0: the size of the pieces the pipe delivers; byte 1: answer checking on or off.
  in.piece = size_t(data[0]) % 64 + 1;
  lw::LinkOptions options;
  options.readTimeoutMs = 0;
  options.checkAnswers = (data[1] & 1) == 0;
  in.data = data + 2;
  in.size = size - 2;

  FuzzBackend backend(in);
  lw::UsbTransport transport(backend, nullptr, options);
  int classFlag = 0;
  transport.Scan(nullptr, classFlag);
  if (!transport.Open(1)) return 0;
  in.serving = true;
  // No waiting: once the input is used up the radio is silent, and every request times out.
  transport.SetAnswerTimeout(0);

  lw::QueryBootloaderVersion(transport);
  lw::QueryRadioState(transport);
  lw::ProgressSteps steps;
  steps.pause = [](int) {};
  lw::Bytes read;
  lw::ReadArea(transport, steps, 0xC00000, 4 * 512, 512, 0, read);
  lw::ReadIdentityFromImage(read);
  lw::IdentityFromRadioFile(read);
  lw::EraseArea(transport, steps, 0xC00000, 0x20000, 0x20000, 0);
  const lw::Bytes block(600, 0x5A);
  lw::WriteDescending(transport, steps, 0xC00000, block, 512, 0);
  transport.Exchange(0x01C2, lw::Bytes(7, 0), true);
  transport.Close();
  return 0;
}
