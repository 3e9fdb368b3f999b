// The connect step: opens the radio the operator selected, asks its bootloader for its version
// and its device class, and tells the operation controller with exactly one report:
//   0   the radio is open and fit for the upgrade worker (the facts below are filled in)
//   8   no port selected (0, or a number below 1) or the radio cannot be opened
//   9   no answer to the version query or to the state query (no payload)
//   12  the bootloader is older than "01.04.001" and "Burn Old Version" is off; the payload
//       is the radio's version text, which the notice names
// The version query waits 3,000 ms whatever the configured time-out is; the configured
// "Timeout MilliSecond" is put back on every path that got that far, so the upgrade worker
// and the next operation never inherit the short identification time-out.
//
// The port stays open after report 0 (the worker uses it); on the failure paths closing it is
// the controller's business, as for every report that ends an operation.
#pragma once

#include <string>

#include "common/operation_report.h"

namespace lw {

class UsbTransport;
struct ProgramSettings;

inline constexpr const char* kMinimumBootloaderVersion = "01.04.001";

// What the connect step learned of the radio; the upgrade worker and the burn-script runner
// read it.
struct LinkFacts {
  std::string bootloaderVersion;  // "01.04.006"
  bool newProtocol = false;       // bootloader newer than "01.04.005"
  int deviceClass = 0;            // 0, 1 or 2 (2: repeater, arm_main is sent uncompressed)
  bool ready = false;             // the step ended with report 0
};

// The device class from byte 2 of the state answer: 0, 1 or 2 as given, anything else 0.
int DeviceClassFromState(int stateByte);

// True when `version` may be upgraded: at least kMinimumBootloaderVersion, or any version
// when `burnOldVersion` is set. Versions have one fixed form and compare as text.
bool BootloaderAccepted(const std::string& version, bool burnOldVersion);

// Runs the step on the calling thread: sets the link-busy flag once the port is open and sends
// one report through `sink`. When the sink's stop flag is set before a request, the step ends
// without a report and without touching the radio again.
LinkFacts RunConnectStep(UsbTransport& transport, int port, const ProgramSettings& settings,
                         OperationSink& sink);

// What the connect step would learn of a radio already open (bootloader version, device
// class), asked without a report, for the auto-test series and the remote upgrade. The device
// class is `presetClass` ("Model Type") until the radio answers the state query. The answer
// time-out is `timeoutMs` again afterwards.
LinkFacts QuietLinkFacts(UsbTransport& transport, int timeoutMs, int presetClass);

}  // namespace lw
