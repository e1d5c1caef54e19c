#pragma once

#include <string>

namespace Orvane {

// Where a client's resources live on the management server, relative to the server URL (which ends
// with '/'). One layout for the whole fleet, served by a static web server with WebDAV PUT:
//   fleet/jobs.xml                               the job list of every client without its own
//   clients/ID/jobs.xml                          this client's job list (404: the fleet's is used)
//   clients/ID/cancelled                         manual job ids the server no longer hands out, one a line
//   clients/ID/aborted                           execution ids whose start is answered "aborted", one a line
//   clients/ID/reports/EXECUTION-ID.started.xml  a run's start report (PUT by the agent)
//   clients/ID/reports/EXECUTION-ID.finished.xml a run's finish report (PUT by the agent)
//   clients/ID/results/TASK-ID/RUN.xml           a scanner's result, gzip-compressed (PUT by the agent)
// ID, EXECUTION-ID and TASK-ID are percent-encoded as one path segment each; RUN is the local result
// file's name without ".xml".
class TServerLayout {
public:
  // Throws std::invalid_argument when AServerUrl is not an absolute http(s) URL.
  TServerLayout(std::string AServerUrl, const std::string& AClientId);

  const std::string& ServerUrl() const { return FServerUrl; }
  std::string FleetJobList() const;
  std::string ClientJobList() const;
  std::string Cancelled() const;
  std::string Aborted() const;
  // The client's folder: what the outbox sends goes below it ("clients/ID/").
  const std::string& ClientFolder() const { return FClientFolder; }
  // A report's path below the client's folder; AEvent "started" or "finished".
  static std::string ReportPath(const std::string& AExecutionId, const std::string& AEvent);
  // A result's path below the client's folder.
  static std::string ResultPath(const std::string& ATaskId, const std::string& ARunName);

private:
  std::string FServerUrl;     // ends with '/'
  std::string FClientFolder;  // FServerUrl + "clients/ID/"
};

}  // namespace Orvane
