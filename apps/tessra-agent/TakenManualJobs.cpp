#include "TakenManualJobs.h"

#include <algorithm>
#include <utility>

#include "JobListAnswer.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/SafeFiles.h"

namespace Orvane {

namespace {

// A manual job is known by the run the server made it for, else by its identifier.
std::string TakenKey(const TJob& AJob) {
  const std::shared_ptr<TJobAction> LAction = AJob.GetJobAction();
  if (LAction && !LAction->ExecutionId.empty()) return LAction->ExecutionId;
  return AJob.GetIdentifier();
}

}  // namespace

TTakenManualJobs::TTakenManualJobs(std::shared_ptr<IServerRequestSender> ASender, std::string ADataDir)
    : FSender(std::move(ASender)), FDataDir(std::move(ADataDir)) {
  std::string LContent;
  const TFileResult LRead = ReadWholeFile(FDataDir, CFileName, LContent);
  if (!LRead.Done() && LRead.Status != TFileResult::TStatus::Missing)
    OrvaneLogger()->Error("The record of taken manual jobs cannot be read: %s", {LRead.Error});
  TMutexLock LLock(FLock);
  std::size_t LStart = 0;
  while (LStart < LContent.size()) {
    std::size_t LEnd = LContent.find('\n', LStart);
    if (LEnd == std::string::npos) LEnd = LContent.size();
    const std::string LKey = Trim(std::string_view(LContent).substr(LStart, LEnd - LStart));
    if (!LKey.empty()) Take(LKey);
    LStart = LEnd + 1;
  }
}

TTakenManualJobs::~TTakenManualJobs() {
  if (FSaver) FSaver->GetAfterSaveItem().Remove(FSaverToken);
}

void TTakenManualJobs::WatchSaver(std::shared_ptr<IItemSaver<TJob>> ASaver) {
  if (FSaver) FSaver->GetAfterSaveItem().Remove(FSaverToken);
  FSaver = std::move(ASaver);
  if (FSaver) FSaverToken = FSaver->GetAfterSaveItem().Add([this](const TJobPtr& AJob) { ManualJobSaved(AJob); });
}

std::vector<std::string> TTakenManualJobs::GetTaken() const {
  TMutexLock LLock(FLock);
  return FTaken;
}

void TTakenManualJobs::Take(const std::string& AKey) {
  if (FTakenKeys.insert(UpperCase(AKey)).second) FTaken.push_back(AKey);
}

void TTakenManualJobs::SaveRecord() {
  std::string LContent;
  for (const std::string& LKey : FTaken) LContent += LKey + "\n";
  const TFileResult LSaved = ReplaceFile(FDataDir, CFileName, LContent);
  if (!LSaved.Done()) OrvaneLogger()->Error("The record of taken manual jobs cannot be saved: %s", {LSaved.Error});
}

int32_t TTakenManualJobs::SendRequest(TRequest& ARequest, TResponse& AResponse) {
  const int32_t LResult = FSender->SendRequest(ARequest, AResponse);
  if (LResult != 0) return LResult;

  std::unordered_set<std::string> LHeldIds;
  for (const std::string& LId : RequestedManualJobIds(ARequest)) LHeldIds.insert(UpperCase(LId));

  std::unordered_set<std::string> LListed;
  TMutexLock LLock(FLock);
  const std::size_t LTakenBefore = FTaken.size();
  FHandedOut.clear();
  FilterAnswerJobs(AResponse, [&](const TJobPtr& AJob) {
    FLock.AssertHeld();
    // Whatever is no manual job passes as it is; the job list judges it.
    if (!AJob->GetIsManual()) return true;
    const std::string LKey = TakenKey(*AJob);
    const std::string LUpperKey = UpperCase(LKey);
    LListed.insert(LUpperKey);
    if (!FTakenKeys.contains(LUpperKey) && LHeldIds.contains(UpperCase(AJob->GetIdentifier()))) Take(LKey);
    if (FTakenKeys.contains(LUpperKey)) return false;
    FHandedOut.insert(LUpperKey);
    return true;
  });
  const std::size_t LNewlyTaken = FTaken.size() - LTakenBefore;
  const std::size_t LForgotten = std::erase_if(FTaken, [&](const std::string& AKey) {
    FLock.AssertHeld();
    const std::string LUpperKey = UpperCase(AKey);
    if (LListed.contains(LUpperKey)) return false;
    FTakenKeys.erase(LUpperKey);
    return true;
  });
  if (LNewlyTaken + LForgotten > 0) SaveRecord();
  return LResult;
}

void TTakenManualJobs::ManualJobSaved(const TJobPtr& AJob) {
  if (!AJob || !AJob->GetIsManual()) return;
  const std::string LKey = TakenKey(*AJob);
  TMutexLock LLock(FLock);
  if (FHandedOut.erase(UpperCase(LKey)) == 0) return;
  Take(LKey);
  SaveRecord();
}

}  // namespace Orvane
