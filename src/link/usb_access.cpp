#include "link/usb_access.h"

namespace lw {

std::string UsbAccessText(const UsbOpenFailure& failure) {
  return "No permission to open the radio's USB device" +
         (failure.detail.empty() ? std::string() : " (" + failure.detail + ")") +
         ". Install the udev rule " + kUdevRulePath +
         " (the loftwise package has it), then unplug the radio and plug it in again; see " +
         "docs/usb-access.md (installed as " + kUsbAccessDocument + ").";
}

}  // namespace lw
