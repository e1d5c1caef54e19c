#include "OrvaneCore/Jobs/Job.h"

#include <algorithm>

#include "OrvaneCore/Base/Strings.h"

namespace Orvane {

ORVANE_REGISTER_CLASS(TJob, TTessraData);

TJob::TJob() : FStartCondition(std::make_shared<TStartConditionFacade>()) {}

void TJob::DescribeMembers(IMemberVisitor& AVisitor) {
  TTessraData::DescribeMembers(AVisitor);
  AVisitor.String("Identifier", FIdentifier);
  AVisitor.String("DisplayText", FDisplayText);
  AVisitor.Boolean("CanRunParallel", FCanRunParallel);
  AVisitor.Boolean("IsManual", FIsManual);
  AVisitor.Boolean("IsRegularJob", FIsRegularJob);
  AVisitor.Integer("Order", FOrder);
  DescribeAtomic(AVisitor, FQueueIndex, [&](int32_t& A) { AVisitor.Integer("QueueIndex", A); });
  DescribeAtomic(AVisitor, FNextExecution, [&](TDateTime& A) { AVisitor.DateTime("NextExecution", A); });
  AVisitor.Boolean("IsUserVisible", FIsUserVisible);
  DescribeAtomic(AVisitor, FExecState, [&](uint8_t& A) { AVisitor.Byte("ExecState", A); });
  AVisitor.Byte("ItemKind", FItemKind);
  AVisitor.Object("JobAction", TObjectSlot{"TJobAction",
                                           [this] { return std::static_pointer_cast<TTessraData>(GetJobAction()); },
                                           [this](std::shared_ptr<TTessraData> AValue) {
                                             SetJobAction(std::dynamic_pointer_cast<TJobAction>(AValue));
                                           }});
  AVisitor.Object("StartCondition",
                  TObjectSlot{"TStartConditionFacade",
                              [this] { return std::static_pointer_cast<TTessraData>(GetStartCondition()); },
                              [this](std::shared_ptr<TTessraData> AValue) {
                                auto LFacade = std::dynamic_pointer_cast<TStartConditionFacade>(AValue);
                                TMutexLock LLock(FLock);
                                // Every job owns a facade, possibly empty.
                                FStartCondition = LFacade ? LFacade : std::make_shared<TStartConditionFacade>();
                              }});
}

void TJob::Assign(const TTessraData& ASource) {
  if (&ASource == this) return;
  const TStartConditionFacadePtr LOldFacade = GetStartCondition();
  const TStorageList LOldStorages = *LOldFacade->GetStorages();
  TTessraData::Assign(ASource);
  const TStartConditionFacadePtr LNewFacade = GetStartCondition();
  LNewFacade->AdoptStorages(LOldFacade->GetStorages(), LOldStorages);
  if (const auto* LSourceJob = dynamic_cast<const TJob*>(&ASource)) SetSystemRunInfo(LSourceJob->GetSystemRunInfo());
}

void TJob::Init() { GetStartCondition()->EnsureStorages(); }

std::string TJob::GetContentId() const {
  const std::shared_ptr<TJobAction> LAction = GetJobAction();
  std::string LContentId = LAction ? LAction->GetContentId() : std::string();
  return LContentId.empty() ? GetIdentifier() : LContentId;
}

bool TJob::Equals(const TJob& AOther) const { return SameText(GetIdentifier(), AOther.GetIdentifier()); }

std::shared_ptr<TJobAction> TJob::GetJobAction() const {
  TMutexLock LLock(FLock);
  return FJobAction;
}

bool TJob::GetHasInitializedAction() const {
  TMutexLock LLock(FLock);
  return FJobAction && FJobAction->GetIsInitialized();
}

void TJob::SetJobAction(std::shared_ptr<TJobAction> AValue) {
  {
    TMutexLock LLock(FLock);
    FJobAction = std::move(AValue);
  }
  MarkChanged();
}

TStartConditionFacadePtr TJob::GetStartCondition() const {
  TMutexLock LLock(FLock);
  return FStartCondition;
}

void TJob::SetSystemRunInfo(TSystemRunInfoPtr AValue) {
  TStartConditionFacadePtr LFacade;
  {
    TMutexLock LLock(FLock);
    FSystemRunInfo = AValue;
    LFacade = FStartCondition;
  }
  LFacade->SetSystemRunInfo(AValue);
}

uint64_t TJob::GetContentStamp() const {
  std::shared_ptr<TJobAction> LAction;
  TStartConditionFacadePtr LFacade;
  {
    TMutexLock LLock(FLock);
    LAction = FJobAction;
    LFacade = FStartCondition;
  }
  uint64_t LStamp = std::max(GetChangeStamp(), LFacade->GetContentStamp());
  return LAction ? std::max(LStamp, LAction->GetContentStamp()) : LStamp;
}

TSystemRunInfoPtr TJob::GetSystemRunInfo() const {
  TMutexLock LLock(FLock);
  return FSystemRunInfo;
}

}  // namespace Orvane
