#include "ConsoleJobStateNotifier.h"

#include <gtest/gtest.h>

#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {
namespace {

TEST(ConsoleJobStateNotifierTest, AFinishedJobsLineEndsWithTheResultOfItsRun) {
  TConsoleJobStateNotifier LConsole;
  const auto LJob = std::make_shared<TJob>();
  LJob->SetDisplayText("Computer Scanner");
  LJob->SetIdentifier("{ID}");
  std::string LOut;
  for (const TJobResult LResult :
       {TJobResult::jrSucceeded, TJobResult::jrFailed, TJobResult::jrCutShort, TJobResult::jrNoResult}) {
    LJob->SetLastResult(LResult);
    testing::internal::CaptureStdout();
    LConsole.JobDone(LJob);
    LOut += testing::internal::GetCapturedStdout();
  }
  EXPECT_NE(LOut.find("  done                   Computer Scanner {ID}  succeeded\n"), std::string::npos) << LOut;
  EXPECT_NE(LOut.find("Computer Scanner {ID}  failed\n"), std::string::npos) << LOut;
  EXPECT_NE(LOut.find("Computer Scanner {ID}  cut short\n"), std::string::npos) << LOut;
  EXPECT_NE(LOut.find("Computer Scanner {ID}  no result\n"), std::string::npos) << LOut;
}

}  // namespace
}  // namespace Orvane
