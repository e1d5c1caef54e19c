#include "AgentControlCommands.h"

#include <fmt/format.h>

#include <charconv>
#include <string_view>
#include <system_error>
#include <utility>

#include "AgentTaskNames.h"
#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

namespace {

TControlAnswer Ok(std::string AText) {
  return {true, std::move(AText)};
}

TControlAnswer Error(std::string AText) {
  return {false, std::move(AText)};
}

// Why a save failed, for people: the file savers answer with the errno of the write.
std::string SaveFailureText(int32_t AResult) {
  return std::system_category().message(AResult);
}

std::string Jobs(std::size_t ACount) {
  return std::to_string(ACount) + (ACount == 1 ? " job" : " jobs");
}

void AppendRow(std::string& AText, const TJobStatusRow& ARow, std::string_view AKind = {}) {
  AText += fmt::format("  {}{:<23}  {:<8}  {}  {}\n", AKind.empty() ? "" : fmt::format("{:<9}  ", AKind),
                       DateTimeToDisplay(ARow.Due), ARow.State, ARow.DisplayText, ARow.Identifier);
}

}  // namespace

TAgentControlCommands::TAgentControlCommands(std::shared_ptr<IAgentTaskQueue> AQueue,
                                             std::shared_ptr<IJobListSnapshotSource> AJobList,
                                             std::shared_ptr<TAgentStatusBoard> AStatusBoard,
                                             std::function<void()> AStop,
                                             std::function<std::string()> AServerStatus)
    : FQueue(std::move(AQueue)),
      FJobList(std::move(AJobList)),
      FStatusBoard(std::move(AStatusBoard)),
      FStop(std::move(AStop)),
      FServerStatus(std::move(AServerStatus)) {}

TControlAnswer TAgentControlCommands::Handle(const TControlRequest& ARequest) {
  const std::string& LCommand = ARequest.Command;
  if (LCommand == "enqueue") return Enqueue(ARequest);
  if (!ARequest.Arguments.empty()) return Error(LCommand + " takes no arguments");
  if (LCommand == "enqueue-all") return EnqueueAll();
  if (LCommand == "pull") return Pull();
  if (LCommand == "status") return Status();
  if (LCommand == "stop") return Stop();
  return Error("unknown command: " + LCommand);
}

TControlAnswer TAgentControlCommands::Enqueue(const TControlRequest& ARequest) {
  if (ARequest.Arguments.empty() || ARequest.Arguments.size() > 2)
    return Error("enqueue takes an agent task name or id and optionally a delay in minutes");
  const std::optional<std::string> LId = FindAgentTaskId(ARequest.Arguments[0]);
  if (!LId) return Error("no agent task is called \"" + ARequest.Arguments[0] + "\"");
  int32_t LDelay = 0;
  if (ARequest.Arguments.size() == 2) {
    const std::string& LText = ARequest.Arguments[1];
    const auto [LEnd, LError] = std::from_chars(LText.data(), LText.data() + LText.size(), LDelay);
    if (LError != std::errc() || LEnd != LText.data() + LText.size() || LDelay < 0 || LDelay > CMaxDelayMinutes)
      return Error("the delay must be a whole number of minutes from 0 to " + std::to_string(CMaxDelayMinutes) +
                   ", not \"" + LText + "\"");
  }
  const std::string LName = GetAgentTaskName(*LId);
  OrvaneLogger()->Message("Control: enqueue %s %s, delay %d minutes", {LName, *LId, LDelay});
  // Success only once the job is on disk; a job that is not is not kept either, so asking again
  // later makes exactly one.
  const int32_t LResult =
      LDelay > 0 ? FQueue->EnqueueAgentTask(*LId, Now(), LDelay) : FQueue->EnqueueAgentTask(*LId, Now());
  if (LResult != 0)
    return Error(LName + " " + *LId + " is not enqueued: it could not be saved: " + SaveFailureText(LResult));
  if (LDelay > 0)
    return Ok(LName + " " + *LId + " is enqueued to run in " + std::to_string(LDelay) + " minutes.");
  return Ok(LName + " " + *LId + " is enqueued.");
}

TControlAnswer TAgentControlCommands::EnqueueAll() {
  OrvaneLogger()->Message("Control: enqueue every scanner");
  // One by one, so that the answer can name what was kept when some could not be saved.
  std::string LKept;
  int32_t LFailure = 0;
  for (std::string_view LId : CEnqueueAllAgentTaskIds) {
    const int32_t LResult = FQueue->EnqueueAgentTask(std::string(LId), Now());
    if (LResult == 0)
      LKept += (LKept.empty() ? "" : ", ") + GetAgentTaskName(LId);
    else if (LFailure == 0)
      LFailure = LResult;
  }
  if (LFailure == 0) return Ok("Every scanner is enqueued.");
  const std::string LReason = "could not be saved: " + SaveFailureText(LFailure);
  if (LKept.empty()) return Error("No scanner is enqueued: the jobs " + LReason);
  return Error("Not every scanner is enqueued: the others " + LReason + ". Enqueued: " + LKept + ".");
}

TControlAnswer TAgentControlCommands::Pull() {
  OrvaneLogger()->Message("Control: pull request");
  FQueue->GetOnPullRequestReceived().Invoke(nullptr);
  return Ok("The job list is loaded from the server at the next turn.");
}

TControlAnswer TAgentControlCommands::Status() {
  const std::vector<TJobStatusRow> LQueue = FStatusBoard->GetQueue();
  const std::vector<TJobStatusRow> LRunning = FStatusBoard->GetRunning();
  const TJobListSnapshot LList = FJobList->CreateSnapshot();
  const TDateTime LNow = Now();

  std::string LText = "Now: " + DateTimeToDisplay(LNow) + "\n";
  LText += "Queue: " + Jobs(LQueue.size()) + "\n";
  for (const TJobStatusRow& LRow : LQueue) AppendRow(LText, LRow);
  LText += "Running: " + Jobs(LRunning.size()) + "\n";
  for (const TJobStatusRow& LRow : LRunning) AppendRow(LText, LRow);
  LText += fmt::format("Job list: {} manual, {} automatic, {} waiting to be dropped\n", LList.ManualJobs.size(),
                       LList.AutoJobs.size(), LList.CleanupList.size());
  for (const TJobPtr& LJob : LList.ManualJobs)
    if (LJob) AppendRow(LText, TJobStatusRow::Of(*LJob, LNow), "manual");
  for (const TJobPtr& LJob : LList.AutoJobs)
    if (LJob) AppendRow(LText, TJobStatusRow::Of(*LJob, LNow), "automatic");
  if (FServerStatus) LText += FServerStatus();
  return Ok(LText);
}

TControlAnswer TAgentControlCommands::Stop() {
  OrvaneLogger()->Message("Control: stop");
  if (FStop) FStop();
  return Ok("The agent stops.");
}

}  // namespace Orvane
