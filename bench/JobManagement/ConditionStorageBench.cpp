#include <benchmark/benchmark.h>

#include "Support/XmlFloor.h"
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <pugixml.hpp>
#include <string>

#include "JobManagement/Storage/FileStartConditionStorageManager.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "OrvaneCore/Platform/FileReader.h"
#include "Support/Sizes.h"

// Saving and loading the condition storage file of N jobs, each with two storages (an interval and a
// daily condition, every value set). The file lives under $TMPDIR: on a disk, every save pays for the
// flushes of the atomic replace. Beside each, what the XML library alone takes for the same bytes:
// writing them from its own tree with the same atomic save, and parsing them.
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

using Bench::CParseOptions;
using Bench::TStringWriter;

using Bench::ReadAll;

void Sized(benchmark::State& AState) {
  AState.SetItemsProcessed(AState.iterations() * AState.range(0));
  AState.SetComplexityN(AState.range(0));
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
  Sized(AState);
  std::filesystem::remove_all(LDir);
}
BENCHMARK(BM_SaveConditionStorages)
    ->Apply(Bench::HundredToTenThousand)
    ->Unit(benchmark::kMillisecond);

// The file of N jobs as the manager writes it.
std::string WriteFile(const std::string& APath, int ACount, TJobList& AJobs) {
  TFileStartConditionStorageManagerNoFilePermissions<> LWriter(APath);
  LWriter.LoadConditionStorages();
  for (int I = 0; I < ACount; ++I) {
    AJobs.push_back(MakeJob(I));
    LWriter.RegisterJob(AJobs.back());
  }
  LWriter.SaveConditionStorages();
  return ReadAll(APath);
}

// Limit of BM_SaveConditionStorages: the library writing the same document from its tree, and the
// same atomic save (two documents that differ in one value take turns).
void BM_PugixmlSaveConditionStorages(benchmark::State& AState) {
  RemoveAllLogSinks();
  const std::string LDir = NewDirectory();
  const std::string LPath = LDir + "/ConditionStorage.xml";
  TJobList LJobs;
  pugi::xml_document LDocuments[2];
  const std::string LXml = WriteFile(LPath, static_cast<int>(AState.range(0)), LJobs);
  LDocuments[0].load_string(LXml.c_str(), CParseOptions);
  LDocuments[1].reset(LDocuments[0]);
  LDocuments[1].document_element().first_child().first_child().first_child().child("LastRun").text().set("0");
  int LTurn = 1;  // the file holds the first one
  for (auto _ : AState) {
    TStringWriter LWriter;
    LWriter.Text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    LDocuments[LTurn].save(LWriter, "  ", pugi::format_indent | pugi::format_no_declaration,
                           pugi::encoding_utf8);
    if (!SaveFileAtomically(LPath, LWriter.Text)) AState.SkipWithError("the save wrote nothing");
    LTurn = 1 - LTurn;
  }
  Sized(AState);
  std::filesystem::remove_all(LDir);
}
BENCHMARK(BM_PugixmlSaveConditionStorages)
    ->Apply(Bench::HundredToTenThousand)
    ->Unit(benchmark::kMillisecond);

// An agent start: a new manager, the N jobs registered as the provider's first fetch does, then the
// file read and merged into their live storages.
void BM_LoadConditionStorages(benchmark::State& AState) {
  RemoveAllLogSinks();
  const int LCount = static_cast<int>(AState.range(0));
  const std::string LDir = NewDirectory();
  const std::string LPath = LDir + "/ConditionStorage.xml";
  TJobList LJobs;
  WriteFile(LPath, LCount, LJobs);
  for (auto _ : AState) {
    TFileStartConditionStorageManagerNoFilePermissions<> LManager(LPath);
    for (const TJobPtr& LJob : LJobs) LManager.RegisterJob(LJob);
    LManager.LoadConditionStorages();
  }
  Sized(AState);
  std::filesystem::remove_all(LDir);
}
BENCHMARK(BM_LoadConditionStorages)
    ->Apply(Bench::HundredToTenThousand)
    ->Unit(benchmark::kMillisecond);

// The file alone, without the merge into live storages: no job is registered, so every key read
// becomes inactive state.
void BM_ReadConditionStorageFile(benchmark::State& AState) {
  RemoveAllLogSinks();
  const std::string LDir = NewDirectory();
  const std::string LPath = LDir + "/ConditionStorage.xml";
  TJobList LJobs;
  WriteFile(LPath, static_cast<int>(AState.range(0)), LJobs);
  for (auto _ : AState) {
    TFileStartConditionStorageManagerNoFilePermissions<> LManager(LPath);
    LManager.LoadConditionStorages();
  }
  Sized(AState);
  std::filesystem::remove_all(LDir);
}
BENCHMARK(BM_ReadConditionStorageFile)
    ->Apply(Bench::HundredToTenThousand)
    ->Unit(benchmark::kMillisecond);

// Limit of BM_LoadConditionStorages: the library parsing the same file, read from the page cache.
void BM_PugixmlParseConditionStorages(benchmark::State& AState) {
  RemoveAllLogSinks();
  const std::string LDir = NewDirectory();
  const std::string LPath = LDir + "/ConditionStorage.xml";
  TJobList LJobs;
  WriteFile(LPath, static_cast<int>(AState.range(0)), LJobs);
  for (auto _ : AState) {
    const std::string LXml = ReadAll(LPath);
    pugi::xml_document LDocument;
    if (!LDocument.load_buffer(LXml.data(), LXml.size(), CParseOptions)) AState.SkipWithError("not parsed");
    benchmark::DoNotOptimize(LDocument);
  }
  Sized(AState);
  std::filesystem::remove_all(LDir);
}
BENCHMARK(BM_PugixmlParseConditionStorages)
    ->Apply(Bench::HundredToTenThousand)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace Orvane
