#include "DefaultJobList.h"

#include <memory>
#include <string>

#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Conditions/StartConditionOnAgentStart.h"
#include "OrvaneCore/Conditions/StartConditionOnShutdown.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Jobs/JobAction.h"

namespace Orvane {

namespace {

TJobPtr CreateAgentTaskJob(const std::string& AIdentifier, const std::string& ADisplayText,
                           const std::string& AAgentTaskId, int32_t AOrder) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AIdentifier);
  LJob->SetDisplayText(ADisplayText);
  LJob->SetOrder(AOrder);
  LJob->SetItemKind(CAgentTaskItemKind);
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = AAgentTaskId;
  LAction->IsPredefined = false;
  LJob->SetJobAction(LAction);
  return LJob;
}

std::shared_ptr<TStartConditionInterval> EveryMinutes(int32_t AMinutes, int32_t AMaxSplaySeconds) {
  auto LCondition = std::make_shared<TStartConditionInterval>();
  LCondition->SetIntervalValue(AMinutes);
  LCondition->SetIntervalUnit(TDelayUnit::duMinutes);
  LCondition->SetMaxSplaySeconds(AMaxSplaySeconds);
  return LCondition;
}

}  // namespace

TJobList BuildDefaultJobList() {
  TJobList LJobs;

  TJobPtr LScan = CreateAgentTaskJob(CComputerScanJobId, "Computer Scanner", std::string(CComputerScannerId), 1);
  LScan->GetStartCondition()->AddCondition(std::make_shared<TStartConditionOnAgentStart>());
  LScan->GetStartCondition()->AddCondition(EveryMinutes(2, 20));
  LJobs.push_back(LScan);

  TJobPtr LShutdownScan = CreateAgentTaskJob(CShutdownComputerScanJobId, "Computer Scanner at shutdown",
                                             std::string(CComputerScannerId), 2);
  LShutdownScan->GetStartCondition()->AddCondition(std::make_shared<TStartConditionOnShutdown>());
  LJobs.push_back(LShutdownScan);

  TJobPtr LWatch = CreateAgentTaskJob(CSettingsWatchJobId, "Settings watch", std::string(CSettingsWatchId), 3);
  LWatch->GetStartCondition()->AddCondition(EveryMinutes(5, 0));
  LJobs.push_back(LWatch);

  TJobPtr LSoftware =
      CreateAgentTaskJob(CSoftwareScanJobId, "Software Scanner", std::string(CSoftwareScannerId), 4);
  LSoftware->GetStartCondition()->AddCondition(EveryMinutes(10, 60));
  LJobs.push_back(LSoftware);

  TJobPtr LLastUser =
      CreateAgentTaskJob(CLastUserScanJobId, "Last user Scanner", std::string(CLastUserScannerId), 5);
  LLastUser->GetStartCondition()->AddCondition(std::make_shared<TStartConditionOnAgentStart>());
  LJobs.push_back(LLastUser);

  return LJobs;
}

}  // namespace Orvane
