#include "JobManagement/JobService/JobQueue.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "JobManagement/Storage/FileJobListProvider.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

namespace {

TJobPtr CopyOfJob(const TJob& AJob) {
  TJobPtr LCopy = CloneAs(AJob);
  if (!LCopy) throw EInvalidOperation("The copy of job \"" + AJob.GetIdentifier() + "\" is not a TJob");
  return LCopy;
}

int ItemCount(const TJobList& AJobs) {
  return static_cast<int>(AJobs.size());
}

}  // namespace

TJobQueue<>::TJobQueue(std::shared_ptr<IItemSaver<TJob>> AManualJobSaver,
                       std::shared_ptr<IListProvider<TJob>> AManualJobLoader)
    : FManualJobLoader(std::move(AManualJobLoader)),
      FManualJobSaver(std::move(AManualJobSaver)),
      FComparer(std::make_shared<TJobPriorityComparer>()) {}

// Dropping FJobs frees the manual jobs, which only the queue holds; the job list keeps the others.
TJobQueue<>::~TJobQueue() = default;

TJobPtr TJobQueue<>::PeekNextJob() {
  TReadLock LLock(FSynchronizer);
  if (FJobs.empty()) return nullptr;
  // Ties keep the earlier entry, so equal jobs come out in the order they were added.
  const TJobPtr* LCandidate = &FJobs.front();
  for (auto LEntry = FJobs.begin() + 1; LEntry != FJobs.end(); ++LEntry) {
    if (FComparer->Compare(**LCandidate, **LEntry) > 0) LCandidate = &*LEntry;
  }
  return *LCandidate;
}

bool TJobQueue<>::EnqueueJob(const TJobPtr& ANewJob) {
  if (!ANewJob) throw EInvalidPointer("TJobQueue.EnqueueJob: the job is nil");
  const std::string LContentId = ANewJob->GetContentId();
  {
    TWriteLock LLock(FSynchronizer);
    // A job put back is no longer running.
    std::erase(FRunning, ANewJob);
    if (FJobContentIds.contains(LContentId)) return false;
    // The caller keeps a manual job it passed; the queue works on its own copy.
    const TJobPtr LJob = ANewJob->GetIsManual() ? CopyOfJob(*ANewJob) : ANewJob;
    LJob->SetExecState(TJobExecState::Queued);
    FJobs.push_back(LJob);
    FJobContentIds.insert(LContentId);
    // A job that was queued before keeps its first position as its tie-breaker.
    if (LJob->GetQueueIndex() == -1) LJob->SetQueueIndex(ItemCount(FJobs) - 1);
    OrvaneLogger()->Message("Queue item count after add: %d", {ItemCount(FJobs)});
  }
  SaveQueuedManualJobs();
  return true;
}

TJobPtr TJobQueue<>::DequeueNextJob() {
  TJobPtr LJob;
  {
    TWriteLock LLock(FSynchronizer);
    // Virtual: a descendant's choice decides what leaves the queue.
    LJob = PeekNextJob();
    if (!LJob) return nullptr;
    LJob->SetExecState(TJobExecState::Idle);
    // By identity: another queued job may be equal to it by identifier.
    const auto LFound = std::find(FJobs.begin(), FJobs.end(), LJob);
    if (LFound != FJobs.end()) {
      FJobs.erase(LFound);
      FJobContentIds.erase(LJob->GetContentId());
    }
    if (LJob->GetIsManual()) FRunning.push_back(LJob);
    OrvaneLogger()->Message("Queue item count after remove: %d", {ItemCount(FJobs)});
  }
  SaveQueuedManualJobs();
  return LJob;
}

void TJobQueue<>::RemoveJob(const TJobPtr& AJob) {
  bool LWasQueued = false;
  {
    TWriteLock LLock(FSynchronizer);
    // By identity, and the content id goes with the very job: a caller that passes another object
    // with the same content (the job a queued manual copy was made from, a snapshot copy) must not free
    // the content id of the job that stays queued.
    const auto LFound = std::find(FJobs.begin(), FJobs.end(), AJob);
    if (LFound != FJobs.end()) {
      LWasQueued = FJobContentIds.erase((*LFound)->GetContentId()) > 0;
      FJobs.erase(LFound);
    }
  }
  if (LWasQueued) SaveQueuedManualJobs();
}

void TJobQueue<>::SyncQueue(const IEnumerable<TJobPtr>& AExistingJobs) {
  IOrvaneLogger* LLogger = OrvaneLogger();
  LLogger->TraceEnter("SyncQueue");
  try {
    // The job list holds thousands of jobs and comes every turn; the queue holds a few scheduled
    // ones. Each of those still in the list is found as the very object; only when one is not is
    // the list searched by identifier. Everything is walked before the lock is taken: the sequence
    // may be a lazy filter over the job list.
    // Held until the end, so that no address among them can be taken by another job meanwhile.
    const TJobList LScheduled = ScheduledJobs();
    if (!LScheduled.empty()) {
      std::vector<const TJob*> LUnseen;
      for (const TJobPtr& LJob : LScheduled) LUnseen.push_back(LJob.get());
      std::sort(LUnseen.begin(), LUnseen.end());
      std::vector<const TJob*> LSeen;
      for (const TJobPtr& LJob : AExistingJobs) {
        const auto LFound = std::lower_bound(LUnseen.begin(), LUnseen.end(), LJob.get());
        if (LFound == LUnseen.end() || *LFound != LJob.get()) continue;
        LSeen.push_back(*LFound);
        LUnseen.erase(LFound);
        if (LUnseen.empty()) break;
      }
      std::optional<std::unordered_set<std::string>> LExistingIdentifiers;
      if (!LUnseen.empty()) {
        LExistingIdentifiers.emplace();
        for (const TJobPtr& LJob : AExistingJobs) {
          if (LJob) LExistingIdentifiers->insert(LJob->GetIdentifier());
        }
      }
      std::sort(LSeen.begin(), LSeen.end());

      TWriteLock LLock(FSynchronizer);
      for (std::size_t LIndex = FJobs.size(); LIndex-- > 0;) {
        const TJobPtr LJob = FJobs[LIndex];
        // Manual jobs are not part of the job list's automatic jobs; they stay until they run.
        if (LJob->GetIsManual() || std::binary_search(LSeen.begin(), LSeen.end(), LJob.get())) continue;
        // A job queued after the look above is checked by the next pass.
        if (!LExistingIdentifiers || LExistingIdentifiers->contains(LJob->GetIdentifier())) continue;
        LJob->SetExecState(TJobExecState::Idle);
        LLogger->MessageObject("Remove job \"%s\" from queue", {LJob->GetDisplayText()}, LJob.get());
        FJobContentIds.erase(LJob->GetContentId());
        FJobs.erase(FJobs.begin() + static_cast<std::ptrdiff_t>(LIndex));
      }
    }
  } catch (...) {
    LogCurrentException("TJobQueue.SyncQueue");
  }
  LLogger->TraceExit("SyncQueue");
}

TJobList TJobQueue<>::ScheduledJobs() const {
  TReadLock LLock(FSynchronizer);
  TJobList LJobs;
  for (const TJobPtr& LJob : FJobs)
    if (!LJob->GetIsManual()) LJobs.push_back(LJob);
  return LJobs;
}

IEnumerable<TJobPtr> TJobQueue<>::GetManualJobs() const {
  const TJobList* LRunning = &FRunning;
  const TJobList* LJobs = &FJobs;
  const IEnumerable<TJobPtr> LAllJobs([LRunning, LJobs] {
    return IEnumerable<TJobPtr>::TEnumerator(
        [LRunning, LJobs, LIndex = std::size_t{0}]() mutable -> std::optional<TJobPtr> {
          const std::size_t LAt = LIndex++;
          if (LAt < LRunning->size()) return (*LRunning)[LAt];
          if (LAt - LRunning->size() < LJobs->size()) return (*LJobs)[LAt - LRunning->size()];
          return std::nullopt;
        });
  });
  return LAllJobs.Where([](const TJobPtr& AJob) { return AJob->GetIsManual(); });
}

int32_t TJobQueue<>::SaveQueuedManualJobs() {
  if (!FManualJobSaver) return 0;
  TMutexLock LSaveLock(FSaveLock);
  TReadLock LLock(FSynchronizer);
  // The saver walks the view while the read lock is held.
  return FManualJobSaver->SaveItems(GetManualJobs());
}

void TJobQueue<>::LoadQueuedManualJobs() {
  if (!FManualJobLoader) return;
  FManualJobLoader->LoadData();
  // The loader keeps its jobs; the queue stores copies of the manual ones, and each addition
  // writes the file again. Jobs whose content is already queued are skipped.
  for (const TJobPtr& LJob : FManualJobLoader->GetItemList()) {
    if (LJob) EnqueueJob(LJob);
  }
}

void TJobQueue<>::RunEnded(const TJobPtr& AJob) {
  bool LErased = false;
  {
    TWriteLock LLock(FSynchronizer);
    LErased = std::erase(FRunning, AJob) > 0;
  }
  if (LErased) SaveQueuedManualJobs();
}

bool TJobQueue<>::HoldsManualJob(const TJob& AJob) {
  // By the run's execution id: agent-task jobs enqueued here share their identifier (the task's),
  // and a second one of them is a run of its own.
  const std::shared_ptr<TJobAction> LAction = AJob.GetJobAction();
  if (!LAction || LAction->ExecutionId.empty()) return false;
  TReadLock LLock(FSynchronizer);
  const auto LEqual = [&](const TJobPtr& AHeld) {
    const std::shared_ptr<TJobAction> LHeld = AHeld->GetIsManual() ? AHeld->GetJobAction() : nullptr;
    return LHeld && SameText(LHeld->ExecutionId, LAction->ExecutionId);
  };
  return std::any_of(FJobs.begin(), FJobs.end(), LEqual) || std::any_of(FRunning.begin(), FRunning.end(), LEqual);
}

TJobList TJobQueue<>::CreateSnapshot() {
  TReadLock LLock(FSynchronizer);
  TJobList LSnapshot;
  LSnapshot.reserve(FJobs.size());
  for (const TJobPtr& LJob : FJobs) LSnapshot.push_back(CopyOfJob(*LJob));
  return LSnapshot;
}

TJobQueue<TScannerJobAction>::TJobQueue(
    std::shared_ptr<IManualJobSaverQueue<TScannerJobAction>> AManualJobSaver,
    std::shared_ptr<IManualJobLoaderQueue<TScannerJobAction>> AManualJobLoader)
    : TJobQueue<>(std::move(AManualJobSaver), std::move(AManualJobLoader)) {}

std::shared_ptr<IJobQueue<>> BuildJobQueue(const std::string& AFileName, TFileJobListSaverClass ASaverClass) {
  if (!ASaverClass) throw EInvalidPointer("BuildJobQueue: the saver class is nil");
  std::shared_ptr<IItemSaver<TJob>> LSaver = ASaverClass(AFileName);
  std::shared_ptr<IListProvider<TJob>> LLoader = std::make_shared<TFileJobListProvider<>>(AFileName);
  return std::make_shared<TJobQueue<>>(std::move(LSaver), std::move(LLoader));
}

}  // namespace Orvane
