// The agent's scanners on real input: the software scanner over this machine's package database,
// the file scanner over a generated tree of 10,000 files, and the last-user scanner over generated
// login records. "Collect" is the scan alone; "Execute" adds the XML result document and its
// atomic save into DATA/results, as a scheduled run does.
//
// Generated input and results go to a fresh directory under the system's temporary directory, or
// under ORVANE_BENCH_DIR when set. ORVANE_DPKG_STATUS names another package database.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <utmp.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "OrvaneCore/Jobs/JobAction.h"
#include "Tasks/DpkgStatusReader.h"
#include "Tasks/FileScannerTask.h"
#include "Tasks/LastUserScannerTask.h"
#include "Tasks/SoftwareScannerTask.h"

namespace {

using namespace Orvane;
namespace fs = std::filesystem;

constexpr int CTreeDirs = 100;
constexpr int CFilesPerDir = 100;
constexpr int CLoginRecords = 10000;

// A directory for the whole run, removed at exit.
class TBenchDir {
public:
  TBenchDir() {
    const char* LBase = getenv("ORVANE_BENCH_DIR");
    std::string LTemplate = (fs::path(LBase && *LBase ? LBase : fs::temp_directory_path().string()) /
                             "orvane-scanner-bench-XXXXXX")
                                .string();
    if (mkdtemp(LTemplate.data())) FPath = LTemplate;
  }
  ~TBenchDir() {
    std::error_code LIgnored;
    if (!FPath.empty()) fs::remove_all(FPath, LIgnored);
  }
  const std::string& Path() const { return FPath; }

private:
  std::string FPath;
};

TBenchDir& BenchDir() {
  static TBenchDir LDir;
  return LDir;
}

std::string StatusFile() {
  const char* LFile = getenv("ORVANE_DPKG_STATUS");
  return LFile && *LFile ? LFile : TDpkgStatusReader::CDefaultStatusFile;
}

// 100 directories of 100 small files each, made once.
const std::string& FileTree() {
  static const std::string LTree = [] {
    const std::string LRoot = BenchDir().Path() + "/tree";
    for (int D = 0; D < CTreeDirs; ++D) {
      const fs::path LDir = fs::path(LRoot) / ("dir" + std::to_string(D));
      fs::create_directories(LDir);
      for (int F = 0; F < CFilesPerDir; ++F)
        std::ofstream(LDir / ("file" + std::to_string(F) + ".txt")) << D * F;
    }
    return LRoot;
  }();
  return LTree;
}

const std::string& LoginRecords() {
  static const std::string LFile = [] {
    const std::string LName = BenchDir().Path() + "/wtmp";
    std::vector<struct utmp> LRecords(CLoginRecords);
    for (int I = 0; I < CLoginRecords; ++I) {
      struct utmp& LRecord = LRecords[I];
      std::memset(&LRecord, 0, sizeof(LRecord));
      LRecord.ut_type = I % 2 == 0 ? USER_PROCESS : DEAD_PROCESS;
      std::memcpy(LRecord.ut_user, "alice", 5);
      std::memcpy(LRecord.ut_line, "pts/0", 5);
      LRecord.ut_tv.tv_sec = 1700000000 + I;
    }
    std::ofstream(LName, std::ios::binary)
        .write(reinterpret_cast<const char*>(LRecords.data()),
               static_cast<std::streamsize>(LRecords.size() * sizeof(struct utmp)));
    return LName;
  }();
  return LFile;
}

void BM_SoftwareScannerCollect(benchmark::State& AState) {
  const TSoftwareScannerTask LTask(BenchDir().Path() + "/data", StatusFile());
  std::size_t LPackages = 0;
  for (auto _ : AState) {
    TSoftwareInventory LInventory;
    if (!LTask.Collect(LInventory, [] { return true; })) {
      AState.SkipWithError("the package database could not be read");
      return;
    }
    LPackages = LInventory.Packages.size();
  }
  AState.SetItemsProcessed(AState.iterations() * static_cast<int64_t>(LPackages));
  AState.counters["packages"] = static_cast<double>(LPackages);
}
BENCHMARK(BM_SoftwareScannerCollect)->Unit(benchmark::kMillisecond);

void BM_SoftwareScannerExecute(benchmark::State& AState) {
  TSoftwareScannerTask LTask(BenchDir().Path() + "/data", StatusFile());
  for (auto _ : AState)
    if (!LTask.Execute("bench-client", nullptr, [] { return true; })) {
      AState.SkipWithError("the run failed");
      return;
    }
}
BENCHMARK(BM_SoftwareScannerExecute)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FileScannerCollect(benchmark::State& AState) {
  const std::vector<std::string> LPaths{FileTree()};
  const TFileScannerTask LTask(BenchDir().Path() + "/data");
  std::size_t LFiles = 0;
  for (auto _ : AState) {
    TFileInventory LInventory;
    if (LTask.Collect(LInventory, LPaths, [] { return true; }) != TFileScannerTask::TOutcome::Complete) {
      AState.SkipWithError("the scan failed");
      return;
    }
    LFiles = LInventory.Files.size();
  }
  AState.SetItemsProcessed(AState.iterations() * static_cast<int64_t>(LFiles));
  AState.counters["files"] = static_cast<double>(LFiles);
}
BENCHMARK(BM_FileScannerCollect)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FileScannerExecute(benchmark::State& AState) {
  auto LAction = std::make_shared<TFileScannerJobAction>();
  LAction->Paths = {FileTree()};
  TFileScannerTask LTask(BenchDir().Path() + "/data");
  for (auto _ : AState)
    if (!LTask.Execute("bench-client", LAction, [] { return true; })) {
      AState.SkipWithError("the run failed");
      return;
    }
  AState.SetItemsProcessed(AState.iterations() * CTreeDirs * CFilesPerDir);
}
BENCHMARK(BM_FileScannerExecute)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LastUserScannerCollect(benchmark::State& AState) {
  const TLastUserScannerTask LTask(BenchDir().Path() + "/data", LoginRecords());
  for (auto _ : AState) {
    TLastUserInventory LInventory;
    if (!LTask.Collect(LInventory, [] { return true; })) {
      AState.SkipWithError("the records could not be read");
      return;
    }
    benchmark::DoNotOptimize(LInventory.UserName);
  }
  AState.SetItemsProcessed(AState.iterations() * CLoginRecords);
}
BENCHMARK(BM_LastUserScannerCollect)->Unit(benchmark::kMicrosecond);

}  // namespace
