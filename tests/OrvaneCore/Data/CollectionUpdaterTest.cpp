#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "OrvaneCore/Conditions/StartConditionStorage.h"
#include "OrvaneCore/Data/CollectionUpdater.h"

namespace Orvane {
namespace {

class TItem : public TTessraData {
public:
  TItem() = default;
  TItem(std::string AName, int32_t AValue) : Name(std::move(AName)), Value(AValue) {}
  std::string ClassName() const override { return "TUpdaterTestItem"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override {
    TTessraData::DescribeMembers(AVisitor);
    AVisitor.String("Name", Name);
    AVisitor.Integer("Value", Value);
  }
  std::string Name;
  int32_t Value = 0;
};
class TSpecialItem : public TItem {
public:
  using TItem::TItem;
  std::string ClassName() const override { return "TUpdaterTestSpecialItem"; }
};
const TClassRegistration<TItem> GItemRegistration("TUpdaterTestItem", "TTessraData");
const TClassRegistration<TSpecialItem> GSpecialRegistration("TUpdaterTestSpecialItem", "TUpdaterTestItem");

using TItems = std::vector<std::shared_ptr<TItem>>;
using TUpdater = TCollectionUpdater<TItem>;

TItems Items(std::initializer_list<std::pair<const char*, int32_t>> AItems) {
  TItems LItems;
  for (const auto& [LName, LValue] : AItems) LItems.push_back(std::make_shared<TItem>(LName, LValue));
  return LItems;
}

// "A1 B2*=": names and values in order; "*" marks an item of the special class, "=" one that is
// still an object of ABefore.
std::string Describe(const TItems& AItems, const TItems& ABefore = {}) {
  std::string LText;
  for (const auto& LItem : AItems)
    LText += (LText.empty() ? "" : " ") + LItem->Name + std::to_string(LItem->Value) +
             (dynamic_cast<TSpecialItem*>(LItem.get()) ? "*" : "") +
             (std::count(ABefore.begin(), ABefore.end(), LItem) ? "=" : "");
  return LText;
}

const TUpdater::TEqualityComparison CByName = [](const TItem& A, const TItem& B) { return A.Name == B.Name; };

TEST(CollectionUpdaterTest, EachActionAloneAndAllTogether) {
  const TItems LSource = Items({{"A", 2}, {"B", 2}});
  const std::pair<TUpdateActions, const char*> LCases[] = {
      {0, "C1= A1="},
      {uaAddMissing, "C1= A1= B2"},
      {uaUpdateEqual, "C1= A2="},
      {uaRemoveSurplus, "A1="},
      {uaAddMissing | uaUpdateEqual, "C1= A2= B2"},
      {CAllUpdateActions, "A2= B2"},
  };
  for (const auto& [LActions, LExpected] : LCases) {
    SCOPED_TRACE(int(LActions));
    TItems LTarget = Items({{"C", 1}, {"A", 1}});
    const TItems LBefore = LTarget;
    TUpdater(LActions, CByName).UpdateList(LSource, LTarget);
    // Equal items are updated in place; added items are new objects, never the source's.
    EXPECT_EQ(Describe(LTarget, LBefore), LExpected);
    EXPECT_EQ(std::count(LTarget.begin(), LTarget.end(), LSource[1]), 0);
  }
  EXPECT_EQ(Describe(LSource), "A2 B2");
}

TEST(CollectionUpdaterTest, TheFilterLimitsWhichItemsTakePartOnBothSides) {
  const TUpdater::TFilterPredicate LPositive = [](const TItem& AItem) { return AItem.Value > 0; };
  TItems LTarget = Items({{"A", 1}, {"N", -1}, {"S", 1}});
  TUpdater(CAllUpdateActions, CByName, LPositive).UpdateList(Items({{"A", 5}, {"N", 5}, {"M", -5}}), LTarget);
  // N is left alone on the target side but taken part on the source side, so it is added anew;
  // M does not take part; S takes part and has no counterpart.
  EXPECT_EQ(Describe(LTarget), "A5 N-1 N5");
}

TEST(CollectionUpdaterTest, VariantsDifferInTheOrderAndInTheClassOfNewAndReplacedItems) {
  const TItems LSource = {std::make_shared<TSpecialItem>("B", 2), std::make_shared<TSpecialItem>("A", 2)};
  const TUpdater LUpdater(uaAddMissing | uaUpdateEqual, CByName);
  const auto LEnumerable = [&] { return IEnumerable<std::shared_ptr<TItem>>::FromVector(LSource); };
  const std::vector<std::pair<std::function<void(TItems&)>, std::string>> LCases = {
      {[&](TItems& T) { LUpdater.UpdateListOrderPersistent(LSource, T); }, "B2 A2= X1="},
      {[&](TItems& T) { LUpdater.UpdateListOrderTessraData(LSource, T); }, "B2* A2* X1="},
      {[&](TItems& T) { LUpdater.UpdateEnumerablePersistent(LEnumerable(), T); }, "X1= A2= B2"},
      {[&](TItems& T) { LUpdater.UpdateEnumerable(LEnumerable(), T); }, "X1= A2* B2*"},
      {[&](TItems& T) { LUpdater.UpdateList(LSource, T); }, "X1= A2* B2*"},
  };
  for (const auto& [LUpdate, LExpected] : LCases) {
    SCOPED_TRACE(LExpected);
    TItems LTarget = Items({{"X", 1}, {"A", 1}});
    const TItems LBefore = LTarget;
    LUpdate(LTarget);
    EXPECT_EQ(Describe(LTarget, LBefore), LExpected);
  }

  // The untyped updater works on records and drops empty entries.
  std::vector<std::shared_ptr<TTessraData>> LRecords = {std::make_shared<TItem>("A", 2), nullptr};
  std::vector<std::shared_ptr<TTessraData>> LTarget = {nullptr, std::make_shared<TItem>("A", 1)};
  TCollectionUpdater<>(CAllUpdateActions).UpdateList(LRecords, LTarget);
  ASSERT_EQ(LTarget.size(), 1u);
  EXPECT_TRUE(LTarget[0]->DataEquals(*LRecords[0]));
}

}  // namespace
}  // namespace Orvane
