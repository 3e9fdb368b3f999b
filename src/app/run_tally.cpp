#include "app/run_tally.h"

#include "app/operation_controller.h"

namespace lw {

void RunTally::Count(ReportCode code) {
  if (code == ReportCode::Finished) {
    ++finished_;
  } else if (code != ReportCode::StartWorker && code != ReportCode::AskRestore) {
    ++others_;
  }
}

void RunTally::Tick(OperationController& controller) {
  const bool armed = controller.watchdogArmed();
  controller.Tick();
  if (armed && !controller.watchdogArmed() && controller.phase() == OperationPhase::Idle) ++others_;
}

}  // namespace lw
