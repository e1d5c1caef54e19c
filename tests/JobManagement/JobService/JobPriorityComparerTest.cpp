#include <gtest/gtest.h>

#include <memory>

#include "JobManagement/JobService/JobPriorityComparer.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {
namespace {

constexpr double CHalfMillisecond = 0.0005 / CSecondsPerDay;

struct TKeys {
  bool IsManual = false;
  TDateTime Due = CNoDateTime;
  int32_t Order = 0;
  int32_t QueueIndex = 0;
};

TJobPtr JobWith(const TKeys& AKeys) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIsManual(AKeys.IsManual);
  LJob->SetNextExecution(AKeys.Due);
  LJob->SetOrder(AKeys.Order);
  LJob->SetQueueIndex(AKeys.QueueIndex);
  return LJob;
}

// Each row: the job that must come first, the other one, and why.
struct TRow {
  TKeys First;
  TKeys Second;
  const char* Why;
};

TEST(JobPriorityComparerTest, EachRuleDecidesOnlyWhenTheRulesBeforeItTie) {
  const TRow LRows[] = {
      {{.IsManual = true, .Due = CNoDateTime}, {.Due = 100.0}, "manual beats an earlier due time"},
      {{.Due = 200.0, .Order = 9}, {.Due = CNoDateTime, .Order = -5}, "a due time beats none"},
      {{.Due = 100.0, .Order = 9}, {.Due = 100.1, .Order = 0}, "the earlier due time beats Order"},
      {{.Due = 100.0 + CHalfMillisecond, .Order = 1},
       {.Due = 100.0, .Order = 2},
       "due times under a millisecond apart are equal, so Order decides"},
      {{.Due = CNoDateTime, .Order = -1, .QueueIndex = 7},
       {.Due = CNoDateTime, .Order = 0, .QueueIndex = 0},
       "two without a due time go by Order"},
      {{.Due = 100.0, .Order = 3, .QueueIndex = -2},
       {.Due = 100.0, .Order = 3, .QueueIndex = 1},
       "then by QueueIndex, signed"},
      {{.IsManual = true, .Due = 50.0},
       {.IsManual = true, .Due = CNoDateTime},
       "two manual jobs go by due time"},
  };
  TJobPriorityComparer LComparer;
  for (const TRow& LRow : LRows) {
    const TJobPtr LFirst = JobWith(LRow.First);
    const TJobPtr LSecond = JobWith(LRow.Second);
    EXPECT_EQ(LComparer.Compare(*LFirst, *LSecond), -1) << LRow.Why;
    EXPECT_EQ(LComparer.Compare(*LSecond, *LFirst), 1) << LRow.Why;
  }
}

}  // namespace
}  // namespace Orvane
