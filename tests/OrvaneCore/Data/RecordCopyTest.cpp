#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Data/DataNode.h"
#include "OrvaneCore/Data/RecordCopy.h"
#include "OrvaneCore/Jobs/Job.h"
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

TEST(RecordCopyTest, EveryRegisteredRecordClonesAndComparesAsItsTextTreeDoes) {
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

}  // namespace
}  // namespace Orvane
