#include "Server/ServerLayout.h"

#include <stdexcept>
#include <utility>

#include "Server/HttpClient.h"

namespace Orvane {

namespace {

bool StartsWith(const std::string& AText, std::string_view APrefix) {
  return AText.size() > APrefix.size() && AText.compare(0, APrefix.size(), APrefix) == 0;
}

}  // namespace

TServerLayout::TServerLayout(std::string AServerUrl, const std::string& AClientId) : FServerUrl(std::move(AServerUrl)) {
  // The host part must be there: "https:///x" names no server. A query or fragment would end up in
  // the middle of every resource's URL.
  const bool LHttps = StartsWith(FServerUrl, "https://");
  const std::size_t LHostStart = LHttps ? 8 : 7;
  if (!(LHttps || StartsWith(FServerUrl, "http://")) || FServerUrl.size() <= LHostStart ||
      FServerUrl[LHostStart] == '/' || FServerUrl.find_first_of("?# \t\r\n") != std::string::npos)
    throw std::invalid_argument("the server URL must be an absolute http(s) URL: \"" + FServerUrl + "\"");
  if (AClientId.empty()) throw std::invalid_argument("the client id is empty");
  if (FServerUrl.back() != '/') FServerUrl += '/';
  FClientFolder = FServerUrl + "clients/" + UrlPathSegment(AClientId) + "/";
}

std::string TServerLayout::FleetJobList() const {
  return FServerUrl + "fleet/jobs.xml";
}

std::string TServerLayout::ClientJobList() const {
  return FClientFolder + "jobs.xml";
}

std::string TServerLayout::Cancelled() const {
  return FClientFolder + "cancelled";
}

std::string TServerLayout::Aborted() const {
  return FClientFolder + "aborted";
}

std::string TServerLayout::ReportPath(const std::string& AExecutionId, const std::string& AEvent) {
  return "reports/" + UrlPathSegment(AExecutionId) + "." + AEvent + ".xml";
}

std::string TServerLayout::ResultPath(const std::string& ATaskId, const std::string& ARunName) {
  return "results/" + UrlPathSegment(ATaskId) + "/" + UrlPathSegment(ARunName) + ".xml";
}

}  // namespace Orvane
