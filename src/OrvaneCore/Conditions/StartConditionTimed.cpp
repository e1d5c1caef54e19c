#include "OrvaneCore/Conditions/StartConditionTimed.h"

#include <algorithm>
#include <random>

#include "OrvaneCore/Conditions/StartConditionTime.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

ORVANE_REGISTER_ABSTRACT_CLASS(TStartConditionTimed, TStartCondition);

namespace {

// A reference point more than this ahead of now was written by a clock that ran ahead and has been
// set back since, further than a daylight-saving change or a correction of minutes ever moves it.
constexpr double CMaxLeadSeconds = CSecondsPerDay;

int32_t DrawSplaySeconds(int32_t ABound) {
  thread_local std::mt19937 LGenerator{std::random_device{}()};
  return std::uniform_int_distribution<int32_t>(0, ABound)(LGenerator);
}

TDateTime Latest(TDateTime A, TDateTime B) {
  return A > B ? A : B;
}

}  // namespace

void TStartConditionTimed::DescribeMembers(IMemberVisitor& AVisitor) {
  TStartCondition::DescribeMembers(AVisitor);
  AVisitor.Integer("MaxSplaySeconds", FMaxSplaySeconds);
  AVisitor.Boolean("CatchUp", FCatchUp);
}

TDateTime TStartConditionTimed::TMarks::SettledUntil() const {
  return Latest(Latest(LastRun, Anchor), SkippedUntil);
}

TStartConditionTimed::TMarks TStartConditionTimed::ReadMarks(const TStartConditionStorage& AStorage,
                                                             TDateTime ANowUtc, int32_t ASplaySeconds) const {
  TMarks LMarks;
  LMarks.LastRun = AStorage.GetLastRun();
  LMarks.Anchor = AStorage.GetAnchor();
  LMarks.SkippedUntil = AStorage.GetSkippedUntil();
  if (GetIsRecurring()) {
    const TDateTime LLimit = IncSeconds(ANowUtc, CMaxLeadSeconds);
    for (TDateTime* LMark : {&LMarks.LastRun, &LMarks.Anchor, &LMarks.SkippedUntil})
      if (*LMark > LLimit) *LMark = CNoDateTime;
  }
  LMarks.SplaySeconds = ASplaySeconds;
  return LMarks;
}

int32_t TStartConditionTimed::KeepSplay(TStartConditionStorage& AStorage) const {
  const int32_t LBound = std::max(FMaxSplaySeconds, 0);
  if (LBound == 0) return 0;
  const int32_t LKept = AStorage.GetSplaySeconds();
  if (LKept >= 0 && LKept <= LBound) return LKept;
  // Not drawn yet, or drawn under a smaller bound than it now has to fit.
  const int32_t LDrawn = DrawSplaySeconds(LBound);
  if (AStorage.ReplaceSplaySeconds(LKept, LDrawn)) return LDrawn;
  const int32_t LOther = AStorage.GetSplaySeconds();
  return LOther >= 0 && LOther <= LBound ? LOther : LDrawn;
}

TDateTime TStartConditionTimed::CalcNextExecution(TDateTime ANow, TStartConditionStorage& AStorage) {
  if (!Enabled || !InvalidReason().empty()) return CNoDateTime;
  const TSystemRunInfoPtr LRunInfo = GetSystemRunInfo();
  if (LRunInfo && LRunInfo->GetIsStopping()) return CNoDateTime;

  const TDateTime LNowUtc = LocalNowToUtc(ANow);
  const int32_t LSplay = KeepSplay(AStorage);
  TMarks LMarks = ReadMarks(AStorage, LNowUtc, LSplay);
  if (GetIsRecurring() && LMarks.LastRun < 0 && LMarks.Anchor < 0) {
    // First sight: the job owes nothing from before it existed here.
    AStorage.ReplaceAnchor(AStorage.GetAnchor(), LNowUtc);
    LMarks = ReadMarks(AStorage, LNowUtc, LSplay);
  }

  const TDateTime LDueUtc = FirstOwed(LMarks);
  if (LDueUtc < 0 || CompareDateTime(LDueUtc, LNowUtc) > 0) return CNoDateTime;
  // In the pass after the agent started, an occurrence before this moment came while it was off.
  // (Every mark read lies before it, so the skip moves the schedule forward.)
  if (!FCatchUp && LRunInfo && LRunInfo->GetIsStartupPass() && CompareDateTime(LDueUtc, LNowUtc) < 0) {
    AStorage.SetSkippedUntil(LNowUtc);
    return CNoDateTime;
  }
  return std::min(LocalOfUtc(LDueUtc), ANow);
}

TDateTime TStartConditionTimed::NextPlannedTime(TDateTime ANow,
                                                const TStartConditionStorage& AStorage) const {
  if (!Enabled || !InvalidReason().empty()) return CNoDateTime;
  const TDateTime LNowUtc = LocalNowToUtc(ANow);
  const int32_t LKept = AStorage.GetSplaySeconds();
  const int32_t LSplay = LKept >= 0 && LKept <= std::max(FMaxSplaySeconds, 0) ? LKept : 0;
  TMarks LMarks = ReadMarks(AStorage, LNowUtc, LSplay);
  // Not seen yet: the first evaluation would anchor it now.
  if (GetIsRecurring() && LMarks.LastRun < 0 && LMarks.Anchor < 0) LMarks.Anchor = LNowUtc;
  const TDateTime LDueUtc = FirstOwed(LMarks);
  return LDueUtc < 0 ? CNoDateTime : LocalOfUtc(LDueUtc);
}

void TStartConditionTimed::ReportInvalidDefinition(IMemberVisitor& AVisitor) const {
  if (!AVisitor.ModifiesTarget()) return;
  const std::string LReason = InvalidReason();
  if (!LReason.empty())
    OrvaneLogger()->Error("Start condition \"%s\" (%s) never falls due: %s",
                          {GetStorageName(), ClassName(), LReason});
}

}  // namespace Orvane
