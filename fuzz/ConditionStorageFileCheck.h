#pragma once

#include <exception>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "JobManagement/Storage/FileStartConditionStorageManager.h"
#include "OrvaneCore/Xml/NativeXml.h"

namespace Orvane::Fuzzing {

// What one condition storage file gave.
struct TConditionStorageFileResult {
  std::size_t KeyCount = 0;  // key elements in the file the first manager wrote
  // Empty when every check held; else what did not.
  std::string Mismatch;
};

namespace ConditionStorageFileCheckDetail {

inline std::string ReadAll(const std::string& APath) {
  std::ifstream LFile(APath, std::ios::binary);
  std::stringstream LContent;
  LContent << LFile.rdbuf();
  return LContent.str();
}

// A job registered before the file is read, as the job list provider does in its first fetch, so
// that the merge into live storages runs too.
inline TJobPtr LiveJob() {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier("{A}");
  for (const char* LName : {"TStartConditionInterval#1", "tstartconditiondaily#1"}) {
    auto LStorage = std::make_shared<TStartConditionStorage>();
    LStorage->SetName(LName);
    LJob->GetStartCondition()->GetStorages()->push_back(LStorage);
  }
  return LJob;
}

// One agent process: registers the live job, loads, saves; the file's content afterwards.
inline std::string LoadAndSave(const std::string& APath, std::string& AMismatch) {
  TFileStartConditionStorageManagerNoFilePermissions<> LManager(APath);
  LManager.RegisterJob(LiveJob());
  try {
    LManager.LoadConditionStorages();
  } catch (const std::exception& LException) {
    AMismatch = std::string("the load raised: ") + LException.what();
  }
  if (!LManager.SaveConditionStorages() && AMismatch.empty()) AMismatch = "the save failed";
  return ReadAll(APath);
}

inline std::size_t CountKeyElements(const std::string& APath) {
  TNativeXml LDocument("Root");
  LDocument.LoadFromFile(APath);
  return static_cast<std::size_t>(LDocument.GetRoot()->NodeCount());
}

}  // namespace ConditionStorageFileCheckDetail

// Puts AContent at AFilePath, and checks what must hold for any content whatsoever:
//   - loading neither raises nor fails the save that follows (the file's problems are logged);
//   - what one agent loaded and saved, the next agent loads and saves unchanged: every key and
//     every value read comes back the same, whatever the element names were.
// Crashes, hangs and sanitizer reports are the caller's to catch.
inline TConditionStorageFileResult CheckConditionStorageFile(const std::string& AFilePath,
                                                             std::string_view AContent) {
  using namespace ConditionStorageFileCheckDetail;
  TConditionStorageFileResult LResult;
  std::ofstream(AFilePath, std::ios::binary | std::ios::trunc)
      .write(AContent.data(), static_cast<std::streamsize>(AContent.size()));
  const std::string LFirst = LoadAndSave(AFilePath, LResult.Mismatch);
  if (!LResult.Mismatch.empty()) return LResult;
  LResult.KeyCount = CountKeyElements(AFilePath);
  const std::string LSecond = LoadAndSave(AFilePath, LResult.Mismatch);
  if (LResult.Mismatch.empty() && LSecond != LFirst)
    LResult.Mismatch = "saved and loaded again, the file changed from\n" + LFirst + "\nto\n" + LSecond;
  return LResult;
}

}  // namespace Orvane::Fuzzing
