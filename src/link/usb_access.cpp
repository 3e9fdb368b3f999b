#include "link/usb_access.h"

#include "common/text.h"
#include "ui/translate.h"

namespace lw {

std::string UsbAccessText(const UsbOpenFailure& failure) {
  if (failure.detail.empty())
    return FillPlaceholders(
        Translate(TextKey("No permission to open the radio's USB device. Install the udev rule %s (the loftwise "
                          "package has it), then unplug the radio and plug it in again; see docs/usb-access.md "
                          "(installed as %s).")),
        {kUdevRulePath, kUsbAccessDocument});
  return FillPlaceholders(
      Translate(TextKey("No permission to open the radio's USB device (%s). Install the udev rule %s (the loftwise "
                        "package has it), then unplug the radio and plug it in again; see docs/usb-access.md "
                        "(installed as %s).")),
      {failure.detail, kUdevRulePath, kUsbAccessDocument});
}

}  // namespace lw
