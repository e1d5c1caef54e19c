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

TEST_F(FileJobListProviderTest, MissingFileYieldsNoJobsAndASecondLoadLeavesAChangedFileUnread) {
  EXPECT_EQ(FLoader->LoadData(), 0);
  EXPECT_THAT(FLoader->GetItemList(), IsEmpty());
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Message, "Failed to load queued manual jobs"));
  EXPECT_FALSE(std::filesystem::exists(QueueFile()));

  Save({MakeManualJob("b"), MakeManualJob("c")});
  EXPECT_EQ(FLoader->LoadData(), 0);
  EXPECT_THAT(FLoader->GetItemList(), IsEmpty());
  EXPECT_THAT(FLoadEvents, ElementsAre("before", "after succeeded", "before", "after succeeded"));
}

// Which files cannot be read at all is the corpus test's; here, that such a load counts as done.
TEST_F(FileJobListProviderTest, FileThatCannotBeReadIsLoggedAndYieldsNoJobsOnceAndForAll) {
  const std::string LContent = "<?xml version=\"1.0\"?>\n<Root><TJob/></Root>\n";
  WriteFile(QueueFile(), LContent);

  EXPECT_EQ(FLoader->LoadData(), 0);

  EXPECT_THAT(FLoader->GetItemList(), IsEmpty());
  EXPECT_EQ(FLog->Count(TLogEntryKind::Message, "Failed to load queued manual jobs"), 1);
  EXPECT_EQ(FLog->Entries()[FLog->IndexOf(TLogEntryKind::Exception)].ExceptionClass, "EXmlReadError");
  EXPECT_THAT(FLoadEvents, ElementsAre("before", "after succeeded"));
  FLog->Clear();
  FLoader->LoadData();
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Exception));
  EXPECT_EQ(ReadFile(QueueFile()), LContent);
}

const std::string CGoodFile =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<TJobList>\n"
    "  <TJob><Identifier>a</Identifier><IsManual>True</IsManual></TJob>\n"
    "</TJobList>\n";

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
