#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "JobManagement/Storage/FilePermissionUtils.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

// Calls on several threads load and unload the plug-in independently: each gets its own grant and
// the plug-in is gone when the last call has returned.
TEST(FilePermissionUtilsConcurrencyTest, ConcurrentCallsEachLoadAndUnloadThePlugin) {
  constexpr int CThreads = 4;
  constexpr int CRounds = 40;
  Testing::TTempDir LTemp("orvane-permissions");
  ASSERT_FALSE(LTemp.Path().empty());
  RemoveAllLogSinks();
  auto LLog = std::make_shared<TRecordingLogSink>();
  AddLogSink(LLog);

  std::atomic<int> LWrongModes{0};
  std::vector<std::thread> LThreads;
  for (int LIndex = 0; LIndex < CThreads; ++LIndex) {
    LThreads.emplace_back([&, LIndex] {
      const std::string LFile = LTemp.Path() + "/file" + std::to_string(LIndex);
      std::ofstream(LFile) << "x";
      for (int LRound = 0; LRound < CRounds; ++LRound) {
        chmod(LFile.c_str(), 0600);
        const bool LWrite = (LRound + LIndex) % 2 == 0;
        SetAllRightsForEverybody(LFile, LWrite);
        struct stat LInfo {};
        stat(LFile.c_str(), &LInfo);
        if ((LInfo.st_mode & 07777) != (LWrite ? 0666u : 0644u)) ++LWrongModes;
      }
    });
  }
  for (std::thread& LThread : LThreads) LThread.join();
  RemoveAllLogSinks();

  EXPECT_EQ(LWrongModes.load(), 0);
  EXPECT_EQ(LLog->Count(TLogEntryKind::Message, "failed"), 0);
  EXPECT_EQ(LLog->Count(TLogEntryKind::TraceExit, "SetAllRightsForEverybody"), CThreads * CRounds);
  void* LStillLoaded = dlopen(FilePermissionsPluginFileName().c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(LStillLoaded, nullptr);
  if (LStillLoaded) dlclose(LStillLoaded);
}

}  // namespace
}  // namespace Orvane
