#pragma once

#include <functional>
#include <vector>

#include "JobManagement/JobProcessor/CustomJobProcessorPool.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane::Testing {

using TProcessJobHook = std::function<void(const TJobPtr&)>;

// A processor without a thread: it records the jobs it was asked to run and runs nothing; the test
// ends a run by releasing the processor to its pool.
class TRecordingProcessor : public IJobProcessor<> {
public:
  TRecordingProcessor(TMutex& ALock, std::vector<TJobPtr>& AStarted, const TProcessJobHook& AOnProcessJob)
      : FLock(ALock), FStarted(AStarted), FOnProcessJob(AOnProcessJob) {}
  TJobPtr GetJob() override {
    TMutexLock LGuard(FLock);
    return FJob;
  }
  void SetJob(const TJobPtr& AJob) override {
    TMutexLock LGuard(FLock);
    FJob = AJob;
  }
  bool CanProcessJobAction(const TClassName&) override { return true; }
  TJobResult ProcessAndWaitForJob() override { return TJobResult::jrSucceeded; }
  void ProcessJob(const TJobPtr& AJob) override {
    if (FOnProcessJob) FOnProcessJob(AJob);
    TMutexLock LGuard(FLock);
    FJob = AJob;
    FStarted.push_back(AJob);
  }
  void SetProcessorPool(const std::shared_ptr<IJobProcessorPool<>>&) override {}
  void SetJobExecStateReporter(const std::shared_ptr<IJobExecStateReporter>&) override {}

private:
  TMutex& FLock;
  std::vector<TJobPtr>& FStarted GUARDED_BY(FLock);
  const TProcessJobHook& FOnProcessJob;
  TJobPtr FJob GUARDED_BY(FLock);
};

// A pool of recording processors with a parallel limit.
class TRecordingPool : public TCustomJobProcessorPool<> {
public:
  explicit TRecordingPool(int32_t ALimit) : TCustomJobProcessorPool(nullptr, ALimit) {}
  TClassName GetJobActionClass() override { return "TJobAction"; }

  std::vector<TJobPtr> Started() {
    TMutexLock LGuard(FLock);
    return FStarted;
  }
  // Ends the run of AJob as its processor would: releases it with notification.
  void Finish(const TJobPtr& AJob) {
    std::vector<std::shared_ptr<TRecordingProcessor>> LProcessors;
    {
      TMutexLock LGuard(FLock);
      LProcessors = FProcessors;
    }
    for (const auto& LCandidate : LProcessors)
      if (LCandidate->GetJob() == AJob) return ReleaseProcessor(LCandidate.get(), true);
  }

  // Runs first in every ProcessJob (a start that fails, for one); set before the pool is used.
  TProcessJobHook OnProcessJob;

protected:
  std::shared_ptr<IJobProcessor<>> CreateProcessor(const TJobPtr&) override {
    TMutexLock LGuard(FLock);
    auto LProcessor = std::make_shared<TRecordingProcessor>(FLock, FStarted, OnProcessJob);
    FProcessors.push_back(LProcessor);
    return LProcessor;
  }

private:
  TMutex FLock;
  std::vector<TJobPtr> FStarted GUARDED_BY(FLock);
  std::vector<std::shared_ptr<TRecordingProcessor>> FProcessors GUARDED_BY(FLock);
};

}  // namespace Orvane::Testing
