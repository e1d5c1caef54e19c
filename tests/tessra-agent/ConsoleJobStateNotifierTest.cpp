#include <gtest/gtest.h>

#include "ConsoleJobStateNotifier.h"
#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {
namespace {

TEST(ConsoleJobStateNotifierTest, AFinishedJobsLineEndsWithTheResultOfItsRun) {
  TConsoleJobStateNotifier LConsole;
  const auto LJob = std::make_shared<TJob>();
  LJob->SetDisplayText("Computer Scanner");
  LJob->SetIdentifier("{ID}");
  for (const auto& [LResult, LLine] : std::vector<std::pair<TJobResult, std::string>>{
           {TJobResult::jrSucceeded, "  done                   Computer Scanner {ID}  succeeded\n"},
           {TJobResult::jrFailed, "Computer Scanner {ID}  failed\n"},
           {TJobResult::jrCutShort, "Computer Scanner {ID}  cut short\n"},
           {TJobResult::jrNoResult, "Computer Scanner {ID}  no result\n"}}) {
    LJob->SetLastResult(LResult);
    testing::internal::CaptureStdout();
    LConsole.JobDone(LJob);
    EXPECT_TRUE(testing::internal::GetCapturedStdout().ends_with(LLine)) << LLine;
  }
}

}  // namespace
}  // namespace Orvane
