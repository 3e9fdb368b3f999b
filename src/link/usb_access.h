// What the operator is told when the system refuses this user a radio: where the remedy is.
// An installed package brings a udev rule that hands the radios to the user at the seat; a
// build run from its tree, or a system without seat ACLs, needs the rule or a group (the
// steps are in docs/usb-access.md, installed beside the package's other documents).
#pragma once

#include <string>

#include "link/usb_backend.h"

namespace lw {

inline constexpr char kUdevRulePath[] = "/usr/lib/udev/rules.d/70-loftwise.rules";
inline constexpr char kUsbAccessDocument[] = "/usr/share/doc/loftwise/usb-access.md";

// "No permission to open the radio's USB device (DETAIL). ..." naming the udev rule and the
// document. Only meaningful for a failure with accessDenied set.
std::string UsbAccessText(const UsbOpenFailure& failure);

}  // namespace lw
