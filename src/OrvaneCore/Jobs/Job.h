#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Jobs/JobTypes.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

// The job record. Jobs are shared between the job list, the queue, the dispatcher and a
// processor's thread:
// - NextExecution, ExecState and LastResult are atomics, read and written from several threads;
// - the action and the start condition facade are held by shared references, taken under FLock,
//   so that a running processor keeps the action it started with;
// - the other members are the job's definition: written while the job is being built, or by
//   Assign into an idle job under the job list's lock, and read otherwise.
class TJob : public TTessraData {
public:
  TJob();
  std::string ClassName() const override { return "TJob"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  // Copies the job's definition and its run information; storages of the target whose names
  // occur in the source are kept (and the live storage list object with them), so that
  // assigning a newer definition does not reset the job's schedule.
  void Assign(const TTessraData& ASource) override;

  // Prepares a created or loaded job: every start condition has its storage.
  virtual void Init();

  // The content the job stands for: its action's content id, else its identifier.
  std::string GetContentId() const;
  virtual std::string GetIdentifier() const { return FIdentifier; }
  virtual void SetIdentifier(const std::string& AValue) {
    FIdentifier = AValue;
    MarkChanged();
  }
  virtual std::string GetDisplayText() const { return FDisplayText; }
  virtual void SetDisplayText(const std::string& AValue) {
    FDisplayText = AValue;
    MarkChanged();
  }

  // The host's job equality: identifiers equal without regard to letter case.
  bool Equals(const TJob& AOther) const;

  bool GetCanRunParallel() const { return FCanRunParallel; }
  void SetCanRunParallel(bool AValue) {
    FCanRunParallel = AValue;
    MarkChanged();
  }
  bool GetIsManual() const { return FIsManual; }
  void SetIsManual(bool AValue) {
    FIsManual = AValue;
    MarkChanged();
  }
  bool GetIsRegularJob() const { return FIsRegularJob; }
  void SetIsRegularJob(bool AValue) {
    FIsRegularJob = AValue;
    MarkChanged();
  }
  int32_t GetOrder() const { return FOrder; }
  void SetOrder(int32_t AValue) {
    FOrder = AValue;
    MarkChanged();
  }
  int32_t GetQueueIndex() const { return FQueueIndex.load(); }
  void SetQueueIndex(int32_t AValue) {
    FQueueIndex.store(AValue);
    MarkChanged();
  }
  uint8_t GetItemKind() const { return FItemKind; }
  void SetItemKind(uint8_t AValue) {
    FItemKind = AValue;
    MarkChanged();
  }
  // A host-side flag that agent-task jobs clear; the job service does not read it.
  bool GetIsUserVisible() const { return FIsUserVisible; }
  void SetIsUserVisible(bool AValue) {
    FIsUserVisible = AValue;
    MarkChanged();
  }

  TDateTime GetNextExecution() const { return FNextExecution.load(); }
  void SetNextExecution(TDateTime AValue) {
    FNextExecution.store(AValue);
    MarkChanged();
  }
  uint8_t GetExecState() const { return FExecState.load(); }
  void SetExecState(uint8_t AValue) {
    FExecState.store(AValue);
    MarkChanged();
  }
  // The outcome of the job's last run, set by its processor before the run's end is announced. State
  // of this process only: neither saved nor assigned with the definition.
  TJobResult GetLastResult() const { return FLastResult.load(); }
  void SetLastResult(TJobResult AValue) { FLastResult.store(AValue); }

  std::shared_ptr<TJobAction> GetJobAction() const EXCLUDES(FLock);
  // Whether the job has an action that names what to run; the scheduler asks for every job in
  // every pass, so the action is not shared for it.
  bool GetHasInitializedAction() const EXCLUDES(FLock);
  // Gives the job a new action (the job owns it).
  virtual void SetJobAction(std::shared_ptr<TJobAction> AValue) EXCLUDES(FLock);
  // Never null.
  TStartConditionFacadePtr GetStartCondition() const EXCLUDES(FLock);

  void SetSystemRunInfo(TSystemRunInfoPtr AValue) EXCLUDES(FLock);
  TSystemRunInfoPtr GetSystemRunInfo() const EXCLUDES(FLock);

  uint64_t GetContentStamp() const override EXCLUDES(FLock);

private:
  std::string FIdentifier;
  std::string FDisplayText;
  bool FCanRunParallel = true;
  bool FIsManual = false;
  bool FIsRegularJob = true;
  int32_t FOrder = 0;
  std::atomic<int32_t> FQueueIndex{-1};
  std::atomic<TDateTime> FNextExecution{CNoDateTime};
  bool FIsUserVisible = true;
  std::atomic<uint8_t> FExecState{TJobExecState::Idle};
  std::atomic<TJobResult> FLastResult{TJobResult::jrNoResult};
  uint8_t FItemKind = 0;

  mutable TMutex FLock;
  std::shared_ptr<TJobAction> FJobAction GUARDED_BY(FLock);
  TStartConditionFacadePtr FStartCondition GUARDED_BY(FLock);
  TSystemRunInfoPtr FSystemRunInfo GUARDED_BY(FLock);
};

}  // namespace Orvane
