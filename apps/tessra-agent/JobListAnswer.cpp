#include "JobListAnswer.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Data/MemberVisitor.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Xml/SerializerHelper.h"
#include "OrvaneCore/Xml/XmlSerializer.h"

namespace Orvane {

std::vector<std::string> ParseIdLines(std::string_view AContent) {
  std::vector<std::string> LLines;
  std::size_t LStart = 0;
  while (LStart < AContent.size()) {
    std::size_t LEnd = AContent.find('\n', LStart);
    if (LEnd == std::string_view::npos) LEnd = AContent.size();
    std::string LLine = Trim(AContent.substr(LStart, LEnd - LStart));
    if (!LLine.empty() && LLine[0] != '#') LLines.push_back(std::move(LLine));
    LStart = LEnd + 1;
  }
  return LLines;
}

bool ContainsId(const std::vector<std::string>& AIds, std::string_view AId) {
  return std::any_of(AIds.begin(), AIds.end(), [&](const std::string& LItem) { return SameText(LItem, AId); });
}

TJobList ReadJobList(TXmlSerializer& ALoaded) {
  TJobList LJobs;
  TAbstractSerializerHelper::InternalDeserialize<TJob>(ALoaded, LJobs, "TJobList", "TJob",
                                                       [] { return std::make_shared<TJob>(); });
  return LJobs;
}

namespace {

// Hands one list of texts and one list of records of a request or answer, found by name, to a
// callback each, through the record's own description: the classes are the module's, and the host
// knows them only so. No tree of texts is made in between: with thousands of jobs it would cost
// more than the rest of a reload.
class TNamedMembers final : public IMemberVisitor {
public:
  using TOnStrings = std::function<void(std::vector<std::string>&)>;
  using TOnList = std::function<void(const TObjectListSlot&)>;
  TNamedMembers(bool AModifies, const char* AStringsName, TOnStrings AOnStrings, const char* AListName = "",
                TOnList AOnList = {})
      : FModifies(AModifies),
        FStringsName(AStringsName),
        FOnStrings(std::move(AOnStrings)),
        FListName(AListName),
        FOnList(std::move(AOnList)) {}
  bool ModifiesTarget() const override { return FModifies; }

  void String(const char*, std::string&) override {}
  void Integer(const char*, int32_t&) override {}
  void Byte(const char*, uint8_t&) override {}
  void Boolean(const char*, bool&) override {}
  void DateTime(const char*, TDateTime&) override {}
  void Object(const char*, const TObjectSlot&) override {}
  void Strings(const char* AName, std::vector<std::string>& AValue) override {
    if (FOnStrings && std::strcmp(AName, FStringsName) == 0) FOnStrings(AValue);
  }
  void ObjectList(const char* AName, const TObjectListSlot& ASlot) override {
    if (FOnList && std::strcmp(AName, FListName) == 0) FOnList(ASlot);
  }

private:
  const bool FModifies;
  const char* const FStringsName;
  const TOnStrings FOnStrings;
  const char* const FListName;
  const TOnList FOnList;
};

}  // namespace

std::vector<std::string> RequestedManualJobIds(TRequest& ARequest) {
  std::vector<std::string> LIds;
  TNamedMembers LReader(false, "ManualJobIds", [&](std::vector<std::string>& AValue) { LIds = AValue; });
  ARequest.DescribeMembers(LReader);
  return LIds;
}

void FillJobListAnswer(TRequest& ARequest, TResponse& AResponse, const TJobList& AJobs,
                       const std::vector<std::string>& ACancelled) {
  std::vector<std::string> LExisting;
  for (std::string& LId : RequestedManualJobIds(ARequest))
    if (!ContainsId(ACancelled, LId)) LExisting.push_back(std::move(LId));
  // Copies, since the receiver changes its jobs.
  TNamedMembers LFiller(
      true, "ExistingManualJobIds", [&](std::vector<std::string>& AValue) { AValue = std::move(LExisting); },
      "JobList", [&](const TObjectListSlot& ASlot) {
        ASlot.Clear();
        for (const TJobPtr& LJob : AJobs) ASlot.Append(LJob->Clone());
      });
  AResponse.DescribeMembers(LFiller);
  AResponse.MarkChanged();
}

void FilterAnswerJobs(TResponse& AResponse, const std::function<bool(const TJobPtr&)>& AKeep) {
  TNamedMembers LFilter(true, "", {}, "JobList", [&](const TObjectListSlot& ASlot) {
    std::vector<std::shared_ptr<TTessraData>> LKept;
    const std::size_t LCount = ASlot.Count();
    for (std::size_t I = 0; I < LCount; ++I) {
      std::shared_ptr<TTessraData> LItem = ASlot.At(I);
      // What is no job passes as it is; the job list judges it.
      const auto LJob = std::dynamic_pointer_cast<TJob>(LItem);
      if (!LJob || AKeep(LJob)) LKept.push_back(std::move(LItem));
    }
    if (LKept.size() == LCount) return;
    ASlot.Clear();
    for (std::shared_ptr<TTessraData>& LItem : LKept) ASlot.Append(std::move(LItem));
  });
  AResponse.DescribeMembers(LFilter);
  AResponse.MarkChanged();
}

}  // namespace Orvane
