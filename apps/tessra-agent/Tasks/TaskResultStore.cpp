#include "Tasks/TaskResultStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Xml/XmlSerializer.h"

namespace Orvane {

namespace fs = std::filesystem;

std::string TTaskResultStore::ResultDir(const std::string& ADataDir, const std::string& ATaskName) {
  return IncludeTrailingPathDelimiter(ADataDir) + "results/" + ATaskName;
}

std::string TTaskResultStore::Write(const TTessraData& ADocument, TDateTime AAt, const std::string& ADir,
                                    const std::string& ATaskName) {
  if (!ForceDirectories(ADir)) {
    OrvaneLogger()->LastError(ATaskName + ": cannot create " + ADir, errno);
    return "";
  }
  const TDateTimeParts L = DecodeDateTime(AAt);
  char LName[64];
  std::snprintf(LName, sizeof(LName), "%04d%02d%02d-%02d%02d%02d-%03d.xml", L.Year, L.Month, L.Day, L.Hour,
                L.Minute, L.Second, L.MilliSecond);
  const std::string LFileName = IncludeTrailingPathDelimiter(ADir) + LName;
  try {
    TXmlSerializer LSerializer;
    LSerializer.WriteObject(ADocument);
    LSerializer.SaveToFile(LFileName);
  } catch (const std::exception& E) {
    OrvaneLogger()->LogException(E, ATaskName + ": writing the result");
    return "";
  }
  return LFileName;
}

void TTaskResultStore::RemoveOld(const std::string& ADir, std::size_t AKeep) {
  std::error_code LError;
  std::vector<fs::path> LResults;
  for (const fs::directory_entry& LEntry : fs::directory_iterator(ADir, LError))
    if (LEntry.is_regular_file(LError) && LEntry.path().extension() == ".xml") LResults.push_back(LEntry.path());
  std::sort(LResults.begin(), LResults.end());
  for (std::size_t I = 0; I + AKeep < LResults.size(); ++I) fs::remove(LResults[I], LError);
}

}  // namespace Orvane
