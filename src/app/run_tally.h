// How the runs of one operation of a front end without a window ended: the console's exit
// status says whether every run finished and at least one did.
#pragma once

#include "common/operation_report.h"

namespace lw {

class OperationController;

class RunTally {
 public:
  // A report of the operation (the controller's report observer): "Upgrading Finished!"
  // counts as finished; the start of the worker and the restore question end no run.
  void Count(ReportCode code);
  // Ticks the controller; a watchdog that ends the operation counts as a failed run.
  void Tick(OperationController& controller);
  // A run that ended without a report (an auto-test series with no input files).
  void CountFailure() { ++others_; }

  bool Succeeded() const { return finished_ > 0 && others_ == 0; }

 private:
  int finished_ = 0;
  int others_ = 0;
};

}  // namespace lw
