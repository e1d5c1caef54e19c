#pragma once

#include <memory>
#include <string>

#include "OrvaneCore/Conditions/StartCondition.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Jobs/JobAction.h"

namespace Orvane::Testing {

// What the engine's tests vary in a job; the rest keeps the job's defaults.
struct TJobShape {
  std::string Task = {};  // the agent task of its scanner action; "" gives a job without an action
  bool Manual = false;
  int32_t Order = 0;
  TDateTime Due = CNoDateTime;
  std::string Text = {};  // "" gives "Job <identifier>"
  std::shared_ptr<TStartCondition> Condition = {};
};

inline TJobPtr NewJob(const std::string& AId, const TJobShape& AShape = {}) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AId);
  LJob->SetDisplayText(AShape.Text.empty() ? "Job " + AId : AShape.Text);
  LJob->SetIsManual(AShape.Manual);
  LJob->SetOrder(AShape.Order);
  LJob->SetNextExecution(AShape.Due);
  if (AShape.Condition) LJob->GetStartCondition()->AddCondition(AShape.Condition);
  if (AShape.Task.empty()) return LJob;
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = AShape.Task;
  LJob->SetJobAction(LAction);
  return LJob;
}

}  // namespace Orvane::Testing
