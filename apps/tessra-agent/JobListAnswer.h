#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "OrvaneCore/DataTransfer/DataTransfer.h"
#include "OrvaneCore/Jobs/JobTypes.h"

namespace Orvane {

class TXmlSerializer;

// What every source of the job list (the local stand-in, the server link) answers the job-list
// request with, so that they all answer alike.

// The ids of an id list (cancelled, aborted): one a line, blank lines and '#' comments skipped.
std::vector<std::string> ParseIdLines(std::string_view AContent);
// Whether AIds holds AId, letter case aside.
bool ContainsId(const std::vector<std::string>& AIds, std::string_view AId);

// The jobs of the loaded job-list document (a TJobList of TJob). Raises EXmlReadError when the
// document is not a job list.
TJobList ReadJobList(TXmlSerializer& ALoaded);

// Fills AResponse, read and written through the member names of the job-list request: the job list
// AJobs, and as ExistingManualJobIds every manual job id of ARequest but those in ACancelled.
void FillJobListAnswer(TRequest& ARequest, TResponse& AResponse, const TJobList& AJobs,
                       const std::vector<std::string>& ACancelled);

// The request's manual job ids ("ManualJobIds").
std::vector<std::string> RequestedManualJobIds(TRequest& ARequest);
// Keeps only the jobs of AResponse's job list for which AKeep is true (records that are no jobs
// stay), in their order; the jobs themselves are not copied.
void FilterAnswerJobs(TResponse& AResponse, const std::function<bool(const TJobPtr&)>& AKeep);

}  // namespace Orvane
