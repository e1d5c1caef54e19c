#include <gtest/gtest.h>

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

// "A1 B2": names and values in order.
std::string Describe(const TItems& AItems) {
  std::string LText;
  for (const auto& LItem : AItems)
    LText += (LText.empty() ? "" : " ") + LItem->Name + std::to_string(LItem->Value);
  return LText;
}

const TUpdater::TEqualityComparison CByName = [](const TItem& A, const TItem& B) { return A.Name == B.Name; };

TEST(CollectionUpdaterTest, EachActionAloneAndAllTogether) {
  const TItems LSource = Items({{"A", 2}, {"B", 2}});
  const std::pair<TUpdateActions, const char*> LCases[] = {
      {0, "C1 A1"},
      {uaAddMissing, "C1 A1 B2"},
      {uaUpdateEqual, "C1 A2"},
      {uaRemoveSurplus, "A1"},
      {uaAddMissing | uaUpdateEqual, "C1 A2 B2"},
      {CAllUpdateActions, "A2 B2"},
  };
  for (const auto& [LActions, LExpected] : LCases) {
    SCOPED_TRACE(int(LActions));
    TItems LTarget = Items({{"C", 1}, {"A", 1}});
    const std::shared_ptr<TItem> LOldA = LTarget[1];
    TUpdater(LActions, CByName).UpdateList(LSource, LTarget);
    EXPECT_EQ(Describe(LTarget), LExpected);
    // Equal items are updated in place; added items are new objects, never the source's.
    for (const auto& LItem : LTarget) {
      EXPECT_TRUE(LItem->Name != "A" || LItem == LOldA);
      EXPECT_NE(LItem, LSource[1]);
    }
  }
  EXPECT_EQ(Describe(LSource), "A2 B2");
}

TEST(CollectionUpdaterTest, OrderPersistentVariantsLeaveTheTargetInSourceOrder) {
  const TItems LSource = Items({{"A", 2}, {"B", 2}, {"C", 2}});
  TItems LTarget = Items({{"X", 1}, {"C", 1}, {"B", 1}});
  const std::shared_ptr<TItem> LOldB = LTarget[2];
  TUpdater(uaAddMissing | uaUpdateEqual, CByName).UpdateListOrderPersistent(LSource, LTarget);
  EXPECT_EQ(Describe(LTarget), "A2 B2 C2 X1");  // what stays without a counterpart follows
  EXPECT_EQ(LTarget[1], LOldB);
  TUpdater(CAllUpdateActions, CByName).UpdateListOrderTessraData(Items({{"C", 3}, {"A", 3}}), LTarget);
  EXPECT_EQ(Describe(LTarget), "C3 A3");
  // Without the order variant, kept items stay where they were.
  TItems LUnordered = Items({{"C", 1}, {"B", 1}});
  TUpdater(CAllUpdateActions, CByName).UpdateList(LSource, LUnordered);
  EXPECT_EQ(Describe(LUnordered), "C2 B2 A2");
}

TEST(CollectionUpdaterTest, TheFilterLimitsWhichItemsTakePartOnBothSides) {
  const TUpdater::TFilterPredicate LPositive = [](const TItem& AItem) { return AItem.Value > 0; };
  TItems LTarget = Items({{"A", 1}, {"N", -1}, {"S", 1}});
  TUpdater(CAllUpdateActions, CByName, LPositive).UpdateList(Items({{"A", 5}, {"N", 5}, {"M", -5}}), LTarget);
  // N is left alone on the target side but taken part on the source side, so it is added anew;
  // M does not take part; S takes part and has no counterpart.
  EXPECT_EQ(Describe(LTarget), "A5 N-1 N5");
}

TEST(CollectionUpdaterTest, VariantFamiliesDifferInTheClassOfNewAndReplacedItems) {
  const TItems LSource = {std::make_shared<TSpecialItem>("A", 2), std::make_shared<TSpecialItem>("B", 2)};
  const auto LEnumerable = [&] { return IEnumerable<std::shared_ptr<TItem>>::FromVector(LSource); };
  TItems LPersistent = Items({{"A", 1}});
  const std::shared_ptr<TItem> LOldA = LPersistent[0];
  TUpdater(CAllUpdateActions, CByName).UpdateEnumerablePersistent(LEnumerable(), LPersistent);
  EXPECT_EQ(Describe(LPersistent), "A2 B2");
  EXPECT_EQ(LPersistent[0], LOldA);
  EXPECT_EQ(LPersistent[1]->ClassName(), "TUpdaterTestItem");
  TItems LTessraData = Items({{"A", 1}});
  TUpdater(CAllUpdateActions, CByName).UpdateEnumerable(LEnumerable(), LTessraData);
  EXPECT_EQ(Describe(LTessraData), "A2 B2");
  EXPECT_EQ(LTessraData[0]->ClassName(), "TUpdaterTestSpecialItem");  // replaced by a clone
  EXPECT_EQ(LTessraData[1]->ClassName(), "TUpdaterTestSpecialItem");

  // The untyped updater works on records and drops empty entries.
  std::vector<std::shared_ptr<TTessraData>> LRecords = {std::make_shared<TItem>("A", 2), nullptr};
  std::vector<std::shared_ptr<TTessraData>> LTarget = {nullptr, std::make_shared<TItem>("A", 1)};
  TCollectionUpdater<>(CAllUpdateActions).UpdateList(LRecords, LTarget);
  ASSERT_EQ(LTarget.size(), 1u);
  EXPECT_TRUE(LTarget[0]->DataEquals(*LRecords[0]));
}

}  // namespace
}  // namespace Orvane
