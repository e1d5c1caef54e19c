#pragma once

#include <atomic>
#include <memory>

#include "OrvaneCore/Jobs/JobTypes.h"

namespace Orvane {

// What the host knows about the current run of the system. The job service writes the three flags;
// start conditions read them. The host raises GetSystemShutdown() when the system shuts down.
class TSystemRunInfo : public TOrvaneObject {
public:
  TSystemRunInfo() : FSystemShutdown("SystemShutdown") {}
  std::string ClassName() const override { return "TSystemRunInfo"; }
  std::string LogText() const override;

  TNotifyEvent& GetSystemShutdown() { return FSystemShutdown; }

  bool GetIsStartupPass() const { return FIsStartupPass.load(); }
  void SetIsStartupPass(bool AValue) { FIsStartupPass.store(AValue); }
  bool GetIsShutdownPass() const { return FIsShutdownPass.load(); }
  void SetIsShutdownPass(bool AValue) { FIsShutdownPass.store(AValue); }
  bool GetIsStopping() const { return FIsStopping.load(); }
  void SetIsStopping(bool AValue) { FIsStopping.store(AValue); }

private:
  TNotifyEvent FSystemShutdown;
  std::atomic<bool> FIsStartupPass{false};
  std::atomic<bool> FIsShutdownPass{false};
  std::atomic<bool> FIsStopping{false};
};

using TSystemRunInfoPtr = std::shared_ptr<TSystemRunInfo>;

}  // namespace Orvane
