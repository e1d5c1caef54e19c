#pragma once

#include <string>

#include "OrvaneCore/Jobs/JobTypes.h"

namespace Orvane {

// Relays the start and end of a run to the management server.
struct IJobExecStateReporter {
  static constexpr const char* IID = "{020E81F1-D483-4C18-9B40-7A98E8560FD0}";
  static constexpr const char* Name = "IJobExecStateReporter";
  virtual ~IJobExecStateReporter() = default;

  // True when the server has aborted this execution. AReserved is always empty.
  virtual bool ReportJobStarted(const std::string& AExecutionId, const std::string& AJobIdentifier,
                                const std::string& AReserved) = 0;
  virtual void ReportJobFinished(const std::string& AExecutionId, const std::string& AJobIdentifier,
                                 TJobResult AResult, const std::string& AReserved) = 0;
};

}  // namespace Orvane
