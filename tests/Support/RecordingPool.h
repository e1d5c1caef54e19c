#pragma once

#include <functional>
#include <vector>

#include "JobManagement/JobProcessor/CustomJobProcessorPool.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane::Testing {

// A pool of processors without a thread, with a parallel limit: each records the jobs it was asked
// to run and runs nothing; the test ends a run with Finish.
class TRecordingPool : public TCustomJobProcessorPool<> {
public:
  explicit TRecordingPool(int32_t ALimit) : TCustomJobProcessorPool(nullptr, ALimit) {}
  TClassName GetJobActionClass() override { return "TJobAction"; }

  std::vector<TJobPtr> Started() EXCLUDES(FLock) {
    TMutexLock LGuard(FLock);
    return FStarted;
  }
  // Ends the run of AJob as its processor would: releases it with notification.
  void Finish(const TJobPtr& AJob) EXCLUDES(FLock) {
    std::vector<std::shared_ptr<TProcessor>> LProcessors;
    {
      TMutexLock LGuard(FLock);
      LProcessors = FProcessors;
    }
    for (const auto& LCandidate : LProcessors)
      if (LCandidate->GetJob() == AJob) return ReleaseProcessor(LCandidate.get(), true);
  }

  // Runs first in every ProcessJob (a start that fails, for one); set before the pool is used.
  std::function<void(const TJobPtr&)> OnProcessJob;

protected:
  std::shared_ptr<IJobProcessor<>> CreateProcessor(const TJobPtr&) override EXCLUDES(FLock) {
    TMutexLock LGuard(FLock);
    return FProcessors.emplace_back(std::make_shared<TProcessor>(*this));
  }

private:
  class TProcessor : public IJobProcessor<> {
  public:
    explicit TProcessor(TRecordingPool& APool) : FPool(APool) {}
    TJobPtr GetJob() override {
      TMutexLock LGuard(FPool.FLock);
      return FJob;
    }
    void SetJob(const TJobPtr& AJob) override {
      TMutexLock LGuard(FPool.FLock);
      FJob = AJob;
    }
    bool CanProcessJobAction(const TClassName&) override { return true; }
    TJobResult ProcessAndWaitForJob() override { return TJobResult::jrSucceeded; }
    void ProcessJob(const TJobPtr& AJob) override {
      if (FPool.OnProcessJob) FPool.OnProcessJob(AJob);
      TMutexLock LGuard(FPool.FLock);
      FJob = AJob;
      FPool.FStarted.push_back(AJob);
    }
    void SetProcessorPool(const std::shared_ptr<IJobProcessorPool<>>&) override {}
    void SetJobExecStateReporter(const std::shared_ptr<IJobExecStateReporter>&) override {}

  private:
    TRecordingPool& FPool;
    TJobPtr FJob GUARDED_BY(FPool.FLock);
  };

  TMutex FLock;
  std::vector<TJobPtr> FStarted GUARDED_BY(FLock);
  std::vector<std::shared_ptr<TProcessor>> FProcessors GUARDED_BY(FLock);
};

}  // namespace Orvane::Testing
