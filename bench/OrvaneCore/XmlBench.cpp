// Writing and reading job lists as XML, and the atomic save of a job file with its flushes; each
// beside what the XML library alone takes for the same bytes (parsing them, writing them from its
// own tree), the floor of any serializer built on it.
//
// The jobs are shaped like agent-task jobs: a scanner action and a delay condition with its
// storage. The save writes into a fresh directory under the system's temporary directory, or under
// ORVANE_BENCH_DIR when set (to measure the flushes on another file system).

#include <benchmark/benchmark.h>

#include "Support/XmlFloor.h"
#include <stdlib.h>

#include <filesystem>
#include <pugixml.hpp>
#include <string>

#include "OrvaneCore/Conditions/StartCondition.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "OrvaneCore/Xml/SerializerHelper.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/Sizes.h"

namespace {

using namespace Orvane;

TJobList MakeJobs(int64_t ACount, int ASeed = 0) {
  TJobList LJobs;
  for (int64_t I = 0; I < ACount; ++I) {
    auto LJob = std::make_shared<TJob>();
    LJob->SetIdentifier("{6F1C2D8A-3B4E-4F5A-9C7D-" + std::to_string(100000000000 + I) + "}");
    LJob->SetDisplayText("Software scanner " + std::to_string(I));
    LJob->SetOrder(static_cast<int32_t>(I));
    LJob->SetNextExecution(46000.0 + (I + ASeed) / 7.0);
    auto LAction = std::make_shared<TScannerJobAction>();
    LAction->AgentTaskId = "{B8F0C3A1-5D2E-4C7B-9A61-0E3F7D2C4B85}";
    LJob->SetJobAction(LAction);
    auto LCondition = std::make_shared<TStartConditionOnDelay>();
    LCondition->SetDelayValue(5);
    LJob->GetStartCondition()->AddCondition(LCondition);
    LJob->GetStartCondition()->GetStorages()->front()->SetLastRun(46000.25 + I);
    LJobs.push_back(LJob);
  }
  return LJobs;
}

std::string JobsToXml(const TJobList& AJobs) {
  TXmlSerializer LSerializer;
  LSerializer.BeginCollection("TJobList");
  for (const TJobPtr& LJob : AJobs) LSerializer.WriteObject(*LJob);
  LSerializer.EndCollection("TJobList");
  return LSerializer.GetXml();
}

using Bench::CParseOptions;
using Bench::TStringWriter;

// The library writing AXml again from its own tree, indented as the serializer writes.
std::string PugixmlSave(const pugi::xml_document& ADocument) {
  TStringWriter LWriter;
  LWriter.Text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  ADocument.save(LWriter, "  ", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
  return std::move(LWriter.Text);
}

void Sized(benchmark::State& AState) {
  AState.SetItemsProcessed(AState.iterations() * AState.range(0));
  AState.SetComplexityN(AState.range(0));
}

void BM_WriteJobs(benchmark::State& AState) {
  const TJobList LJobs = MakeJobs(AState.range(0));
  std::size_t LBytes = 0;
  for (auto _ : AState) {
    std::string LXml = JobsToXml(LJobs);
    LBytes = LXml.size();
    benchmark::DoNotOptimize(LXml);
  }
  Sized(AState);
  AState.counters["bytes"] = static_cast<double>(LBytes);
}
BENCHMARK(BM_WriteJobs)->Apply(Bench::HundredToTenThousand)->Unit(benchmark::kMicrosecond);

// Limit of BM_WriteJobs: the library writing the same document from its tree.
void BM_PugixmlWriteJobs(benchmark::State& AState) {
  pugi::xml_document LDocument;
  LDocument.load_string(JobsToXml(MakeJobs(AState.range(0))).c_str(), CParseOptions);
  for (auto _ : AState) benchmark::DoNotOptimize(PugixmlSave(LDocument));
  Sized(AState);
}
BENCHMARK(BM_PugixmlWriteJobs)->Apply(Bench::HundredToTenThousand)->Unit(benchmark::kMicrosecond);

void BM_ReadJobs(benchmark::State& AState) {
  const std::string LXml = JobsToXml(MakeJobs(AState.range(0)));
  for (auto _ : AState) {
    TXmlSerializer LSerializer;
    LSerializer.LoadFromXml(LXml);
    TJobList LJobs;
    TAbstractSerializerHelper::InternalDeserialize<TJob>(LSerializer, LJobs, "TJobList", "TJob",
                                                         [] { return std::make_shared<TJob>(); });
    if (static_cast<int64_t>(LJobs.size()) != AState.range(0)) AState.SkipWithError("jobs lost");
    benchmark::DoNotOptimize(LJobs);
  }
  Sized(AState);
}
BENCHMARK(BM_ReadJobs)->Apply(Bench::HundredToTenThousand)->Unit(benchmark::kMicrosecond);

// Limit of BM_ReadJobs: the library parsing the same text, with the serializer's options.
void BM_PugixmlParseJobs(benchmark::State& AState) {
  const std::string LXml = JobsToXml(MakeJobs(AState.range(0)));
  for (auto _ : AState) {
    pugi::xml_document LDocument;
    if (!LDocument.load_buffer(LXml.data(), LXml.size(), CParseOptions)) AState.SkipWithError("not parsed");
    benchmark::DoNotOptimize(LDocument);
  }
  Sized(AState);
}
BENCHMARK(BM_PugixmlParseJobs)->Apply(Bench::HundredToTenThousand)->Unit(benchmark::kMicrosecond);

std::string MakeBenchDir() {
  const char* LBase = getenv("ORVANE_BENCH_DIR");
  std::string LTemplate =
      (std::filesystem::path(LBase && *LBase ? LBase : std::filesystem::temp_directory_path().string()) /
       "orvane-xml-bench-XXXXXX")
          .string();
  return mkdtemp(LTemplate.data()) ? LTemplate : std::string();
}

// Each save differs from the file's content (two documents take turns), so every iteration writes,
// flushes the file, renames it and flushes the directory. The bytes are ready: the flushes alone.
void BM_SaveJobsAtomically(benchmark::State& AState) {
  const std::string LDir = MakeBenchDir();
  if (LDir.empty()) {
    AState.SkipWithError("no directory for the file");
    return;
  }
  const std::string LFile = LDir + "/ManualJobsInJobQueue.xml";
  const std::string LXml[2] = {JobsToXml(MakeJobs(AState.range(0), 0)),
                               JobsToXml(MakeJobs(AState.range(0), 1))};
  int LTurn = 0;
  for (auto _ : AState) {
    if (!SaveFileAtomically(LFile, LXml[LTurn])) AState.SkipWithError("the save wrote nothing");
    LTurn = 1 - LTurn;
  }
  AState.SetBytesProcessed(AState.iterations() * static_cast<int64_t>(LXml[0].size()));
  std::filesystem::remove_all(LDir);
}
BENCHMARK(BM_SaveJobsAtomically)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The serializer's whole save: building the document, its text and the atomic save.
void BM_SerializeAndSaveJobs(benchmark::State& AState) {
  const std::string LDir = MakeBenchDir();
  if (LDir.empty()) {
    AState.SkipWithError("no directory for the file");
    return;
  }
  const std::string LFile = LDir + "/ManualJobsInJobQueue.xml";
  const TJobList LJobs[2] = {MakeJobs(AState.range(0), 0), MakeJobs(AState.range(0), 1)};
  int LTurn = 0;
  for (auto _ : AState) {
    TXmlSerializer LSerializer;
    LSerializer.BeginCollection("TJobList");
    for (const TJobPtr& LJob : LJobs[LTurn]) LSerializer.WriteObject(*LJob);
    LSerializer.EndCollection("TJobList");
    LSerializer.SaveToFile(LFile);
    LTurn = 1 - LTurn;
  }
  std::filesystem::remove_all(LDir);
}
BENCHMARK(BM_SerializeAndSaveJobs)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Limit of BM_SerializeAndSaveJobs: the library writing the same documents from its trees, and the
// same atomic save.
void BM_PugixmlSaveJobsAtomically(benchmark::State& AState) {
  const std::string LDir = MakeBenchDir();
  if (LDir.empty()) {
    AState.SkipWithError("no directory for the file");
    return;
  }
  const std::string LFile = LDir + "/ManualJobsInJobQueue.xml";
  pugi::xml_document LDocuments[2];
  for (int I = 0; I < 2; ++I)
    LDocuments[I].load_string(JobsToXml(MakeJobs(AState.range(0), I)).c_str(), CParseOptions);
  int LTurn = 0;
  for (auto _ : AState) {
    if (!SaveFileAtomically(LFile, PugixmlSave(LDocuments[LTurn])))
      AState.SkipWithError("the save wrote nothing");
    LTurn = 1 - LTurn;
  }
  std::filesystem::remove_all(LDir);
}
BENCHMARK(BM_PugixmlSaveJobsAtomically)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
