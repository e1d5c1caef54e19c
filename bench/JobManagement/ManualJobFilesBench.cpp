#include <benchmark/benchmark.h>

#include "Support/XmlFloor.h"
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <system_error>

#include "JobManagement/Storage/FileJobListProvider.h"
#include "JobManagement/Storage/FileJobListSaver.h"
#include "OrvaneCore/Conditions/StartCondition.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "OrvaneCore/Platform/FileReader.h"
#include "Support/Sizes.h"

// Saving and loading manual-job files, each beside what the XML library alone takes for the same
// bytes: writing them from its own tree with the same atomic save, and parsing them.
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

using Bench::CParseOptions;
using Bench::TStringWriter;

using Bench::ReadAll;

// The file the saver writes for a list of ACount jobs.
std::string SavedFile(const TScratchDir& ADir, int ACount, int AVariant) {
  TFileJobListSaverNoPermissionsNoLogging(ADir.File())
      .SaveItems(IEnumerable<TJobPtr>::FromVector(MakeManualJobs(ACount, AVariant)));
  return ReadAll(ADir.File());
}

void Sized(benchmark::State& AState) {
  AState.SetItemsProcessed(AState.iterations() * AState.range(0));
  AState.SetComplexityN(AState.range(0));
}

// A save whose list changed since the last one: the whole file is written anew. Two lists that
// differ in one job take turns, so every save writes.
void BM_SaveChangedManualJobs(benchmark::State& AState, bool AOnDisk) {
  RemoveAllLogSinks();
  const int LCount = static_cast<int>(AState.range(0));
  TScratchDir LDir(AOnDisk);
  if (!LDir.IsValid()) return AState.SkipWithError("no scratch directory");
  const IEnumerable<TJobPtr> LLists[2] = {IEnumerable<TJobPtr>::FromVector(MakeManualJobs(LCount, 0)),
                                          IEnumerable<TJobPtr>::FromVector(MakeManualJobs(LCount, 1))};
  TFileJobListSaverNoPermissionsNoLogging LSaver(LDir.File());
  int LTurn = 0;
  for (auto _ : AState) LSaver.SaveItems(LLists[LTurn++ & 1]);
  Sized(AState);
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations()) *
                           static_cast<int64_t>(std::filesystem::file_size(LDir.File())));
  Label(AState, AOnDisk);
}
BENCHMARK_CAPTURE(BM_SaveChangedManualJobs, disk, true)
    ->Apply(Bench::HundredToTenThousand)
    ->ArgName("jobs")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SaveChangedManualJobs, memory, false)
    ->Apply(Bench::HundredToTenThousand)
    ->ArgName("jobs")
    ->Unit(benchmark::kMicrosecond);

// Limit of BM_SaveChangedManualJobs: the library writing the same two files from its trees, with
// the same atomic save.
void BM_PugixmlSaveManualJobs(benchmark::State& AState, bool AOnDisk) {
  const int LCount = static_cast<int>(AState.range(0));
  TScratchDir LDir(AOnDisk);
  if (!LDir.IsValid()) return AState.SkipWithError("no scratch directory");
  pugi::xml_document LDocuments[2];
  for (int I = 0; I < 2; ++I) LDocuments[I].load_string(SavedFile(LDir, LCount, I).c_str(), CParseOptions);
  int LTurn = 0;  // the file holds the second one
  for (auto _ : AState) {
    TStringWriter LWriter;
    LWriter.Text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    LDocuments[LTurn++ & 1].save(LWriter, "  ", pugi::format_indent | pugi::format_no_declaration,
                                 pugi::encoding_utf8);
    if (!SaveFileAtomically(LDir.File(), LWriter.Text)) AState.SkipWithError("the save wrote nothing");
  }
  Sized(AState);
  Label(AState, AOnDisk);
}
BENCHMARK_CAPTURE(BM_PugixmlSaveManualJobs, disk, true)
    ->Apply(Bench::HundredToTenThousand)
    ->ArgName("jobs")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PugixmlSaveManualJobs, memory, false)
    ->Apply(Bench::HundredToTenThousand)
    ->ArgName("jobs")
    ->Unit(benchmark::kMicrosecond);

// A save of the very list the saver's last write put on disk, none of the jobs changed since: the
// saver compares the jobs' identities and change stamps and asks for the file's version once.
void BM_SaveUnchangedManualJobs(benchmark::State& AState) {
  RemoveAllLogSinks();
  const int LCount = static_cast<int>(AState.range(0));
  TScratchDir LDir(true);
  if (!LDir.IsValid()) return AState.SkipWithError("no scratch directory");
  const IEnumerable<TJobPtr> LList = IEnumerable<TJobPtr>::FromVector(MakeManualJobs(LCount));
  TFileJobListSaverNoPermissionsNoLogging LSaver(LDir.File());
  LSaver.SaveItems(LList);
  for (auto _ : AState) LSaver.SaveItems(LList);
  Sized(AState);
  Label(AState, true);
}
BENCHMARK(BM_SaveUnchangedManualJobs)
    ->Apply(Bench::HundredToTenThousand)
    ->ArgName("jobs")
    ->Unit(benchmark::kMicrosecond);

// Limit of a save that tells "unchanged" from the bytes: the library writing the file's document from
// its tree into memory and comparing it with the file, read from the page cache. BM_SaveUnchangedManualJobs
// serialises nothing, so this is what it saves, not a floor it has to reach.
void BM_PugixmlCompareUnchangedManualJobs(benchmark::State& AState) {
  RemoveAllLogSinks();
  TScratchDir LDir(true);
  if (!LDir.IsValid()) return AState.SkipWithError("no scratch directory");
  pugi::xml_document LDocument;
  LDocument.load_string(SavedFile(LDir, static_cast<int>(AState.range(0)), 0).c_str(), CParseOptions);
  for (auto _ : AState) {
    TStringWriter LWriter;
    LWriter.Text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    LDocument.save(LWriter, "  ", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
    benchmark::DoNotOptimize(LWriter.Text == ReadAll(LDir.File()));
  }
  Sized(AState);
}
BENCHMARK(BM_PugixmlCompareUnchangedManualJobs)
    ->Apply(Bench::HundredToTenThousand)
    ->ArgName("jobs")
    ->Unit(benchmark::kMicrosecond);

// A loader's one load: read (from the page cache), parse, make the jobs, sort them by Order.
void BM_LoadManualJobs(benchmark::State& AState) {
  RemoveAllLogSinks();
  const int LCount = static_cast<int>(AState.range(0));
  TScratchDir LDir(true);
  if (!LDir.IsValid()) return AState.SkipWithError("no scratch directory");
  SavedFile(LDir, LCount, 0);
  for (auto _ : AState) {
    TFileJobListProvider<> LLoader(LDir.File());
    LLoader.LoadData();
    if (LLoader.GetItemList().size() != static_cast<std::size_t>(LCount))
      return AState.SkipWithError("the file did not load");
  }
  Sized(AState);
}
BENCHMARK(BM_LoadManualJobs)
    ->Apply(Bench::HundredToTenThousand)
    ->ArgName("jobs")
    ->Unit(benchmark::kMicrosecond);

// Limit of BM_LoadManualJobs: the library parsing the same file, read from the page cache.
void BM_PugixmlParseManualJobs(benchmark::State& AState) {
  RemoveAllLogSinks();
  TScratchDir LDir(true);
  if (!LDir.IsValid()) return AState.SkipWithError("no scratch directory");
  SavedFile(LDir, static_cast<int>(AState.range(0)), 0);
  for (auto _ : AState) {
    const std::string LXml = ReadAll(LDir.File());
    pugi::xml_document LDocument;
    if (!LDocument.load_buffer(LXml.data(), LXml.size(), CParseOptions)) AState.SkipWithError("not parsed");
    benchmark::DoNotOptimize(LDocument);
  }
  Sized(AState);
}
BENCHMARK(BM_PugixmlParseManualJobs)
    ->Apply(Bench::HundredToTenThousand)
    ->ArgName("jobs")
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace Orvane
