#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "JobManagement/Storage/FileStartConditionStorageManager.h"
#include "OrvaneCore/Conditions/StartConditionDaily.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "Support/LogCapture.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"
#include "Support/TempDir.h"

// Agent restarts end to end: a job list provider loads its jobs, registers them with the manager,
// which reads and writes the storage file; the job's real start conditions decide whether it is due.
// A restart is a new manager and a new provider on the same directory.
namespace Orvane {
namespace {

constexpr const char* CJobId = "{3C9A7E21-5D4F-4B8A-9C6E-1F2A3B4C5D6E}";

TJobPtr IntervalJob(int32_t AMinutes, int32_t AMaxSplaySeconds = 0) {
  auto LCondition = std::make_shared<TStartConditionInterval>();
  LCondition->SetIntervalValue(AMinutes);
  LCondition->SetIntervalUnit(TDelayUnit::duMinutes);
  LCondition->SetMaxSplaySeconds(AMaxSplaySeconds);
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(CJobId);
  LJob->GetStartCondition()->AddCondition(LCondition);
  return LJob;
}

TJobPtr DailyJob(int AHour, int AMinute, int32_t AMaxSplaySeconds) {
  auto LCondition = std::make_shared<TStartConditionDaily>();
  LCondition->SetTimeOfDay(AHour, AMinute);
  LCondition->SetMaxSplaySeconds(AMaxSplaySeconds);
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(CJobId);
  LJob->GetStartCondition()->AddCondition(LCondition);
  return LJob;
}

bool IsDue(const TJobPtr& AJob) {
  return AJob->GetStartCondition()->CalcNextExecution(Now()) >= 0;
}

const TStartConditionStoragePtr& StorageOf(const TJobPtr& AJob) {
  return AJob->GetStartCondition()->GetStorages()->front();
}

// One run of the agent: the manager on the storage file and a provider whose source is ASource.
class TAgentProcess {
public:
  TAgentProcess(const std::string& AFilePath, TJobPtr ASource)
      : FManager(std::make_shared<TFileStartConditionStorageManagerNoFilePermissions<>>(AFilePath)),
        FProvider(std::make_shared<Testing::TScriptedJobListProvider>(
            nullptr, std::make_shared<TSystemRunInfo>(), FManager, nullptr, nullptr, "StorageRestartTest")) {
    FProvider->Source = {std::move(ASource)};
  }

  // The provider's job of the source (a new object at every load that brings the job back).
  TJobPtr FetchJob() {
    const TJobList LJobs = FProvider->FetchJobList();
    return LJobs.empty() ? nullptr : LJobs.front();
  }
  // What the job service does when a job has finished.
  void RecordRun(const TJobPtr& AJob) {
    AJob->GetStartCondition()->SetAlreadyRunFlag(true);
    FProvider->SaveConditionStorages();
  }
  // The source changes and the provider reloads it.
  TJobPtr Reload(TJobPtr ASource) {
    FProvider->Source.clear();
    if (ASource) FProvider->Source.push_back(std::move(ASource));
    FProvider->SetLoadListFromServerOnNextFetch(true);
    return FetchJob();
  }

private:
  std::shared_ptr<TFileStartConditionStorageManagerNoFilePermissions<>> FManager;
  std::shared_ptr<Testing::TScriptedJobListProvider> FProvider;
};

class StartConditionStorageManagerRestartTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(FDir.Path().empty());
  }

  // An agent process; the one before it must be gone (it saves as it goes).
  std::unique_ptr<TAgentProcess> Start(TJobPtr ASource) {
    return std::make_unique<TAgentProcess>(FPath, std::move(ASource));
  }
  int StoredUpdates() const { return FLog->Count(TLogEntryKind::Object, "Store of job after update"); }

  Testing::TManualClockScope FClock{EncodeDateTime(2026, 3, 2, 10, 0, 0)};
  Testing::TTempDir FDir{"orvane-restart"};
  const std::string FPath = FDir.Path() + "/ConditionStorage.xml";
  Testing::TLogCapture FLog;
};

TEST_F(StartConditionStorageManagerRestartTest, DailyJobThatRanTodayDoesNotRunAgainToday) {
  Clock().AdvanceSeconds(13 * 3600);  // 2 March 23:00
  // Splayed over the whole day: a job that forgot its run would draw a new splay and, most
  // likely, fall due again later the same day.
  auto LAgent = Start(DailyJob(0, 0, 23 * 3600));
  TJobPtr LJob = LAgent->FetchJob();
  StorageOf(LJob)->SetSplaySeconds(3600);
  EXPECT_FALSE(IsDue(LJob));
  Clock().AdvanceSeconds(2 * 3600);  // 3 March 01:00
  ASSERT_TRUE(IsDue(LJob));
  LAgent->RecordRun(LJob);
  const TDateTime LLastRun = StorageOf(LJob)->GetLastRun();
  Clock().AdvanceSeconds(5 * 60);
  LAgent.reset();

  LAgent = Start(DailyJob(0, 0, 23 * 3600));
  LJob = LAgent->FetchJob();
  EXPECT_EQ(StorageOf(LJob)->GetLastRun(), LLastRun);
  EXPECT_EQ(StorageOf(LJob)->GetSplaySeconds(), 3600);
  for (int LHour = 1; LHour < 23; ++LHour) {
    EXPECT_FALSE(IsDue(LJob)) << "at " << DateTimeToText(Now());
    Clock().AdvanceSeconds(3600);
  }
  EXPECT_FALSE(IsDue(LJob));
  Clock().AdvanceSeconds(2 * 3600 - 5 * 60);  // 4 March 01:00
  EXPECT_TRUE(IsDue(LJob));
}

TEST_F(StartConditionStorageManagerRestartTest, SplayDrawnBeforeTheRestartIsTheSameAfterIt) {
  auto LAgent = Start(IntervalJob(60, 3600));
  TJobPtr LJob = LAgent->FetchJob();
  IsDue(LJob);
  const int32_t LSplay = StorageOf(LJob)->GetSplaySeconds();
  ASSERT_GE(LSplay, 0);
  const TDateTime LPlanned = LJob->GetStartCondition()->NextPlannedTime(Now());
  Clock().AdvanceSeconds(60);
  LAgent.reset();

  LAgent = Start(IntervalJob(60, 3600));
  LJob = LAgent->FetchJob();
  EXPECT_EQ(StorageOf(LJob)->GetSplaySeconds(), LSplay);
  IsDue(LJob);
  EXPECT_EQ(StorageOf(LJob)->GetSplaySeconds(), LSplay);
  EXPECT_EQ(LJob->GetStartCondition()->NextPlannedTime(Now()), LPlanned);
}

TEST_F(StartConditionStorageManagerRestartTest,
       JobThatLeftTheListKeepsItsStateAcrossARestartAndWhenItComesBack) {
  auto LAgent = Start(IntervalJob(60));
  TJobPtr LJob = LAgent->FetchJob();
  ASSERT_TRUE(IsDue(LJob));
  LAgent->RecordRun(LJob);
  // The server drops the job: it leaves the list (unregistered), and the agent stops.
  EXPECT_EQ(LAgent->Reload(nullptr), nullptr);
  Clock().AdvanceSeconds(10 * 60);
  LAgent.reset();

  // The next agent gets the job back: the state stored while it was absent is applied.
  LAgent = Start(IntervalJob(60));
  LJob = LAgent->FetchJob();
  ASSERT_TRUE(LJob);
  EXPECT_EQ(StoredUpdates(), 1);
  EXPECT_FALSE(IsDue(LJob));

  // Out and back in within one run: a new job object, the same state.
  EXPECT_EQ(LAgent->Reload(nullptr), nullptr);
  TJobPtr LBack = LAgent->Reload(IntervalJob(60));
  ASSERT_TRUE(LBack);
  EXPECT_NE(LBack, LJob);
  EXPECT_FALSE(IsDue(LBack));
  Clock().AdvanceSeconds(50 * 60);
  EXPECT_TRUE(IsDue(LBack));
}

}  // namespace
}  // namespace Orvane
