#pragma once

#include <gmock/gmock.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "JobManagement/JobService/JobQueueIntf.h"
#include "JobManagement/Storage/ManualJobStorage.Intf.h"
#include "OrvaneClientShared/StartConditionStorageManager.Intf.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "Support/RecordingJobStorage.h"

namespace Orvane::Testing {

// A start condition storage manager that records what it was asked, by job identifier. Thread-safe.
class TRecordingStorageManager : public virtual IStartConditionStorageManager<TScannerJobAction> {
public:
  void LoadConditionStorages() override { ++FLoads; }
  void RegisterJob(const TJobPtr& AJob) override { Record(AJob, true); }
  bool SaveConditionStorages() override {
    ++FSaves;
    return true;
  }
  void UnRegisterJob(const TJobPtr& AJob) override { Record(AJob, false); }

  int Loads() const { return FLoads.load(); }
  int Saves() const { return FSaves.load(); }
  std::vector<std::string> Registered() const { return Read(true); }
  std::vector<std::string> Unregistered() const { return Read(false); }

private:
  void Record(const TJobPtr& AJob, bool ARegistered) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    FJobs[ARegistered].push_back(AJob->GetIdentifier());
  }
  std::vector<std::string> Read(bool ARegistered) const EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    return FJobs[ARegistered];
  }

  mutable TMutex FLock;
  std::atomic<int> FLoads{0};
  std::atomic<int> FSaves{0};
  std::vector<std::string> FJobs[2] GUARDED_BY(FLock);  // unregistered, registered
};

// The recording saver and loader in the forms the job list provider of agent tasks is built with.
class TRecordingJobListSaver : public TRecordingJobSaver,
                               public virtual IManualJobSaverJobList<TScannerJobAction> {};
class TRecordingJobListLoader : public TRecordingJobLoader,
                                public virtual IManualJobLoaderJobList<TScannerJobAction> {};

// A job list provider whose source the test scripts: LoadJobs hands out copies of Source, or raises
// while Raise is set. Set the fields before other threads use the provider.
class TScriptedJobListProvider : public TCustomJobListProvider<> {
public:
  using TCustomJobListProvider<>::TCustomJobListProvider;

  TJobList Source;
  bool Raise = false;
  std::atomic<int> LoadCount{0};
  // Runs inside LoadJobs, under the provider's lock.
  std::function<void()> OnLoad;

protected:
  bool LoadJobs(TJobList& AJobs, int32_t&) override REQUIRES(FSynchronizer) {
    ++LoadCount;
    if (OnLoad) OnLoad();
    if (Raise) throw EFileError("The job source cannot be read");
    for (const TJobPtr& LJob : Source) AJobs.push_back(CloneAs(*LJob));
    return true;
  }
};

}  // namespace Orvane::Testing
