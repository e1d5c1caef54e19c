#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include "OrvaneCore/Base/Enumerable.h"
#include "OrvaneCore/Data/TessraData.h"

namespace Orvane {

// What an update of a target list from a source list may do; a set, one bit per action.
using TUpdateActions = uint8_t;
enum TUpdateAction : uint8_t {
  uaAddMissing = 1,     // a source item without a counterpart in the target is added as a new object
  uaUpdateEqual = 2,    // a target item with a counterpart in the source takes the source's content
  uaRemoveSurplus = 4,  // a target item without a counterpart in the source is removed
};
inline constexpr TUpdateActions CAllUpdateActions = uaAddMissing | uaUpdateEqual | uaRemoveSurplus;

// The target's new content, as an untyped plan over item indexes.
struct TCollectionUpdatePlan {
  struct TStep {
    int32_t TargetIndex;  // the target item kept here; -1: a new item made from SourceIndex
    int32_t SourceIndex;  // the source item it takes its content from; -1: it keeps its content
  };
  std::vector<TStep> Steps;  // in the target's new order
};

// Plans the update of a target of ATargetCount items from a source of ASourceCount items.
//   - Only items for which ASourceTakesPart / ATargetTakesPart hold take part; a target item that
//     does not is kept as it is.
//   - With AEquals, each source item is paired with the first unpaired target item it equals; with
//     no AEquals (empty function), the n-th taking part in the source with the n-th in the target.
//   - Without AKeepSourceOrder, kept items stay in their order and new items follow in source
//     order; with it, the items paired with or made from source items come first, in source order,
//     and the other kept items follow in their old order.
TCollectionUpdatePlan PlanCollectionUpdate(std::size_t ASourceCount, std::size_t ATargetCount,
                                           TUpdateActions AActions, bool AKeepSourceOrder,
                                           const std::function<bool(std::size_t)>& ASourceTakesPart,
                                           const std::function<bool(std::size_t)>& ATargetTakesPart,
                                           const std::function<bool(std::size_t, std::size_t)>& AEquals);

// Brings a target list in line with a source list: adds what is missing, updates what is equal,
// removes what is surplus, as its actions say. Created with an equality comparison (source item,
// target item) and a filter predicate; both optional (see PlanCollectionUpdate). Empty (null)
// entries are dropped from the target and ignored in the source.
//
// Two families of variants, differing in how an item takes a source item's content:
//   ...Persistent   a new item is a new T, given the content with Assign; an equal item is assigned.
//                   The target's item class is fixed (T must be default-constructible).
//   ...TessraData   a new item is a Clone of the source item (its class included); an equal item of
//                   the same class is assigned, one of another class is replaced by a clone.
// UpdateList, UpdateListOrder and UpdateEnumerable take the TessraData family when T derives from
// TTessraData, the Persistent family otherwise. The ...Order... variants leave the target in the
// source's order. The target list object itself stays the same (holders of it see the update).
//
// TCollectionUpdater<> works on lists of TTessraData. Not thread-safe: the caller holds whatever
// lock guards the two lists.
template <class T = TTessraData>
class TCollectionUpdater {
public:
  using TItemPtr = std::shared_ptr<T>;
  using TList = std::vector<TItemPtr>;
  using TEqualityComparison = std::function<bool(const T& ASource, const T& ATarget)>;
  using TFilterPredicate = std::function<bool(const T& AItem)>;

  explicit TCollectionUpdater(TUpdateActions AActions = CAllUpdateActions, TEqualityComparison AEquals = {},
                              TFilterPredicate AFilter = {})
      : FActions(AActions), FEquals(std::move(AEquals)), FFilter(std::move(AFilter)) {}

  void UpdateListPersistent(const TList& ASource, TList& ATarget) const {
    Update(ASource, ATarget, false, &NewByAssign, &AssignItem);
  }
  void UpdateListOrderPersistent(const TList& ASource, TList& ATarget) const {
    Update(ASource, ATarget, true, &NewByAssign, &AssignItem);
  }
  void UpdateEnumerablePersistent(const IEnumerable<TItemPtr>& ASource, TList& ATarget) const {
    UpdateListPersistent(ASource.ToVector(), ATarget);
  }

  void UpdateListTessraData(const TList& ASource, TList& ATarget) const {
    Update(ASource, ATarget, false, &NewByClone, &AssignOrReplace);
  }
  void UpdateListOrderTessraData(const TList& ASource, TList& ATarget) const {
    Update(ASource, ATarget, true, &NewByClone, &AssignOrReplace);
  }
  void UpdateEnumerableTessraData(const IEnumerable<TItemPtr>& ASource, TList& ATarget) const {
    UpdateListTessraData(ASource.ToVector(), ATarget);
  }

  void UpdateList(const TList& ASource, TList& ATarget) const {
    if constexpr (CIsTessraData)
      UpdateListTessraData(ASource, ATarget);
    else
      UpdateListPersistent(ASource, ATarget);
  }
  void UpdateListOrder(const TList& ASource, TList& ATarget) const {
    if constexpr (CIsTessraData)
      UpdateListOrderTessraData(ASource, ATarget);
    else
      UpdateListOrderPersistent(ASource, ATarget);
  }
  void UpdateEnumerable(const IEnumerable<TItemPtr>& ASource, TList& ATarget) const {
    UpdateList(ASource.ToVector(), ATarget);
  }

  // One update with a temporary updater.
  static void UpdateSingleList(const TList& ASource, TList& ATarget,
                               TUpdateActions AActions = CAllUpdateActions, TEqualityComparison AEquals = {},
                               TFilterPredicate AFilter = {}) {
    TCollectionUpdater(AActions, std::move(AEquals), std::move(AFilter)).UpdateList(ASource, ATarget);
  }
  static void UpdateSingleEnumerable(const IEnumerable<TItemPtr>& ASource, TList& ATarget,
                                     TUpdateActions AActions = CAllUpdateActions,
                                     TEqualityComparison AEquals = {}, TFilterPredicate AFilter = {}) {
    TCollectionUpdater(AActions, std::move(AEquals), std::move(AFilter)).UpdateEnumerable(ASource, ATarget);
  }

private:
  static constexpr bool CIsTessraData = std::is_base_of_v<TTessraData, T>;
  using TMakeNew = TItemPtr (*)(const T&);
  using TTakeContent = void (*)(TItemPtr&, const T&);

  static TItemPtr NewByAssign(const T& ASource) {
    static_assert(std::is_default_constructible_v<T> && !std::is_abstract_v<T>,
                  "the Persistent variants make new items of the list's item class");
    auto LItem = std::make_shared<T>();
    LItem->Assign(ASource);
    return LItem;
  }
  static void AssignItem(TItemPtr& ATarget, const T& ASource) { ATarget->Assign(ASource); }

  static TItemPtr NewByClone(const T& ASource) {
    static_assert(CIsTessraData, "the TessraData variants need items derived from TTessraData");
    return std::dynamic_pointer_cast<T>(ASource.Clone());
  }
  static void AssignOrReplace(TItemPtr& ATarget, const T& ASource) {
    if (ATarget->ClassName() == ASource.ClassName())
      ATarget->Assign(ASource);
    else
      ATarget = NewByClone(ASource);
  }

  void Update(const TList& ASource, TList& ATarget, bool AKeepSourceOrder, TMakeNew AMakeNew,
              TTakeContent ATakeContent) const {
    std::erase(ATarget, nullptr);
    const auto LSourceTakesPart = [&](std::size_t AIndex) {
      return ASource[AIndex] && (!FFilter || FFilter(*ASource[AIndex]));
    };
    const auto LTargetTakesPart = [&](std::size_t AIndex) { return !FFilter || FFilter(*ATarget[AIndex]); };
    std::function<bool(std::size_t, std::size_t)> LEquals;
    if (FEquals)
      LEquals = [&](std::size_t ASourceIndex, std::size_t ATargetIndex) {
        return FEquals(*ASource[ASourceIndex], *ATarget[ATargetIndex]);
      };
    const TCollectionUpdatePlan LPlan =
        PlanCollectionUpdate(ASource.size(), ATarget.size(), FActions, AKeepSourceOrder, LSourceTakesPart,
                             LTargetTakesPart, LEquals);
    TList LResult;
    LResult.reserve(LPlan.Steps.size());
    for (const TCollectionUpdatePlan::TStep& LStep : LPlan.Steps) {
      if (LStep.TargetIndex < 0) {
        if (TItemPtr LNew = AMakeNew(*ASource[static_cast<std::size_t>(LStep.SourceIndex)]))
          LResult.push_back(std::move(LNew));
        continue;
      }
      TItemPtr LItem = ATarget[static_cast<std::size_t>(LStep.TargetIndex)];
      if (LStep.SourceIndex >= 0) ATakeContent(LItem, *ASource[static_cast<std::size_t>(LStep.SourceIndex)]);
      LResult.push_back(std::move(LItem));
    }
    ATarget.swap(LResult);
  }

  TUpdateActions FActions;
  TEqualityComparison FEquals;
  TFilterPredicate FFilter;
};

}  // namespace Orvane
