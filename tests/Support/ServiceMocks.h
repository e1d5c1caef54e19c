#pragma once

#include <gmock/gmock.h>

#include "JobManagement/JobService/JobDispatcherIntf.h"
#include "JobManagement/JobService/JobSchedulerIntf.h"
#include "JobManagement/JobService/JobServantIntf.h"
#include "OrvaneCore/Interfaces/JobStateNotifier.Intf.h"

namespace Orvane::Testing {

// A servant whose answers the test sets; its events are real, so tests can raise them.
class MockJobServant : public IJobServant {
public:
  MockJobServant() {
    using ::testing::_, ::testing::Return;
    ON_CALL(*this, GetIsSystemShutdownInProgress()).WillByDefault(Return(false));
    ON_CALL(*this, IsJobStartAllowed(_)).WillByDefault(Return(true));
    ON_CALL(*this, IsJobStartDuringRebootAllowed(_)).WillByDefault(Return(true));
  }
  TNotifyEvent& GetOnJobStartAllowed() override { return FAllowed; }
  TNotifyEvent& GetOnJobStartDenied() override { return FDenied; }
  MOCK_METHOD(bool, GetIsSystemShutdownInProgress, (), (override));
  MOCK_METHOD(void, SetIsSystemShutdownInProgress, (bool), (override));
  MOCK_METHOD(bool, IsJobStartAllowed, (const TJobPtr&), (override));
  MOCK_METHOD(bool, IsRestartRequested, (), (override));
  MOCK_METHOD(bool, IsRebootRequested, (), (override));
  MOCK_METHOD(bool, IsJobStartDuringRebootAllowed, (const std::string&), (override));
  MOCK_METHOD(void, SetRebootRequested, (bool), (override));

  TNotifyEvent FAllowed{"OnJobStartAllowed"};
  TNotifyEvent FDenied{"OnJobStartDenied"};
};

class MockJobScheduler : public IJobScheduler {
public:
  MOCK_METHOD(int32_t, UpdateQueue, (TConditions), (override));
};

class MockJobDispatcher : public IJobDispatcher {
public:
  MOCK_METHOD(int32_t, ProcessQueue, (), (override));
  TJobEvent& GetOnJobDropped() override { return FDropped; }
  TJobEvent FDropped{"OnJobDropped"};
};

// A job list whose content the test sets: automatic jobs by order after the manual ones.
class TFakeJobListProvider : public IJobListProvider<> {
public:
  TNotifyEvent& GetOnPullRequestReceived() override { return FPull; }
  TOnNewManualJobEvent& GetOnManualJobsChanged() override { return FManualChanged; }
  bool GetLoadListFromServerOnNextFetch() override { return FReload.load(); }
  void SetLoadListFromServerOnNextFetch(bool AValue) override { FReload.store(AValue); }
  TSystemRunInfoPtr GetSystemRunInfo() override { return nullptr; }
  void SetSystemRunInfo(const TSystemRunInfoPtr&) override {}
  int32_t AddManualJob(const TJobPtr& AJob) override {
    {
      TMutexLock LLock(FLock);
      AJob->SetIsManual(true);
      FJobs.insert(FJobs.begin(), AJob);
    }
    FManualChanged.Invoke(AJob);
    return 0;
  }
  void RemoveManualJob(const TJobPtr& AJob) override {
    TMutexLock LLock(FLock);
    std::erase_if(FJobs, [&](const TJobPtr& A) { return A->Equals(*AJob); });
  }
  TJobList FetchJobList() override {
    TMutexLock LLock(FLock);
    return FJobs;
  }
  int32_t SaveQueuedManualJobs() override { return 0; }
  void LoadQueuedManualJobs() override {}
  void SaveConditionStorages() override { ++FStorageSaves; }

  TNotifyEvent FPull{"OnPullRequestReceived"};
  TOnNewManualJobEvent FManualChanged{"OnManualJobsChanged"};
  std::atomic<bool> FReload{true};
  std::atomic<int> FStorageSaves{0};

private:
  TMutex FLock;
  TJobList FJobs GUARDED_BY(FLock);
};

}  // namespace Orvane::Testing
