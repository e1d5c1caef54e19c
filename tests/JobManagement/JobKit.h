#pragma once

#include <memory>
#include <string>

#include "OrvaneCore/Conditions/StartCondition.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Jobs/JobAction.h"

namespace Orvane::Testing {

// What the engine's tests vary in a job; the rest keeps the job's defaults.
struct TJobSpec {
  std::string Task = {};  // the agent task of its scanner action; "" gives a job without an action
  bool Manual = false;
  int32_t Order = 0;
  TDateTime Due = CNoDateTime;
  std::string Text = {};  // "" gives "Job <identifier>"
  std::shared_ptr<TStartCondition> Condition = {};
};

inline TJobPtr NewJob(const std::string& AId, const TJobSpec& ASpec = {}) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AId);
  LJob->SetDisplayText(ASpec.Text.empty() ? "Job " + AId : ASpec.Text);
  LJob->SetIsManual(ASpec.Manual);
  LJob->SetOrder(ASpec.Order);
  LJob->SetNextExecution(ASpec.Due);
  if (ASpec.Condition) LJob->GetStartCondition()->AddCondition(ASpec.Condition);
  if (ASpec.Task.empty()) return LJob;
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = ASpec.Task;
  LJob->SetJobAction(LAction);
  return LJob;
}

}  // namespace Orvane::Testing
