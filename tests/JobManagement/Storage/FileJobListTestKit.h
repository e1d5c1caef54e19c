#pragma once

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
// The print-spooler API's macro would rename the processors' SetJob.
#undef SetJob
#else
#include <dlfcn.h>
#include <sys/stat.h>
#endif

#include <memory>
#include <string>
#include <vector>

#include "JobManagement/JobKit.h"
#include "JobManagement/Storage/FileJobListProvider.h"
#include "JobManagement/Storage/FileJobListSaver.h"
#include "JobManagement/Storage/JobStoragePathProvider.Client.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "Support/EnvScope.h"
#include "Support/FileText.h"
#include "Support/JobIdentifiers.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"

// What the tests of the storage files share: jobs, file helpers, and a data directory.
namespace Orvane::Testing {

using TStrings = std::vector<std::string>;

// A manual agent-task job; its content id is the agent task id.
inline TJobPtr MakeManualJob(const std::string& AIdentifier, int32_t AOrder = 0) {
  return NewJob(AIdentifier, {.Task = "{TASK-" + AIdentifier + "}", .Manual = true, .Order = AOrder});
}

inline IEnumerable<TJobPtr> Sequence(const TJobList& AJobs) {
  return IEnumerable<TJobPtr>::FromVector(AJobs);
}

#ifndef _WIN32
// Permission bits, without following a link; 0 when there is nothing at the path. Windows has an ACL
// instead; the tests check the bits on Linux only.
inline mode_t ModeOf(const std::string& APath) {
  struct stat LInfo {};
  return lstat(APath.c_str(), &LInfo) == 0 ? (LInfo.st_mode & 07777) : 0;
}
#endif

// Whether the loader still holds the library at APath (asks without loading it).
inline bool IsLibraryLoaded(const std::string& APath) {
#ifdef _WIN32
  return ::GetModuleHandleW(reinterpret_cast<const wchar_t*>(Utf8ToUtf16(APath).c_str())) != nullptr;
#else
  void* LHandle = dlopen(APath.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (LHandle) dlclose(LHandle);
  return LHandle != nullptr;
#endif
}

// What one load of AFilePath yields through a fresh loader.
inline TJobList LoadJobs(const std::string& AFilePath) {
  TFileJobListProvider<> LLoader(AFilePath);
  LLoader.LoadData();
  return LLoader.GetItemList();
}

// A temporary data directory with the storage path provider on it, and a recording log. The
// storage directory itself does not exist until a saver makes it.
class TFileJobListFixture : public ::testing::Test {
protected:
  explicit TFileJobListFixture(const std::string& ADataDirPrefix = "orvane-storage") : FData(ADataDirPrefix) {}
  void SetUp() override { ASSERT_FALSE(FData.Path().empty()); }

  std::string StorageDir() const { return FPathProvider->GetStoragePath(); }
  std::string QueueFile() const { return StorageDir() + "/" + CManualJobsInJobQueueFileName; }

  TTempDir FData;
  TLogCapture FLog;
  // The real storage path provider of agent tasks, on the data directory.
  std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>> FPathProvider = [this] {
    TEnvScope LEnv("ORVANE_COMMON_APPDATA", FData.Path().c_str());
    return std::make_shared<TJobStoragePathProvider<TScannerJobAction>>();
  }();
};

}  // namespace Orvane::Testing
