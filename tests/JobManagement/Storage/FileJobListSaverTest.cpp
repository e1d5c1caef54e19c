#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FileJobListTestKit.h"
#include "JobManagement/Storage/FileJobListProvider.h"
#include "JobManagement/Storage/FileJobListSaver.h"

namespace Orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Testing::Identifiers;
using ::testing::IsEmpty;
using Testing::MakeManualJob;
using Testing::ModeOf;
using Testing::ReadFile;
using Testing::Sequence;
using Testing::TStrings;

ino_t InodeOf(const std::string& APath) {
  struct stat LInfo {};
  return lstat(APath.c_str(), &LInfo) == 0 ? LInfo.st_ino : 0;
}

// Records the saver's events in the order they come.
class TEventTrail {
public:
  explicit TEventTrail(IItemSaver<TJob>& ASaver) : FSaver(ASaver) {
    FItemToken = ASaver.GetAfterSaveItem().Add(
        [this](const TJobPtr& AJob) { Events.push_back("item " + AJob->GetIdentifier()); });
    FSaveToken = ASaver.GetAfterSave().Add([this](TOrvaneObject*) { Events.push_back("saved"); });
  }
  ~TEventTrail() {
    FSaver.GetAfterSaveItem().Remove(FItemToken);
    FSaver.GetAfterSave().Remove(FSaveToken);
  }
  TStrings Events;

private:
  IItemSaver<TJob>& FSaver;
  TAfterSaveItemEvent::TToken FItemToken;
  TNotifyEvent::TToken FSaveToken;
};

class FileJobListSaverTest : public Testing::TFileJobListFixture {
protected:
  std::shared_ptr<IItemSaver<TJob>> NewQueueSaver() {
    return std::make_shared<TFileJobListSaverForQueue<TScannerJobAction>>(FPathProvider);
  }
  std::shared_ptr<IListProvider<TJob>> NewQueueLoader() {
    return std::make_shared<TFileJobListProviderForQueue<TScannerJobAction>>(FPathProvider);
  }
};

TEST_F(FileJobListSaverTest, FirstSaveCreatesTheStorageDirectoryWithItsParentsOwnerOnly) {
  ASSERT_FALSE(std::filesystem::exists(FData.Path() + "/Orvane"));

  EXPECT_EQ(NewQueueSaver()->SaveItems(Sequence({MakeManualJob("a")})), 0);

  EXPECT_EQ(ModeOf(StorageDir()), 0700u);
  EXPECT_EQ(ModeOf(QueueFile()), 0600u);
  EXPECT_THAT(Identifiers(Testing::LoadJobs(QueueFile())), ElementsAre("a"));
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Exception));
}

// The round trip of every kind of content is the corpus test's; here, the order and the log.
TEST_F(FileJobListSaverTest, JobsComeBackSortedByOrderAndEachIsLogged) {
  ASSERT_EQ(NewQueueSaver()->SaveItems(Sequence({MakeManualJob("last", 5), MakeManualJob("first", -1),
                                                 MakeManualJob("middle", 3), MakeManualJob("middle-later", 3)})),
            0);
  FLog->Clear();
  const auto LLoader = NewQueueLoader();
  LLoader->LoadData();

  ASSERT_THAT(Identifiers(LLoader->GetItemList()), ElementsAre("first", "middle", "middle-later", "last"));
  EXPECT_EQ(FLog->Texts(TLogEntryKind::Object),
            (TStrings{"Manual job: \"Job first\"", "Manual job: \"Job middle\"",
                      "Manual job: \"Job middle-later\"", "Manual job: \"Job last\""}));
  const int LLoaded = FLog->IndexOf(TLogEntryKind::Value, "Loaded queued jobs");
  ASSERT_GE(LLoaded, 0);
  EXPECT_EQ(FLog->Entries()[LLoaded].Value, "4");
}

TEST_F(FileJobListSaverTest, SaveItemsNotifiesEveryItemThenTheSaveAndSaveItemLeavesOnlyThatJob) {
  const auto LSaver = NewQueueSaver();
  TEventTrail LTrail(*LSaver);
  LSaver->SaveItems(Sequence({MakeManualJob("a"), MakeManualJob("b"), MakeManualJob("c")}));
  EXPECT_THAT(LTrail.Events, ElementsAre("item a", "item b", "item c", "saved"));

  LTrail.Events.clear();
  EXPECT_EQ(LSaver->SaveItem(MakeManualJob("only")), 0);
  EXPECT_THAT(Identifiers(Testing::LoadJobs(QueueFile())), ElementsAre("only"));
  // Once from the list of one that it writes, once from itself.
  EXPECT_THAT(LTrail.Events, ElementsAre("item only", "saved", "item only", "saved"));

  // A switch the owner set stays as it was.
  LTrail.Events.clear();
  LSaver->GetAfterSaveItem().SetEnabled(false);
  LSaver->SaveItems(Sequence({MakeManualJob("d")}));
  EXPECT_THAT(LTrail.Events, ElementsAre("saved"));
  EXPECT_FALSE(LSaver->GetAfterSaveItem().GetEnabled());
}

// A saver that writes nothing itself and fails at one item: the base class's save of a list.
class TItemByItemSaver : public TCustomItemSaver<TJob> {
public:
  std::string FailAt;
  TStrings Written;

protected:
  int32_t InternalSaveItem(const TJobPtr& AItem) override {
    if (AItem->GetIdentifier() == FailAt) return 7;
    Written.push_back(AItem->GetIdentifier());
    return 0;
  }
};

TEST_F(FileJobListSaverTest, SavingAListItemByItemHoldsBackTheSingleEventsAndStopsAtTheFirstFailure) {
  auto LSaver = std::make_shared<TItemByItemSaver>();
  TEventTrail LTrail(*LSaver);

  EXPECT_EQ(LSaver->SaveItems(Sequence({MakeManualJob("a"), MakeManualJob("b")})), 0);
  EXPECT_THAT(LTrail.Events, ElementsAre("item a", "item b", "saved"));

  LTrail.Events.clear();
  LSaver->Written.clear();
  LSaver->FailAt = "b";
  EXPECT_EQ(LSaver->SaveItems(Sequence({MakeManualJob("a"), MakeManualJob("b"), MakeManualJob("c")})), 7);
  EXPECT_THAT(LSaver->Written, ElementsAre("a"));
  EXPECT_THAT(LTrail.Events, IsEmpty());
  EXPECT_EQ(LSaver->SaveItem(MakeManualJob("b")), 7);
  EXPECT_THAT(LTrail.Events, IsEmpty());
  // The events work again after the failures.
  EXPECT_EQ(LSaver->SaveItems(Sequence({})), 0);
  EXPECT_THAT(LTrail.Events, ElementsAre("saved"));
}

// Which steps each saver class takes: the "Job to save" lines and the permission plug-in.
using TPathProviderPtr = std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>>;
struct TSaverVariant {
  std::string Name;
  bool LogsJobs;
  bool OpensToEverybody;
  // Makes the saver for the queue file, given as a path and through the path provider.
  std::function<std::shared_ptr<IItemSaver<TJob>>(const std::string&, const TPathProviderPtr&)> Create;
};

template <class TSaver>
std::shared_ptr<IItemSaver<TJob>> SaverOnPath(const std::string& AFilePath, const TPathProviderPtr&) {
  return std::make_shared<TSaver>(AFilePath);
}
template <class TSaver>
std::shared_ptr<IItemSaver<TJob>> SaverOnProvider(const std::string&, const TPathProviderPtr& AProvider) {
  return std::make_shared<TSaver>(AProvider);
}

class FileJobListSaverVariantTest : public Testing::TFileJobListFixture,
                                    public ::testing::WithParamInterface<TSaverVariant> {};

TEST_P(FileJobListSaverVariantTest, LogsTheJobsAndSetsPermissionsExactlyAsItsClassSays) {
  const TSaverVariant& LVariant = GetParam();
  const auto LSaver = LVariant.Create(QueueFile(), FPathProvider);

  EXPECT_EQ(LSaver->SaveItems(Sequence({MakeManualJob("a"), MakeManualJob("b")})), 0);

  const int LCount = FLog->IndexOf(TLogEntryKind::Value, "Manual job count");
  ASSERT_GE(LCount, 0);
  EXPECT_EQ(FLog->Entries()[LCount].Value, "2");
  const TStrings LJobLines = FLog->Texts(TLogEntryKind::Object);
  if (LVariant.LogsJobs) {
    EXPECT_THAT(LJobLines, ElementsAre("Job to save: \"Job a\"", "Job to save: \"Job b\""));
  } else {
    EXPECT_THAT(LJobLines, IsEmpty());
  }
  EXPECT_EQ(FLog->Contains(TLogEntryKind::TraceEnter, "SetAllRightsForEverybody"), LVariant.OpensToEverybody);
  // The plug-in beside the test binary opens the file to everybody; without it, it stays the owner's.
  EXPECT_EQ(ModeOf(QueueFile()), LVariant.OpensToEverybody ? 0666u : 0600u);
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Exception));
}

INSTANTIATE_TEST_SUITE_P(
    AllSavers, FileJobListSaverVariantTest,
    ::testing::Values(TSaverVariant{"FileJobListSaver", true, true, &SaverOnPath<TFileJobListSaver<>>},
                      TSaverVariant{"NoPermissions", true, false,
                                    &SaverOnPath<TFileJobListSaverNoPermissions>},
                      TSaverVariant{"NoPermissionsNoLogging", false, false,
                                    &SaverOnPath<TFileJobListSaverNoPermissionsNoLogging>},
                      // The queue's registered saver, on the file the test looks at.
                      TSaverVariant{"RegisteredForQueue", false, false,
                                    &SaverOnProvider<TFileJobListSaverForQueue<TScannerJobAction>>}),
    [](const ::testing::TestParamInfo<TSaverVariant>& AInfo) { return AInfo.param.Name; });

// A failed write answers with the errno of the call that failed and raises no event, so that the
// owner can tell its caller that nothing was saved.
TEST_F(FileJobListSaverTest, FailedWriteIsLoggedWithTheSaverContextAndAnsweredWithItsErrno) {
  // The storage directory cannot be made: a file stands where its parent should be.
  Testing::WriteFile(FData.Path() + "/Orvane", "not a directory");
  const auto LSaver = NewQueueSaver();
  TEventTrail LTrail(*LSaver);

  EXPECT_EQ(LSaver->SaveItems(Sequence({MakeManualJob("a")})), ENOTDIR);

  const int LException = FLog->IndexOf(TLogEntryKind::Exception);
  ASSERT_GE(LException, 0);
  const TLogEntry LEntry = FLog->Entries()[LException];
  EXPECT_EQ(LEntry.Value, "TFileJobListSaverForQueue<TScannerJobAction>.InternalSaveItems");
  EXPECT_EQ(LEntry.ExceptionClass, "EOSError");
  EXPECT_THAT(LEntry.Text, HasSubstr(StorageDir()));
  EXPECT_EQ(LSaver->SaveItem(MakeManualJob("a")), ENOTDIR);
  EXPECT_THAT(LTrail.Events, IsEmpty());

  // A directory standing at the file's path cannot be replaced either.
  std::filesystem::remove(FData.Path() + "/Orvane");
  std::filesystem::create_directories(QueueFile());
  FLog->Clear();
  EXPECT_EQ(LSaver->SaveItems(Sequence({MakeManualJob("a")})), EISDIR);
  EXPECT_THAT(LTrail.Events, IsEmpty());
  EXPECT_EQ(FLog->Count(TLogEntryKind::Exception), 1);
  EXPECT_TRUE(std::filesystem::is_directory(QueueFile()));
  // Nothing is left behind by the failed writes.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(StorageDir()), {}), 1);
}

TEST_F(FileJobListSaverTest, SymbolicLinkAtTheFileIsReplacedNeverFollowed) {
  const auto LSaver = NewQueueSaver();
  LSaver->SaveItems(Sequence({}));
  const std::string LVictim = FData.Path() + "/victim.xml";
  for (const bool LSameContent : {false, true}) {
    SCOPED_TRACE(LSameContent ? "the link leads to the very content" : "the link leads elsewhere");
    const TJobList LJobs = {MakeManualJob("a")};
    // The victim may even hold exactly what the save writes: the link still goes.
    if (LSameContent) {
      TFileJobListSaverNoPermissionsNoLogging(LVictim).SaveItems(Sequence(LJobs));
    } else {
      Testing::WriteFile(LVictim, "precious");
    }
    chmod(LVictim.c_str(), 0644);
    const std::string LVictimContent = ReadFile(LVictim);
    std::filesystem::remove(QueueFile());
    std::filesystem::create_symlink(LVictim, QueueFile());

    EXPECT_EQ(LSaver->SaveItems(Sequence(LJobs)), 0);

    EXPECT_FALSE(std::filesystem::is_symlink(QueueFile()));
    EXPECT_EQ(ModeOf(QueueFile()), 0600u);
    EXPECT_THAT(Identifiers(Testing::LoadJobs(QueueFile())), ElementsAre("a"));
    EXPECT_EQ(ReadFile(LVictim), LVictimContent);
    EXPECT_EQ(ModeOf(LVictim), 0644u);
  }
}

// A save whose document equals the file leaves the file alone, while the permission
// step and the events still run.
TEST_F(FileJobListSaverTest, UnchangedContentIsNotRewrittenButPermissionsAndEventsStillRun) {
  const auto LSaver = std::make_shared<TFileJobListSaver<>>(QueueFile());
  const TJobList LJobs = {MakeManualJob("a"), MakeManualJob("b")};
  LSaver->SaveItems(Sequence(LJobs));
  const ino_t LFirstFile = InodeOf(QueueFile());
  ASSERT_EQ(ModeOf(QueueFile()), 0666u);
  chmod(QueueFile().c_str(), 0600);
  TEventTrail LTrail(*LSaver);
  FLog->Clear();

  LSaver->SaveItems(Sequence(LJobs));

  EXPECT_EQ(InodeOf(QueueFile()), LFirstFile);
  EXPECT_EQ(ModeOf(QueueFile()), 0666u);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::TraceEnter, "SetAllRightsForEverybody"));
  EXPECT_THAT(LTrail.Events, ElementsAre("item a", "item b", "saved"));

  // A changed list is a new file.
  LSaver->SaveItems(Sequence({LJobs[0]}));
  EXPECT_NE(InodeOf(QueueFile()), LFirstFile);
}

}  // namespace
}  // namespace Orvane
