#pragma once

#include <string>

namespace Orvane {

// Where a task's result goes besides its local folder: the management server, when the agent has
// one. Called on the job's thread once the result file is complete; the file stays where it is.
class IResultSink {
public:
  virtual ~IResultSink() = default;
  // AFile: the result just written (its name, made of the run's time, names the run); ATaskId: the
  // agent task's id.
  virtual void ResultWritten(const std::string& ATaskId, const std::string& AFile) = 0;
};

}  // namespace Orvane
