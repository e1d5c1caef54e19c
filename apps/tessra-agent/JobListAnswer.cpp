#include "JobListAnswer.h"

#include <algorithm>
#include <cstring>

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

// Reads or fills the members the job-list request and its answer have in common, by name, through
// the records' own description: the classes are the module's, and the host knows them only so. The
// jobs go in as copies straight from the records (no tree of texts in between), since the receiver
// changes them.
class TAnswerMembers final : public IMemberVisitor {
public:
  // Filling: AJobs and AExisting go into the answer. Reading: the request's manual job ids come out.
  TAnswerMembers(const TJobList* AJobs, std::vector<std::string>* AIds) : FJobs(AJobs), FIds(AIds) {}
  bool ModifiesTarget() const override { return FJobs != nullptr; }

  void String(const char*, std::string&) override {}
  void Integer(const char*, int32_t&) override {}
  void Byte(const char*, uint8_t&) override {}
  void Boolean(const char*, bool&) override {}
  void DateTime(const char*, TDateTime&) override {}
  void Object(const char*, const TObjectSlot&) override {}
  void Strings(const char* AName, std::vector<std::string>& AValue) override {
    if (!FJobs && std::strcmp(AName, "ManualJobIds") == 0) *FIds = AValue;
    if (FJobs && std::strcmp(AName, "ExistingManualJobIds") == 0) AValue = *FIds;
  }
  void ObjectList(const char* AName, const TObjectListSlot& ASlot) override {
    if (!FJobs || std::strcmp(AName, "JobList") != 0) return;
    ASlot.Clear();
    for (const TJobPtr& LJob : *FJobs) ASlot.Append(LJob->Clone());
  }

private:
  const TJobList* const FJobs;
  std::vector<std::string>* const FIds;
};

}  // namespace

void FillJobListAnswer(TRequest& ARequest, TResponse& AResponse, const TJobList& AJobs,
                       const std::vector<std::string>& ACancelled) {
  std::vector<std::string> LRequested;
  TAnswerMembers LReader(nullptr, &LRequested);
  ARequest.DescribeMembers(LReader);
  std::vector<std::string> LExisting;
  for (std::string& LId : LRequested)
    if (!ContainsId(ACancelled, LId)) LExisting.push_back(std::move(LId));
  TAnswerMembers LFiller(&AJobs, &LExisting);
  AResponse.DescribeMembers(LFiller);
  AResponse.MarkChanged();
}

}  // namespace Orvane
