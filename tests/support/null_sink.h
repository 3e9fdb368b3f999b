// An operation sink that takes everything and asks nothing: the base of the test doubles and
// benchmarks that only look at what the operation reports. Answers "no" to the restore question
// and stops when its flag is set.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "common/operation_report.h"

namespace lw::test {

class NullSink : public OperationSink {
 public:
  void Report(ReportCode, ReportPayload) override {}
  void Progress(int) override {}
  void Phase(const std::string&, int) override {}
  void Log(const std::string&) override {}
  bool AskRestore(const std::string&) override { return false; }
  void SetExitAllowed(bool) override {}
  void SetLinkBusy(bool) override {}
  bool StopRequested() const override { return stop_->load(); }
  std::shared_ptr<const std::atomic<bool>> StopFlag() const override { return stop_; }

 protected:
  std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace lw::test
