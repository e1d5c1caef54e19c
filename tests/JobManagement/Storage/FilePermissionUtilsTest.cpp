#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "JobManagement/Storage/FilePermissionUtils.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "OrvaneCore/Platform/Paths.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

mode_t ModeOf(const std::string& APath) {
  struct stat LInfo {};
  return stat(APath.c_str(), &LInfo) == 0 ? (LInfo.st_mode & 07777) : 0;
}

// Whether the loader still holds the library at APath (asks without loading it).
bool IsLibraryLoaded(const std::string& APath) {
  void* LHandle = dlopen(APath.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (LHandle) dlclose(LHandle);
  return LHandle != nullptr;
}

// The log as one line per entry, so that a whole call is compared in order.
std::vector<std::string> LogLines(const TRecordingLogSink& ASink) {
  std::vector<std::string> LLines;
  for (const TLogEntry& LEntry : ASink.Entries()) {
    switch (LEntry.Kind) {
      case TLogEntryKind::TraceEnter:
        LLines.push_back("enter " + LEntry.Text);
        break;
      case TLogEntryKind::TraceExit:
        LLines.push_back("exit " + LEntry.Text);
        break;
      case TLogEntryKind::Value:
        LLines.push_back("value " + LEntry.Text + " = " + LEntry.Value);
        break;
      case TLogEntryKind::Message:
        LLines.push_back("message " + LEntry.Text);
        break;
      case TLogEntryKind::LastError:
        LLines.push_back("os error " + LEntry.Text);
        break;
      case TLogEntryKind::Exception:
        LLines.push_back("exception " + LEntry.ExceptionClass + ": " + LEntry.Text + " [" + LEntry.Value +
                         "]");
        break;
      default:
        LLines.push_back("other " + LEntry.Text);
        break;
    }
  }
  return LLines;
}

class FilePermissionUtilsTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(FTemp.Path().empty());
  }
  void TearDown() override {
    SetFilePermissionsPluginBaseDirForTesting("");
  }

  // A file (or directory) of the temporary directory with exactly AMode.
  std::string MakeFile(const std::string& AName, mode_t AMode) {
    const std::string LPath = FTemp.Path() + "/" + AName;
    std::ofstream(LPath) << "<Jobs/>";
    EXPECT_EQ(chmod(LPath.c_str(), AMode), 0);
    return LPath;
  }
  std::string MakeDir(const std::string& AName, mode_t AMode) {
    const std::string LPath = FTemp.Path() + "/" + AName;
    EXPECT_EQ(mkdir(LPath.c_str(), AMode), 0);
    EXPECT_EQ(chmod(LPath.c_str(), AMode), 0);
    return LPath;
  }

  static std::string TestPluginDir(const std::string& AKind) {
    return GetExecutableDir() + "/TestPlugins/" + AKind;
  }

  Testing::TTempDir FTemp{"orvane-permissions"};
  Testing::TLogCapture FLog;
};

TEST_F(FilePermissionUtilsTest, PluginGrantsReadToEverybodyAndWriteOnlyWithTheFlag) {
  const std::string LPlugin = FilePermissionsPluginFileName();
  ASSERT_EQ(LPlugin, GetExecutableDir() + "/Plugins/Sys/FilePermissions.dll");
  ASSERT_TRUE(FileExists(LPlugin)) << "the plug-in is built beside the test binary";

  const std::string LWritable = MakeFile("ConditionStorage.xml", 0600);
  const std::string LReadable = MakeFile("ManualJobsInJobQueue.xml", 0600);
  const std::string LWritableDir = MakeDir("AgentTasks", 0700);
  const std::string LReadableDir = MakeDir("Other", 0700);

  SetAllRightsForEverybody(LWritable, true);
  SetAllRightsForEverybody(LReadable, false);
  SetAllRightsForEverybody(LWritableDir, true);
  SetAllRightsForEverybody(LReadableDir, false);

  EXPECT_EQ(ModeOf(LWritable), 0666u);
  EXPECT_EQ(ModeOf(LReadable), 0644u);
  EXPECT_EQ(ModeOf(LWritableDir), 0777u);
  EXPECT_EQ(ModeOf(LReadableDir), 0755u);
  EXPECT_FALSE(IsLibraryLoaded(LPlugin)) << "loaded for the call only";

  FLog->Clear();
  SetAllRightsForEverybody(LWritable, true);
  EXPECT_THAT(LogLines(*FLog),
              ElementsAre("enter SetAllRightsForEverybody", "value ADirOrFileName = " + LWritable,
                          "value AIncludeWritePrivilege = true", "exit SetAllRightsForEverybody"));
}

// The path crosses to the plug-in as UTF-16 and back: characters beyond the basic plane travel as
// surrogate pairs and must name the same file again.
TEST_F(FilePermissionUtilsTest, NonAsciiPathReachesThePluginUnchanged) {
  const std::string LPath = MakeFile("Aufträge-\xE6\x96\x87\xE4\xBB\xB6-\xF0\x9F\x98\x80.xml", 0600);
  SetAllRightsForEverybody(LPath, true);
  EXPECT_EQ(ModeOf(LPath), 0666u);
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Message, "failed"));
}

TEST_F(FilePermissionUtilsTest, MissingPathIsLoggedWithoutLookingForThePlugin) {
  SetFilePermissionsPluginBaseDirForTesting(FTemp.Path());  // no plug-in there: it must not be looked for
  for (const std::string& LPath : {FTemp.Path() + "/missing.xml", std::string()}) {
    FLog->Clear();
    SetAllRightsForEverybody(LPath, true);
    EXPECT_THAT(LogLines(*FLog),
                ElementsAre("enter SetAllRightsForEverybody", "value ADirOrFileName = " + LPath,
                            "value AIncludeWritePrivilege = true", "message Directory or file does not exist",
                            "exit SetAllRightsForEverybody"));
  }
}

// Each way the plug-in can fail is logged and leaves the file as it was; a plug-in that was loaded
// is unloaded again (the raising plug-in's exception class lives in it, so it is logged after that).
TEST_F(FilePermissionUtilsTest, PluginThatIsMissingBrokenOrFailingIsLoggedAndChangesNothing) {
  const std::string LFile = MakeFile("ConditionStorage.xml", 0600);
  const std::string LBroken = FTemp.Path() + "/broken/Plugins/Sys/FilePermissions.dll";
  ASSERT_TRUE(ForceDirectories(FTemp.Path() + "/broken/Plugins/Sys"));
  std::ofstream(LBroken) << "MZ this is no shared object";
  Testing::TTempDir LEmpty("orvane-noplugin");
  const std::string LNoExport = TestPluginDir("NoExport") + "/Plugins/Sys/FilePermissions.dll";
  const std::string LRaising = TestPluginDir("Raising") + "/Plugins/Sys/FilePermissions.dll";
  struct TCase {
    std::string BaseDir;
    std::vector<::testing::Matcher<std::string>> Lines;  // between the arguments and the exit
  };
  const TCase LCases[] = {
      {LEmpty.Path(),
       {"value Value of LFilename = " + LEmpty.Path() + "/Plugins/Sys/FilePermissions.dll",
        "message DLL \"FilePermissions.dll\" not found"}},
      {FTemp.Path() + "/broken",
       {"value DLL filename = " + LBroken, StartsWith("value Loader error = " + LBroken),
        "os error Failed to load library", "message SetAllRightsForEverybody failed",
        "exception EOSError: Failed to load library []"}},
      {TestPluginDir("NoExport"),
       {"os error Proc \"SetAllRightsForEverybody\" not found", "message SetAllRightsForEverybody failed",
        "exception EOSError: Proc \"SetAllRightsForEverybody\" not found []"}},
      {TestPluginDir("Raising"),
       {"message SetAllRightsForEverybody failed", "exception Exception: refused " + LFile + " without write []"}},
  };
  ASSERT_TRUE(FileExists(LNoExport) && FileExists(LRaising)) << "the stand-ins are built beside the test binary";
  for (const TCase& LCase : LCases) {
    SCOPED_TRACE(LCase.BaseDir);
    SetFilePermissionsPluginBaseDirForTesting(LCase.BaseDir);
    FLog->Clear();

    SetAllRightsForEverybody(LFile, false);

    std::vector<::testing::Matcher<std::string>> LExpected = {
        "enter SetAllRightsForEverybody", "value ADirOrFileName = " + LFile, "value AIncludeWritePrivilege = false"};
    LExpected.insert(LExpected.end(), LCase.Lines.begin(), LCase.Lines.end());
    LExpected.push_back("exit SetAllRightsForEverybody");
    EXPECT_THAT(LogLines(*FLog), ::testing::ElementsAreArray(LExpected));
    EXPECT_EQ(ModeOf(LFile), 0600u);
  }
  EXPECT_FALSE(IsLibraryLoaded(LNoExport));
  EXPECT_FALSE(IsLibraryLoaded(LRaising));
}

// A file name on disk may be any bytes; one that is not UTF-8 cannot be handed over as UTF-16.
TEST_F(FilePermissionUtilsTest, PathThatIsNotUtf8IsLoggedAndLeftAlone) {
  const std::string LFile = MakeFile("Jobs-\xFF.xml", 0600);

  SetAllRightsForEverybody(LFile, true);

  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Message, "SetAllRightsForEverybody failed"));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, "Text is not valid UTF-8 (byte "));
  EXPECT_EQ(ModeOf(LFile), 0600u);
}

TEST(Utf8ToUtf16Test, ConvertsEveryLengthAndRefusesMalformedText) {
  EXPECT_EQ(Utf8ToUtf16("/var/lib/a.xml"), u"/var/lib/a.xml");
  EXPECT_EQ(Utf8ToUtf16("\xC3\xA4\xE6\x96\x87\xEF\xBF\xBD"), u"\u00E4\u6587\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"), std::u16string(u"\xD83D\xDE00\xDBFF\xDFFF"));

  const char* LMalformed[] = {
      "\x80",              // continuation without a lead
      "\xC3",              // cut short
      "\xE6\x96",          // cut short
      "\xC3\x41",          // lead followed by a plain character
      "\xC0\xAF",          // overlong '/'
      "\xE0\x80\xAF",      // overlong '/'
      "\xED\xA0\x80",      // an encoded surrogate
      "\xF4\x90\x80\x80",  // past U+10FFFF
      "\xF8\x88\x80\x80\x80",
  };
  for (const char* LText : LMalformed) {
    EXPECT_THROW(Utf8ToUtf16(std::string("ok") + LText), EConvertError) << ::testing::PrintToString(LText);
  }
}

}  // namespace
}  // namespace Orvane
