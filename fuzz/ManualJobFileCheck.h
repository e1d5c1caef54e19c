#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "JobManagement/Storage/FileJobListProvider.h"
#include "JobManagement/Storage/FileJobListSaver.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Xml/XmlSerializer.h"

namespace Orvane::Fuzzing {

// What one manual-job file gave.
struct TManualJobFileResult {
  std::size_t JobCount = 0;
  // Empty when every check held; else what did not.
  std::string Mismatch;
};

// Puts AContent in place of both owners' manual-job files in the storage directory of APaths, loads
// each through its registered loader, and checks what must hold for any content whatsoever:
//   - both loaders hand out the same jobs;
//   - the jobs handed out are sorted by Order;
//   - what was loaded, saved again by the registered saver and loaded once more, is the same.
// Members a file leaves out keep a new object's values, "now" among them: run it on a clock that stands
// still (manual mode). Crashes, hangs and sanitizer reports are the caller's to catch.
inline TManualJobFileResult CheckManualJobFile(
    const std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>>& APaths, std::string_view AContent) {
  TManualJobFileResult LResult;
  ForceDirectories(APaths->GetStoragePath());
  const std::string LQueueFile =
      IncludeTrailingPathDelimiter(APaths->GetStoragePath()) + CManualJobsInJobQueueFileName;
  const std::string LJobListFile =
      IncludeTrailingPathDelimiter(APaths->GetStoragePath()) + CManualJobsInJobListProviderFileName;
  for (const std::string& LFile : {LQueueFile, LJobListFile})
    std::ofstream(std::filesystem::u8path(LFile), std::ios::binary | std::ios::trunc)  // UTF-8 on Windows too
        .write(AContent.data(), static_cast<std::streamsize>(AContent.size()));

  auto AsXml = [](const TJobList& AJobs) {
    std::vector<std::string> LXml;
    for (const TJobPtr& LJob : AJobs) LXml.push_back(ObjectToXml(*LJob));
    return LXml;
  };

  TFileJobListProviderForQueue<TScannerJobAction> LQueueLoader(APaths);
  TFileJobListProviderForJobList<TScannerJobAction> LJobListLoader(APaths);
  if (LQueueLoader.LoadData() != 0 || LJobListLoader.LoadData() != 0)
    LResult.Mismatch = "a load did not return 0";
  const TJobList& LLoaded = LQueueLoader.GetItemList();
  LResult.JobCount = LLoaded.size();
  const std::vector<std::string> LLoadedXml = AsXml(LLoaded);
  if (AsXml(LJobListLoader.GetItemList()) != LLoadedXml) LResult.Mismatch = "the two loaders disagree";
  for (std::size_t LIndex = 1; LIndex < LLoaded.size(); ++LIndex)
    if (LLoaded[LIndex - 1]->GetOrder() > LLoaded[LIndex]->GetOrder())
      LResult.Mismatch = "not sorted by Order";

  TFileJobListSaverForQueue<TScannerJobAction>(APaths).SaveItems(IEnumerable<TJobPtr>::FromVector(LLoaded));
  TFileJobListProviderForQueue<TScannerJobAction> LReloader(APaths);
  LReloader.LoadData();
  const std::vector<std::string> LReloadedXml = AsXml(LReloader.GetItemList());
  if (LReloadedXml != LLoadedXml) {
    LResult.Mismatch = "saved and loaded again, " + std::to_string(LLoadedXml.size()) + " jobs became " +
                       std::to_string(LReloadedXml.size());
    for (std::size_t LIndex = 0; LIndex < LLoadedXml.size() && LIndex < LReloadedXml.size(); ++LIndex)
      if (LLoadedXml[LIndex] != LReloadedXml[LIndex]) {
        LResult.Mismatch += "; job " + std::to_string(LIndex + 1) + " was\n" + LLoadedXml[LIndex] +
                            "\nand is\n" + LReloadedXml[LIndex];
        break;
      }
  }
  return LResult;
}

}  // namespace Orvane::Fuzzing
