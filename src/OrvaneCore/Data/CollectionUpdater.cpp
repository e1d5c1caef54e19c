#include "OrvaneCore/Data/CollectionUpdater.h"

namespace Orvane {

TCollectionUpdatePlan PlanCollectionUpdate(std::size_t ASourceCount, std::size_t ATargetCount,
                                           TUpdateActions AActions, bool AKeepSourceOrder,
                                           const std::function<bool(std::size_t)>& ASourceTakesPart,
                                           const std::function<bool(std::size_t)>& ATargetTakesPart,
                                           const std::function<bool(std::size_t, std::size_t)>& AEquals) {
  std::vector<std::size_t> LSourceParts;
  for (std::size_t I = 0; I < ASourceCount; ++I)
    if (ASourceTakesPart(I)) LSourceParts.push_back(I);
  std::vector<bool> LTargetTakesPart(ATargetCount);
  std::vector<std::size_t> LTargetParts;
  for (std::size_t J = 0; J < ATargetCount; ++J) {
    LTargetTakesPart[J] = ATargetTakesPart(J);
    if (LTargetTakesPart[J]) LTargetParts.push_back(J);
  }

  // Pairs: source index to target index, and back.
  std::vector<int32_t> LTargetOfSource(ASourceCount, -1);
  std::vector<int32_t> LSourceOfTarget(ATargetCount, -1);
  if (AEquals) {
    for (std::size_t LSource : LSourceParts)
      for (std::size_t LTarget : LTargetParts)
        if (LSourceOfTarget[LTarget] < 0 && AEquals(LSource, LTarget)) {
          LTargetOfSource[LSource] = static_cast<int32_t>(LTarget);
          LSourceOfTarget[LTarget] = static_cast<int32_t>(LSource);
          break;
        }
  } else {
    for (std::size_t K = 0; K < LSourceParts.size() && K < LTargetParts.size(); ++K) {
      LTargetOfSource[LSourceParts[K]] = static_cast<int32_t>(LTargetParts[K]);
      LSourceOfTarget[LTargetParts[K]] = static_cast<int32_t>(LSourceParts[K]);
    }
  }

  const bool LAdd = (AActions & uaAddMissing) != 0;
  const bool LUpdate = (AActions & uaUpdateEqual) != 0;
  const bool LRemove = (AActions & uaRemoveSurplus) != 0;
  TCollectionUpdatePlan LPlan;
  const auto LAddSourceSteps = [&](bool AWithPaired) {
    for (std::size_t LSource : LSourceParts) {
      const int32_t LTarget = LTargetOfSource[LSource];
      if (LTarget >= 0 && AWithPaired)
        LPlan.Steps.push_back({LTarget, LUpdate ? static_cast<int32_t>(LSource) : -1});
      else if (LTarget < 0 && LAdd)
        LPlan.Steps.push_back({-1, static_cast<int32_t>(LSource)});
    }
  };
  // Unpaired target items, and (without the source's order) the paired ones in their places.
  const auto LAddTargetSteps = [&](bool AWithPaired) {
    for (std::size_t LTarget = 0; LTarget < ATargetCount; ++LTarget) {
      const int32_t LSource = LSourceOfTarget[LTarget];
      if (LSource >= 0) {
        if (AWithPaired) LPlan.Steps.push_back({static_cast<int32_t>(LTarget), LUpdate ? LSource : -1});
      } else if (!(LTargetTakesPart[LTarget] && LRemove)) {
        LPlan.Steps.push_back({static_cast<int32_t>(LTarget), -1});
      }
    }
  };
  if (AKeepSourceOrder) {
    LAddSourceSteps(true);
    LAddTargetSteps(false);
  } else {
    LAddTargetSteps(true);
    LAddSourceSteps(false);
  }
  return LPlan;
}

}  // namespace Orvane
