#include "JobListAnswer.h"

#include <algorithm>

#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Data/DataNode.h"
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

void FillJobListAnswer(TRequest& ARequest, TResponse& AResponse, const TJobList& AJobs,
                       const std::vector<std::string>& ACancelled) {
  const TDataNode LRequest = RecordToNode(ARequest);
  TDataNode LExisting{"ExistingManualJobIds", TDataNode::TKind::Strings, "", "", {}};
  if (const TDataNode* LIds = LRequest.Find("ManualJobIds"))
    for (const TDataNode& LItem : LIds->Children)
      if (!ContainsId(ACancelled, LItem.Text))
        LExisting.Children.push_back({"Item", TDataNode::TKind::Value, LItem.Text, "", {}});

  TDataNode LJobList{"JobList", TDataNode::TKind::List, "", "", {}};
  for (const TJobPtr& LJob : AJobs) LJobList.Children.push_back(RecordToNode(*LJob, "Item"));

  TDataNode LResponse = RecordToNode(AResponse);
  LResponse.Children = {std::move(LJobList), std::move(LExisting)};
  NodeToRecord(LResponse, AResponse);
}

}  // namespace Orvane
