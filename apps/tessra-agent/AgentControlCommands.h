#pragma once

#include <functional>
#include <memory>
#include <string>

#include "AgentStatusBoard.h"
#include "Control/ControlProtocol.h"
#include "OrvaneClientShared/AgentTaskQueue.Intf.h"
#include "OrvaneCore/Interfaces/JobListSnapshot.Intf.h"

namespace Orvane {

// What the running agent does for its administrator on the control channel:
//   enqueue NAME|ID [DELAY MINUTES]   a manual job of the task, through the agent task queue
//   enqueue-all                       a manual job of every scanner
//   pull                              the job list is loaded from the server at the next turn
//   status                            the queue, the running jobs and the job list, without side effects
//   stop                              a plain stop, as SIGINT
// Each answer is a short text. A request that cannot be understood (an unknown command, a task
// that does not exist, a delay that is not a number) gets an error answer and changes nothing. An
// enqueue answers success only after its job was saved; a job that could not be saved is an error
// answer naming the reason (enqueue-all names the scanners that were kept) and is not kept.
class TAgentControlCommands {
public:
  // AServerStatus, when set, adds the server link's lines to the status.
  TAgentControlCommands(std::shared_ptr<IAgentTaskQueue> AQueue, std::shared_ptr<IJobListSnapshotSource> AJobList,
                        std::shared_ptr<TAgentStatusBoard> AStatusBoard, std::function<void()> AStop,
                        std::function<std::string()> AServerStatus = {});

  TControlAnswer Handle(const TControlRequest& ARequest);

  // The longest delay an enqueue accepts: a year.
  static constexpr int32_t CMaxDelayMinutes = 366 * 24 * 60;

private:
  TControlAnswer Enqueue(const TControlRequest& ARequest);
  TControlAnswer EnqueueAll();
  TControlAnswer Pull();
  TControlAnswer Status();
  TControlAnswer Stop();

  const std::shared_ptr<IAgentTaskQueue> FQueue;
  const std::shared_ptr<IJobListSnapshotSource> FJobList;
  const std::shared_ptr<TAgentStatusBoard> FStatusBoard;
  const std::function<void()> FStop;
  const std::function<std::string()> FServerStatus;
};

}  // namespace Orvane
