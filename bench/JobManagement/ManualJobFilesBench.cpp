#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "JobManagement/Storage/FileJobListProvider.h"
#include "JobManagement/Storage/FileJobListSaver.h"
#include "OrvaneCore/Conditions/StartCondition.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/LogSink.h"

namespace Orvane {
namespace {

// Manual agent-task jobs as an operator asks for them: an action and a delay condition each.
// AVariant changes one job, so that two lists of one size differ by a few bytes.
TJobList MakeManualJobs(int ACount, int AVariant = 0) {
  TJobList LJobs;
  for (int LIndex = 0; LIndex < ACount; ++LIndex) {
    auto LJob = std::make_shared<TJob>();
    LJob->SetIdentifier("{MANUAL-JOB-" + std::to_string(LIndex) + "}");
    LJob->SetDisplayText("Software scan requested by the operator");
    LJob->SetIsManual(true);
    LJob->SetOrder(LIndex % 7 + (LIndex == 0 ? AVariant : 0));
    auto LAction = std::make_shared<TScannerJobAction>();
    LAction->AgentTaskId = "{TASK-" + std::to_string(LIndex % 13) + "}";
    LAction->ExecutionId = "{EXECUTION-" + std::to_string(LIndex) + "}";
    LJob->SetJobAction(LAction);
    auto LDelay = std::make_shared<TStartConditionOnDelay>();
    LDelay->SetDelayValue(LIndex % 60);
    LJob->GetStartCondition()->AddCondition(LDelay);
    LJobs.push_back(LJob);
  }
  return LJobs;
}

// A scratch directory on the disk (where a save's flush waits for the device) or on a memory file
// system (where the flush costs nothing: the product cannot skip it, so this is the save without
// it). Removed at the end.
class TScratchDir {
public:
  explicit TScratchDir(bool AOnDisk) {
    std::string LTemplate = std::string(AOnDisk ? "/var/tmp" : "/dev/shm") + "/orvane-bench-XXXXXX";
    if (mkdtemp(LTemplate.data())) FPath = LTemplate;
  }
  ~TScratchDir() {
    std::error_code LIgnored;
    if (!FPath.empty()) std::filesystem::remove_all(FPath, LIgnored);
  }
  std::string File() const { return FPath + "/ManualJobsInJobQueue.xml"; }
  bool IsValid() const { return !FPath.empty(); }

private:
  std::string FPath;
};

void Label(benchmark::State& AState, bool AOnDisk) {
  AState.SetLabel(AOnDisk ? "disk, flushed" : "memory, no flush");
}

// A save whose list changed since the last one: the whole file is written anew. Two lists that
// differ in one job take turns, so every save writes.
void BM_SaveChangedManualJobs(benchmark::State& AState) {
  RemoveAllLogSinks();
  const int LCount = static_cast<int>(AState.range(0));
  const bool LOnDisk = AState.range(1) != 0;
  TScratchDir LDir(LOnDisk);
  if (!LDir.IsValid()) return AState.SkipWithError("no scratch directory");
  const IEnumerable<TJobPtr> LLists[2] = {IEnumerable<TJobPtr>::FromVector(MakeManualJobs(LCount, 0)),
                                          IEnumerable<TJobPtr>::FromVector(MakeManualJobs(LCount, 1))};
  TFileJobListSaverNoPermissionsNoLogging LSaver(LDir.File());
  int LTurn = 0;
  for (auto _ : AState) LSaver.SaveItems(LLists[LTurn++ & 1]);
  AState.SetItemsProcessed(AState.iterations() * LCount);
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations()) *
                           static_cast<int64_t>(std::filesystem::file_size(LDir.File())));
  Label(AState, LOnDisk);
}
BENCHMARK(BM_SaveChangedManualJobs)
    ->ArgsProduct({{10, 1000, 10000}, {1, 0}})
    ->ArgNames({"jobs", "disk"})
    ->Unit(benchmark::kMicrosecond);

// A save of the very list the file holds: serialised and compared, not written.
void BM_SaveUnchangedManualJobs(benchmark::State& AState) {
  RemoveAllLogSinks();
  const int LCount = static_cast<int>(AState.range(0));
  TScratchDir LDir(true);
  if (!LDir.IsValid()) return AState.SkipWithError("no scratch directory");
  const IEnumerable<TJobPtr> LList = IEnumerable<TJobPtr>::FromVector(MakeManualJobs(LCount));
  TFileJobListSaverNoPermissionsNoLogging LSaver(LDir.File());
  LSaver.SaveItems(LList);
  for (auto _ : AState) LSaver.SaveItems(LList);
  AState.SetItemsProcessed(AState.iterations() * LCount);
  Label(AState, true);
}
BENCHMARK(BM_SaveUnchangedManualJobs)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(10000)
    ->ArgName("jobs")
    ->Unit(benchmark::kMicrosecond);

// A loader's one load: read (from the page cache), parse, make the jobs, sort them by Order.
void BM_LoadManualJobs(benchmark::State& AState) {
  RemoveAllLogSinks();
  const int LCount = static_cast<int>(AState.range(0));
  TScratchDir LDir(true);
  if (!LDir.IsValid()) return AState.SkipWithError("no scratch directory");
  TFileJobListSaverNoPermissionsNoLogging(LDir.File())
      .SaveItems(IEnumerable<TJobPtr>::FromVector(MakeManualJobs(LCount)));
  for (auto _ : AState) {
    TFileJobListProvider<> LLoader(LDir.File());
    LLoader.LoadData();
    if (LLoader.GetItemList().size() != static_cast<std::size_t>(LCount))
      return AState.SkipWithError("the file did not load");
  }
  AState.SetItemsProcessed(AState.iterations() * LCount);
}
BENCHMARK(BM_LoadManualJobs)->Arg(10)->Arg(1000)->Arg(10000)->ArgName("jobs")->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace Orvane
