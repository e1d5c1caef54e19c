#pragma once

#include <string>

#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {

// The host's gatekeeper for job starts, reboots and shutdown. Declared here, implemented by the
// host, which registers it in the container.
struct IJobServant {
  static constexpr const char* IID = "{A21723AF-DF76-4A6D-BBD7-6351EE0A1D85}";
  static constexpr const char* Name = "IJobServant";
  virtual ~IJobServant() = default;

  virtual TNotifyEvent& GetOnJobStartAllowed() = 0;
  virtual TNotifyEvent& GetOnJobStartDenied() = 0;
  virtual bool GetIsSystemShutdownInProgress() = 0;
  virtual void SetIsSystemShutdownInProgress(bool AValue) = 0;
  // May raise the allowed or denied event.
  virtual bool IsJobStartAllowed(const TJobPtr& AJob) = 0;
  virtual bool IsRestartRequested() = 0;
  virtual bool IsRebootRequested() = 0;
  virtual bool IsJobStartDuringRebootAllowed(const std::string& AContentId) = 0;
  virtual void SetRebootRequested(bool AValue) = 0;
};

}  // namespace Orvane
