#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "FileJobListTestKit.h"
#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobManagement/Storage/FileJobListProvider.h"
#include "JobManagement/Storage/FileJobListSaver.h"
#include "Support/EngineMocks.h"

namespace Orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Testing::Identifiers;
using ::testing::IsEmpty;
using Testing::MakeManualJob;
using Testing::ReadFile;
using Testing::Sequence;
using Testing::TStrings;
using Testing::WriteFile;

// The log as one line per entry of the kinds a load writes.
TStrings LoadLog(const TRecordingLogSink& ASink) {
  TStrings LLines;
  for (const TLogEntry& LEntry : ASink.Entries()) {
    switch (LEntry.Kind) {
      case TLogEntryKind::TraceEnter:
        LLines.push_back("enter " + LEntry.Text + " " + LEntry.ObjectClass);
        break;
      case TLogEntryKind::TraceExit:
        LLines.push_back("exit " + LEntry.Text);
        break;
      case TLogEntryKind::Message:
        LLines.push_back("message " + LEntry.Text);
        break;
      case TLogEntryKind::Exception:
        LLines.push_back("exception [" + LEntry.Value + "]");
        break;
      case TLogEntryKind::Error:
        LLines.push_back("error " + LEntry.Text);
        break;
      default:
        LLines.push_back("other " + LEntry.Text);
        break;
    }
  }
  return LLines;
}

class FileJobListProviderTest : public Testing::TFileJobListFixture {
protected:
  void SetUp() override {
    Testing::TFileJobListFixture::SetUp();
    std::filesystem::create_directories(StorageDir());
    FLoader = std::make_shared<TFileJobListProviderForQueue<TScannerJobAction>>(FPathProvider);
    FLoader->GetOnBeforeLoad().Add([this](TOrvaneObject* ASender) {
      FLoadEvents.push_back(ASender == FLoader.get() ? "before" : "before from another sender");
    });
    FLoader->GetOnAfterLoad().Add([this](TOrvaneObject* ASender, bool ASucceeded) {
      FLoadEvents.push_back(std::string(ASender == FLoader.get() ? "after " : "after from another sender ") +
                            (ASucceeded ? "succeeded" : "failed"));
    });
  }

  void Save(const TJobList& AJobs) {
    TFileJobListSaverForQueue<TScannerJobAction>(FPathProvider).SaveItems(Sequence(AJobs));
    FLog->Clear();
  }

  std::shared_ptr<TFileJobListProviderForQueue<TScannerJobAction>> FLoader;
  TStrings FLoadEvents;
};

TEST_F(FileJobListProviderTest, MissingFileYieldsNoJobsAndLogsOnlyTheTrace) {
  EXPECT_EQ(FLoader->LoadData(), 0);

  EXPECT_THAT(FLoader->GetItemList(), IsEmpty());
  EXPECT_THAT(LoadLog(*FLog),
              ElementsAre("enter LoadQueuedManualJobs TFileJobListProviderForQueue<TScannerJobAction>",
                          "exit LoadQueuedManualJobs"));
  EXPECT_THAT(FLoadEvents, ElementsAre("before", "after succeeded"));
  EXPECT_FALSE(std::filesystem::exists(QueueFile()));
}

TEST_F(FileJobListProviderTest, SecondLoadLeavesAChangedFileUnreadAndTheListAsItWas) {
  Save({MakeManualJob("a")});
  FLoader->LoadData();
  const TJobPtr LFirst = FLoader->GetItemList().at(0);
  Save({MakeManualJob("b"), MakeManualJob("c")});

  EXPECT_EQ(FLoader->LoadData(), 0);

  EXPECT_THAT(Identifiers(FLoader->GetItemList()), ElementsAre("a"));
  EXPECT_EQ(FLoader->GetItemList().at(0), LFirst);
  EXPECT_THAT(LoadLog(*FLog), IsEmpty());
  EXPECT_THAT(FLoadEvents, ElementsAre("before", "after succeeded", "before", "after succeeded"));
  EXPECT_THAT(Identifiers(Testing::LoadJobs(QueueFile())), ElementsAre("b", "c"));
}

// Files that cannot be read as a job list at all.
struct TBadFile {
  std::string Name;
  std::string Content;
};

class FileJobListProviderBadFileTest : public FileJobListProviderTest,
                                       public ::testing::WithParamInterface<TBadFile> {};

TEST_P(FileJobListProviderBadFileTest, IsLoggedAndYieldsNoJobsOnceAndForAll) {
  WriteFile(QueueFile(), GetParam().Content);

  EXPECT_EQ(FLoader->LoadData(), 0);

  EXPECT_THAT(FLoader->GetItemList(), IsEmpty());
  EXPECT_THAT(
      LoadLog(*FLog),
      ElementsAre("enter LoadQueuedManualJobs TFileJobListProviderForQueue<TScannerJobAction>",
                  "exception []", "message Failed to load queued manual jobs", "exit LoadQueuedManualJobs"));
  EXPECT_EQ(FLog->Entries()[1].ExceptionClass, "EXmlReadError");
  // The load counts as done: the after-load flag says so, and the file is not read again.
  EXPECT_THAT(FLoadEvents, ElementsAre("before", "after succeeded"));
  FLog->Clear();
  FLoader->LoadData();
  EXPECT_THAT(LoadLog(*FLog), IsEmpty());
  EXPECT_EQ(ReadFile(QueueFile()), GetParam().Content);
}

const std::string CGoodFile =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<TJobList>\n"
    "  <TJob><Identifier>a</Identifier><IsManual>True</IsManual></TJob>\n"
    "</TJobList>\n";

INSTANTIATE_TEST_SUITE_P(
    Unreadable, FileJobListProviderBadFileTest,
    ::testing::Values(TBadFile{"Empty", ""}, TBadFile{"Truncated", CGoodFile.substr(0, CGoodFile.size() / 2)},
                      TBadFile{"BinaryGarbage", std::string("\x7f"
                                                            "ELF\x02\x01\x01\x00\xff\xfe\x00\x13",
                                                            12)},
                      TBadFile{"WrongRootElement", "<?xml version=\"1.0\"?>\n<Root><TJob/></Root>\n"},
                      TBadFile{"TextBesideTheRoot", "<TJobList/>trailing"}),
    [](const ::testing::TestParamInfo<TBadFile>& AInfo) { return AInfo.param.Name; });

TEST_F(FileJobListProviderTest, UnreadableItemsAreSkippedWithAnErrorAndTheOthersLoad) {
  WriteFile(QueueFile(),
            "<TJobList>\n"
            "  <TJob><Identifier>before</Identifier><Order>1</Order></TJob>\n"
            "  <TJob><Identifier>unknown-action</Identifier><Order>2</Order>\n"
            "    <JobAction Class=\"TNoSuchJobAction\"><AgentTaskId>{X}</AgentTaskId></JobAction></TJob>\n"
            "  <TNoSuchJob><Identifier>not-a-job</Identifier></TNoSuchJob>\n"
            "  <TJob><Identifier>bad-order</Identifier><Order>many</Order></TJob>\n"
            "  <TJob><Identifier>after</Identifier><Order>3</Order></TJob>\n"
            "</TJobList>\n");

  EXPECT_EQ(FLoader->LoadData(), 0);

  // A job whose action class is unknown comes without its action; it loses the action, not its
  // place, and the scheduler and the dispatcher refuse to run a job without one.
  EXPECT_THAT(Identifiers(FLoader->GetItemList()), ElementsAre("before", "unknown-action", "after"));
  EXPECT_EQ(FLoader->GetItemList()[1]->GetJobAction(), nullptr);
  EXPECT_THAT(FLog->Texts(TLogEntryKind::Error),
              ElementsAre(HasSubstr("TNoSuchJobAction"), HasSubstr("TNoSuchJob"), HasSubstr("many")));
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Message, "Failed to load queued manual jobs"));
  EXPECT_THAT(FLoadEvents, ElementsAre("before", "after succeeded"));
}

// A damaged text costs that text, not the job: it is read with U+FFFD where the bytes were not
// UTF-8, so that the next save writes a document that is what it declares, and one warning says so.
TEST_F(FileJobListProviderTest, InvalidUtf8IsReplacedWithOneWarningAndTheJobsAreKept) {
  WriteFile(QueueFile(),
            "<TJobList><TJob><Identifier>a</Identifier><DisplayText>caf\xE9</DisplayText></TJob>"
            "<TJob><Identifier>b\xFF</Identifier></TJob></TJobList>");

  EXPECT_EQ(FLoader->LoadData(), 0);

  EXPECT_THAT(Identifiers(FLoader->GetItemList()), ElementsAre("a", "b\xEF\xBF\xBD"));
  EXPECT_EQ(FLoader->GetItemList()[0]->GetDisplayText(), "caf\xEF\xBF\xBD");
  EXPECT_THAT(
      FLog->Texts(TLogEntryKind::Warning),
      ElementsAre(QueueFile() + " held 2 byte sequences that are not UTF-8; each was read as U+FFFD"));
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Message, "Failed to load queued manual jobs"));
}

// The owners of the files go on with no manual jobs and write good files again.
TEST_F(FileJobListProviderTest, QueueOnAnUnreadableFileStartsEmptyAndWritesItAfresh) {
  WriteFile(QueueFile(), CGoodFile.substr(0, 40));
  TJobQueue<TScannerJobAction> LQueue(
      std::make_shared<TFileJobListSaverForQueue<TScannerJobAction>>(FPathProvider), FLoader);

  LQueue.LoadQueuedManualJobs();
  EXPECT_EQ(LQueue.PeekNextJob(), nullptr);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Message, "Failed to load queued manual jobs"));

  EXPECT_TRUE(LQueue.EnqueueJob(MakeManualJob("new")));
  EXPECT_THAT(Identifiers(Testing::LoadJobs(QueueFile())), ElementsAre("new"));
}

TEST_F(FileJobListProviderTest, JobListProviderOnAnUnreadableFileStartsWithoutManualJobsAndWritesItAfresh) {
  WriteFile(JobListFile(), "\x00\x01garbage");
  TCustomJobListProvider<TScannerJobAction> LProvider(
      nullptr, std::make_shared<Testing::TRecordingStorageManager>(),
      std::make_shared<TFileJobListSaverForJobList<TScannerJobAction>>(FPathProvider),
      std::make_shared<TFileJobListProviderForJobList<TScannerJobAction>>(FPathProvider));

  LProvider.LoadQueuedManualJobs();
  EXPECT_TRUE(LProvider.CreateSnapshot().ManualJobs.empty());
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Message, "Failed to load queued manual jobs"));

  LProvider.AddManualJob(MakeManualJob("new"));
  EXPECT_THAT(Identifiers(Testing::LoadJobs(JobListFile())), ElementsAre("new"));
}

}  // namespace
}  // namespace Orvane
