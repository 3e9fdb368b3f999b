#include "engine/connect_step.h"

#include <optional>

#include "config/settings.h"
#include "link/usb_access.h"
#include "link/usb_transport.h"
#include "link/xrcp.h"

namespace lw {

int DeviceClassFromState(int stateByte) { return stateByte >= 0 && stateByte <= 2 ? stateByte : 0; }

bool BootloaderAccepted(const std::string& version, bool burnOldVersion) {
  return burnOldVersion || version >= kMinimumBootloaderVersion;
}

LinkFacts QuietLinkFacts(UsbTransport& transport, int timeoutMs, int presetClass) {
  transport.SetAnswerTimeout(kVersionQueryTimeoutMs);
  LinkFacts facts;
  facts.deviceClass = presetClass;
  if (auto version = QueryBootloaderVersion(transport)) {
    facts.bootloaderVersion = *version;
    facts.newProtocol = IsNewProtocol(*version);
    if (auto state = QueryRadioState(transport)) facts.deviceClass = DeviceClassFromState(*state);
    facts.ready = true;
  }
  transport.ReleaseAnswer();
  transport.SetAnswerTimeout(timeoutMs);
  return facts;
}

LinkFacts RunConnectStep(UsbTransport& transport, int port, const ProgramSettings& settings,
                         OperationSink& sink) {
  LinkFacts facts;
  // "Model Type" is the class until the radio says otherwise.
  facts.deviceClass = int(settings.modelType);
  if (sink.StopRequested()) return facts;
  if (port < 1 || !transport.Open(port)) {
    // With no port selected the port list found no radio it could open; its last refusal
    // says why just as well.
    const UsbOpenFailure failure = transport.LastOpenFailure();
    if (failure.accessDenied) {
      sink.Report(ReportCode::OpenFailed, UsbAccessText(failure));
    } else {
      sink.Report(ReportCode::OpenFailed);
    }
    return facts;
  }
  sink.SetLinkBusy(true);

  // The queries; the report is sent only after the configured time-out is back, so that
  // whatever runs next (the worker, the next operation) never inherits the short one.
  std::optional<ReportCode> code;
  ReportPayload payload;
  transport.SetAnswerTimeout(kVersionQueryTimeoutMs);
  [&] {
    if (sink.StopRequested()) return;
    std::optional<std::string> version = QueryBootloaderVersion(transport);
    transport.ReleaseAnswer();
    if (!version) {
      code = ReportCode::ReadError;
      return;
    }
    facts.bootloaderVersion = *version;
    if (!BootloaderAccepted(*version, settings.burnOldVersion)) {
      code = ReportCode::BootloaderLow;
      payload = *version;
      return;
    }
    facts.newProtocol = IsNewProtocol(*version);
    if (sink.StopRequested()) return;
    std::optional<int> state = QueryRadioState(transport);
    transport.ReleaseAnswer();
    if (!state) {
      code = ReportCode::ReadError;
      return;
    }
    facts.deviceClass = DeviceClassFromState(*state);
    facts.ready = true;
    code = ReportCode::StartWorker;
  }();
  transport.SetAnswerTimeout(static_cast<int>(settings.timeoutMs));
  if (code) sink.Report(*code, std::move(payload));
  return facts;
}

}  // namespace lw
