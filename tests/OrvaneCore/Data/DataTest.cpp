#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Data/CollectionUpdater.h"
#include "OrvaneCore/Data/DataNode.h"
#include "OrvaneCore/Data/RecordCopy.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Time/DateTime.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/LogCapture.h"
#include "Support/TestConditions.h"

namespace Orvane {
namespace {

using TRecordPtr = std::shared_ptr<TTessraData>;

TRecordPtr CreateFirstOf(const std::string& ABase) {
  const TClassRegistry& LRegistry = TClassRegistry::Instance();
  for (const std::string& LName : LRegistry.ClassNames())
    if (TRecordPtr LRecord = LRegistry.InheritsFrom(LName, ABase) ? LRegistry.Create(LName) : nullptr)
      return LRecord;
  return nullptr;
}

// Sets every member away from its default, objects and lists included (ADepth levels down), or with
// AOnly >= 0 changes that member alone; a single change reaches into the object or the first item, so
// that it shows only if the copy is deep. Collects the member names it sees.
class TChangeMembers final : public IMemberVisitor {
public:
  explicit TChangeMembers(int ADepth, int AOnly = -1) : FDepth(ADepth), FOnly(AOnly) {}
  bool ModifiesTarget() const override { return true; }

  void String(const char* AName, std::string& AValue) override { Change(AName, AValue, AValue + "x"); }
  void Integer(const char* AName, int32_t& AValue) override { Change(AName, AValue, AValue + 41); }
  void Byte(const char* AName, uint8_t& AValue) override { Change(AName, AValue, uint8_t(AValue ^ 1)); }
  void Boolean(const char* AName, bool& AValue) override { Change(AName, AValue, !AValue); }
  void DateTime(const char* AName, TDateTime& AValue) override { Change(AName, AValue, AValue + 46001.1); }
  void Strings(const char* AName, std::vector<std::string>& AValue) override {
    if (Next(AName)) AValue.push_back("x");
  }
  void Object(const char* AName, const TObjectSlot& ASlot) override {
    if (!Next(AName)) return;
    if (FOnly < 0)
      ASlot.Set(Filled(ASlot.BaseClass));
    else if (TRecordPtr LObject = ASlot.Get())
      ChangeFirstMember(*LObject);
  }
  void ObjectList(const char* AName, const TObjectListSlot& ASlot) override {
    if (!Next(AName)) return;
    for (int I = 0; FOnly < 0 && I < 2; ++I)
      if (TRecordPtr LItem = Filled(ASlot.ItemClass)) ASlot.Append(LItem);
    if (FOnly >= 0 && ASlot.Count() > 0) ChangeFirstMember(*ASlot.At(0));
  }
  std::multiset<std::string> Names;

private:
  template <class T>
  void Change(const char* AName, T& AValue, T ANew) {
    if (Next(AName)) AValue = std::move(ANew);
  }
  bool Next(const char* AName) {
    Names.insert(AName);
    return FOnly < 0 || FIndex++ == FOnly;
  }
  static void ChangeFirstMember(TTessraData& ARecord) {
    TChangeMembers LChange(0, 0);
    ARecord.DescribeMembers(LChange);
  }
  TRecordPtr Filled(const char* ABase) const {
    TRecordPtr LRecord = FDepth > 0 ? CreateFirstOf(ABase) : nullptr;
    TChangeMembers LFill(FDepth - 1);
    if (LRecord) LRecord->DescribeMembers(LFill);
    return LRecord;
  }

  int FDepth, FOnly, FIndex = 0;
};

// Copies ASource into both targets, one directly and one through the text tree, and expects the same.
template <class T>
std::shared_ptr<T> CopiedBothWays(const TTessraData& ASource, std::shared_ptr<T> ATarget,
                                  std::shared_ptr<T> ATree) {
  CopyRecordMembers(ASource, *ATarget);
  NodeToRecord(RecordToNode(ASource), *ATree);
  EXPECT_EQ(RecordToNode(*ATarget), RecordToNode(*ATree));
  return ATarget;
}

TEST(RecordCopyTest, EveryRegisteredRecordClonesComparesAsItsTextTreeDoesAndRoundTripsThroughXml) {
  const TClassRegistry& LRegistry = TClassRegistry::Instance();
  for (const std::string& LClass : LRegistry.ClassNames()) {
    const TRecordPtr LRecord = LRegistry.Create(LClass);
    if (!LRecord) continue;
    SCOPED_TRACE(LClass);
    TChangeMembers LFill(2);
    LRecord->DescribeMembers(LFill);
    for (const std::string& LName : LFill.Names) EXPECT_EQ(LFill.Names.count(LName), 1u) << LName;
    EXPECT_TRUE(LRecord->Clone()->DataEquals(*LRecord));
    CopiedBothWays(*LRecord, LRegistry.Create(LClass), LRegistry.Create(LClass));
    TXmlSerializer LReader;
    LReader.LoadFromXml(ObjectToXml(*LRecord));
    const TRecordPtr LRead = LRegistry.Create(LClass);
    ASSERT_TRUE(LReader.ReadObject(*LRead));
    EXPECT_TRUE(LRead->DataEquals(*LRecord)) << ObjectToXml(*LRead);
    for (int I = 0; I < static_cast<int>(LFill.Names.size()); ++I) {
      const TRecordPtr LChanged = LRecord->Clone();
      TChangeMembers LChange(1, I);
      LChanged->DescribeMembers(LChange);
      EXPECT_FALSE(LChanged->DataEquals(*LRecord)) << "member " << I;
      EXPECT_FALSE(RecordToNode(*LChanged) == RecordToNode(*LRecord)) << "member " << I;
    }
  }
}

// Members of other kinds than a job's, and an "action" of a class outside the job's base class.
class TTextRecord final : public TTessraData {
public:
  std::string ClassName() const override { return "TTextRecord"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override {
    AVisitor.String("Order", Order);
    AVisitor.String("IsManual", IsManual);
    AVisitor.DateTime("DisplayText", When);
    AVisitor.DateTime("NextExecution", Next);
    AVisitor.Object("JobAction", MakeObjectSlot("", Action));
  }
  std::string Order = "7", IsManual = "1";
  TDateTime When = 46000.5, Next = 46001.25;
  TRecordPtr Action = CreateFirstOf("TStartConditionStorage");
};

TEST(RecordCopyTest, AcrossClassesValuesConvertThroughTheirTextAndMissingMembersKeepTheirValues) {
  Testing::TLogCapture LLog;
  TTextRecord LSource;
  const auto LKeeping = [] {
    auto LJob = std::make_shared<TJob>();
    LJob->SetIdentifier("kept");
    return LJob;
  };
  auto LJob = CopiedBothWays(LSource, LKeeping(), LKeeping());
  EXPECT_EQ(LJob->GetIdentifier() + " " + std::to_string(LJob->GetOrder()) + " " + LJob->GetDisplayText(),
            "kept 7 46000.5");
  EXPECT_EQ(LJob->GetJobAction(), nullptr);
  EXPECT_EQ(LLog->Count(TLogEntryKind::Error, "is not a TJobAction"), 2);
  EXPECT_EQ(CopiedBothWays(*LJob, std::make_shared<TTextRecord>(), std::make_shared<TTextRecord>())->IsManual,
            "true");

  LSource.Order = "seven";
  EXPECT_THROW(CopyRecordMembers(LSource, *LJob), EConvertError);
  LSource.Order = "7";
  LSource.Next = std::nan("");
  EXPECT_THROW(CopyRecordMembers(LSource, *LJob), EConvertError);

  // Date and time values are equal when their texts are.
  TTextRecord LA, LB;
  LA.When = 0.0;
  LB.When = -0.0;
  EXPECT_FALSE(LA.DataEquals(LB));
  LA.When = LB.When = std::nan("");
  EXPECT_TRUE(LA.DataEquals(LB));
}

TEST(RecordCopyTest, AnObjectOfAnUnknownClassIsSkippedAsALoadSkipsIt) {
  class TUnlistedAction final : public TJobAction {
    std::string ClassName() const override { return "TUnlistedAction"; }
  };
  Testing::TLogCapture LLog;
  TJob LSource, LTarget;
  LSource.SetJobAction(std::make_shared<TUnlistedAction>());
  LTarget.SetJobAction(std::make_shared<TJobAction>());
  const auto LKept = LTarget.GetJobAction();
  LTarget.Assign(LSource);
  EXPECT_EQ(LTarget.GetJobAction(), LKept);
  EXPECT_FALSE(LSource.Clone()->DataEquals(LSource));
  EXPECT_TRUE(
      LLog->Contains(TLogEntryKind::Error, "Unknown class \"TUnlistedAction\" of item \"JobAction\""));
}

// The members are copied as by every record's copy (above); the schedule survives: the same list
// object, and the same storage object under the same name.
TEST(JobTest, AssignCopiesTheDefinitionAndKeepsTheTargetsStoragesByName) {
  TJob LSource, LTarget;
  for (TJob* LJob : {&LSource, &LTarget})
    LJob->GetStartCondition()->AddCondition(std::make_shared<TStartConditionOnDelay>());
  LSource.GetStartCondition()->AddCondition(Testing::FixedCondition(45000.5, ckShutdown));
  LSource.GetStartCondition()->AddCondition(Testing::FixedCondition(CNoDateTime, ckDaily));
  LSource.GetStartCondition()->GetStorages()->front()->SetLastRun(45999.25);
  LSource.SetSystemRunInfo(std::make_shared<TSystemRunInfo>());
  const TStorageListPtr LLiveList = LTarget.GetStartCondition()->GetStorages();
  const TStartConditionStoragePtr LLiveStorage = LLiveList->front();
  LLiveStorage->SetLastRun(12345.0);

  LTarget.Assign(LSource);
  EXPECT_EQ(LTarget.GetStartCondition()->GetConditions().size(), 3u);
  EXPECT_EQ(LTarget.GetSystemRunInfo(), LSource.GetSystemRunInfo());
  EXPECT_EQ(LTarget.GetStartCondition()->GetStorages(), LLiveList);
  EXPECT_EQ(LLiveList->size(), 3u);
  EXPECT_EQ(LLiveList->front(), LLiveStorage);
  EXPECT_EQ(LLiveStorage->GetLastRun(), 12345.0);
}

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

// With the filter, N-1 takes no part on the target side while N2 does on the source side, so N is
// added anew; M-2 takes no part; C takes part and has no counterpart.
TEST(CollectionUpdaterTest, EachActionAloneAndAllTogetherAndTheFilterOnBothSides) {
  const TItems LSource = Items({{"A", 2}, {"B", 2}, {"N", 2}, {"M", -2}});
  const TUpdater::TFilterPredicate LPositive = [](const TItem& AItem) { return AItem.Value > 0; };
  const std::tuple<TUpdateActions, bool, const char*> LCases[] = {
      {0, false, "C1= A1= N-1="},
      {uaAddMissing, false, "C1= A1= N-1= B2 M-2"},
      {uaUpdateEqual, false, "C1= A2= N2="},
      {uaRemoveSurplus, false, "A1= N-1="},
      {uaAddMissing | uaUpdateEqual, false, "C1= A2= N2= B2 M-2"},
      {CAllUpdateActions, false, "A2= N2= B2 M-2"},
      {CAllUpdateActions, true, "A2= N-1= B2 N2"},
  };
  for (const auto& [LActions, LFiltered, LExpected] : LCases) {
    SCOPED_TRACE(LExpected);
    TItems LTarget = Items({{"C", 1}, {"A", 1}, {"N", -1}});
    const TItems LBefore = LTarget;
    TUpdater(LActions, CByName, LFiltered ? LPositive : nullptr).UpdateList(LSource, LTarget);
    // Equal items are updated in place; added items are new objects, never the source's.
    EXPECT_EQ(Describe(LTarget, LBefore), LExpected);
    EXPECT_EQ(std::count(LTarget.begin(), LTarget.end(), LSource[1]), 0);
  }
  EXPECT_EQ(Describe(LSource), "A2 B2 N2 M-2");
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

// The quicker conversions of date and time members write and read exactly what DateTimeToText
// writes and TextToDateTime reads; the text reads back to the very value.
TEST(DataNodeTextTest, DateTimeToCharsWritesWhatDateTimeToTextWritesAndItReadsBackExactly) {
  std::mt19937_64 LRandom(20260302);
  std::vector<double> LValues = {0.0, -0.0, 1.0, -1.0, 0.5, 1e-5, 0.1, 1e-10, 46082.25, 46083.385763888888};
  LValues.insert(LValues.end(),
                 {46000.123456789012, 9.9999999999999982, 99999.999999999985, 999999999999999.88,
                  2958465.9999999884, 1e15, 1e300, HUGE_VAL, NAN, 0x1p-1074 /* least subnormal */});
  LValues.insert(LValues.end(), {1.0 / 3.0, EncodeDateTime(2026, 3, 29, 2, 30, 0, 1),
                                 std::nextafter(46000.5, 0.0), std::nextafter(46000.5, 1e9)});
  for (int I = 0; I < 200000; ++I) {
    uint64_t LBits = LRandom();
    double LAny;
    std::memcpy(&LAny, &LBits, sizeof LAny);
    LValues.push_back(LAny);
    LValues.push_back(std::uniform_real_distribution<double>(-50000, 50000)(LRandom));
    LValues.push_back(std::ldexp(static_cast<double>(LRandom() >> 11), -static_cast<int>(LRandom() % 60)));
  }
  for (const double LValue : LValues) {
    char LText[32];
    const std::string LWritten(LText, DateTimeToChars(LValue, LText));
    ASSERT_EQ(LWritten, DateTimeToText(LValue)) << LValue;
    if (std::isnormal(LValue) || LValue == 0) {  // subnormal, infinite and NaN values are refused when read
      ASSERT_EQ(TextToDateTime(LWritten), LValue) << LWritten;
    }
  }
}

TEST(DataNodeTextTest, TextToDateTimeMemberReadsAndRefusesWhatTextToDateTimeDoes) {
  for (const std::string LText :
       {"-1", "46083.385763888888", "0", "-0", "007", "1e5", " 12", "+3.5", "0x1p3", "1.", ".5", "", "-",
        "12a", "1e999", "1e-999", "nan", "inf", "123456789012345678901234.5"}) {
    SCOPED_TRACE(LText);
    std::string LExpected;
    TDateTime LExpectedValue = 0;
    try {
      LExpectedValue = TextToDateTime(LText);
    } catch (const EConvertError& E) {
      LExpected = E.Message();
    }
    try {
      const TDateTime LValue = TextToDateTimeMember(LText.c_str(), LText.size());
      EXPECT_EQ(LExpected, "");
      EXPECT_EQ(std::memcmp(&LValue, &LExpectedValue, sizeof LValue), 0);
    } catch (const EConvertError& E) {
      EXPECT_EQ(E.Message(), LExpected);
    }
  }
}

}  // namespace
}  // namespace Orvane
