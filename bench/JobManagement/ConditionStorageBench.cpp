#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "JobManagement/Storage/FileStartConditionStorageManager.h"
#include "OrvaneCore/Logging/LogSink.h"

// Saving and loading the condition storage file of N jobs, each with two storages (an interval and a
// daily condition, every value set). The file lives under $TMPDIR: on a disk, every save pays for the
// flushes of the atomic replace.
namespace Orvane {
namespace {

// GUID-like keys that differ from their first digit on, as the ids of real jobs do.
std::string JobKey(int AIndex) {
  uint64_t LBits = static_cast<uint64_t>(AIndex) * 0x9E3779B97F4A7C15ull;
  LBits ^= LBits >> 29;
  char LKey[48];
  std::snprintf(LKey, sizeof LKey, "{%08X-1B2C-4D3E-8F40-%012llX}", static_cast<unsigned>(LBits >> 32),
                static_cast<unsigned long long>(LBits & 0xFFFFFFFFFFFFull));
  return LKey;
}

TJobPtr MakeJob(int AIndex) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(JobKey(AIndex));
  for (const char* LName : {"TStartConditionInterval#1", "TStartConditionDaily#1"}) {
    auto LStorage = std::make_shared<TStartConditionStorage>();
    LStorage->SetName(LName);
    LStorage->SetLastRun(46083.385763888888 + AIndex / 86400.0);
    LStorage->SetLastDrop(46082.99998842593);
    LStorage->SetSplaySeconds(AIndex % 3600);
    LStorage->SetAnchor(46080.333333333328);
    LStorage->SetSkippedUntil(46083.291666666672);
    LJob->GetStartCondition()->GetStorages()->push_back(LStorage);
  }
  return LJob;
}

std::string NewDirectory() {
  std::string LTemplate = (std::filesystem::temp_directory_path() / "orvane-bench-XXXXXX").string();
  if (!mkdtemp(LTemplate.data())) std::abort();
  return LTemplate;
}

// A loaded manager with N registered jobs; each save changes one value, so that every save writes.
void BM_SaveConditionStorages(benchmark::State& AState) {
  RemoveAllLogSinks();
  const int LCount = static_cast<int>(AState.range(0));
  const std::string LDir = NewDirectory();
  TFileStartConditionStorageManagerNoFilePermissions<> LManager(LDir + "/ConditionStorage.xml");
  LManager.LoadConditionStorages();
  TJobList LJobs;
  for (int I = 0; I < LCount; ++I) {
    LJobs.push_back(MakeJob(I));
    LManager.RegisterJob(LJobs.back());
  }
  const TStartConditionStoragePtr LChanging = LJobs.front()->GetStartCondition()->GetStorages()->front();
  for (auto _ : AState) {
    LChanging->SetLastRun(LChanging->GetLastRun() + 1.0 / 86400.0);
    if (!LManager.SaveConditionStorages()) AState.SkipWithError("the save failed");
  }
  AState.counters["bytes"] = static_cast<double>(std::filesystem::file_size(LDir + "/ConditionStorage.xml"));
  AState.SetItemsProcessed(AState.iterations() * LCount);
  std::filesystem::remove_all(LDir);
}
BENCHMARK(BM_SaveConditionStorages)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// An agent start: a new manager, the N jobs registered as the provider's first fetch does, then the
// file read and merged into their live storages.
void BM_LoadConditionStorages(benchmark::State& AState) {
  RemoveAllLogSinks();
  const int LCount = static_cast<int>(AState.range(0));
  const std::string LDir = NewDirectory();
  const std::string LPath = LDir + "/ConditionStorage.xml";
  TJobList LJobs;
  {
    TFileStartConditionStorageManagerNoFilePermissions<> LWriter(LPath);
    LWriter.LoadConditionStorages();
    for (int I = 0; I < LCount; ++I) {
      LJobs.push_back(MakeJob(I));
      LWriter.RegisterJob(LJobs.back());
    }
    LWriter.SaveConditionStorages();
  }
  for (auto _ : AState) {
    TFileStartConditionStorageManagerNoFilePermissions<> LManager(LPath);
    for (const TJobPtr& LJob : LJobs) LManager.RegisterJob(LJob);
    LManager.LoadConditionStorages();
  }
  AState.SetItemsProcessed(AState.iterations() * LCount);
  std::filesystem::remove_all(LDir);
}
BENCHMARK(BM_LoadConditionStorages)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace Orvane
