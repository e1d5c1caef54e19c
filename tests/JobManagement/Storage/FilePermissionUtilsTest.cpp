#include <gtest/gtest.h>
#ifdef _WIN32
#include <aclapi.h>
#include <windows.h>
#endif

#include <string>

#include "FileJobListTestKit.h"
#include "JobManagement/Storage/FilePermissionUtils.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/Paths.h"

namespace Orvane::Testing {
namespace {

#ifdef _WIN32
// The rights that an allow entry of APath's ACL grants the Everyone group; 0 without one.
ACCESS_MASK EverybodyRights(const std::string& APath) {
  const std::u16string LPath = Utf8ToUtf16(APath);
  PACL LAcl = nullptr;
  PSECURITY_DESCRIPTOR LDescriptor = nullptr;
  EXPECT_EQ(::GetNamedSecurityInfoW(reinterpret_cast<const wchar_t*>(LPath.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, &LAcl, nullptr, &LDescriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  SID_IDENTIFIER_AUTHORITY LWorld = SECURITY_WORLD_SID_AUTHORITY;
  PSID LEveryone = nullptr;
  ::AllocateAndInitializeSid(&LWorld, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &LEveryone);
  ACCESS_MASK LRights = 0;
  for (DWORD LIndex = 0; LAcl && LIndex < LAcl->AceCount; ++LIndex) {
    ACCESS_ALLOWED_ACE* LAce = nullptr;
    if (::GetAce(LAcl, LIndex, reinterpret_cast<void**>(&LAce)) && LAce->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        ::EqualSid(&LAce->SidStart, LEveryone))
      LRights |= LAce->Mask;
  }
  ::FreeSid(LEveryone);
  ::LocalFree(LDescriptor);
  return LRights;
}
#endif

class FilePermissionUtilsTest : public TFileJobListFixture {
protected:
  void TearDown() override { SetFilePermissionsPluginBaseDirForTesting(""); }

  // A file, or with ADirectory a directory, of the data directory with exactly AMode.
  std::string Make(const std::string& AName, int AMode, bool ADirectory = false) {
    const std::string LPath = FData.Path() + "/" + AName;
#ifdef _WIN32
    (void)AMode;  // the data directory's ACL is inherited
    ADirectory ? (void)std::filesystem::create_directory(std::filesystem::u8path(LPath)) : WriteFile(LPath, "<Jobs/>");
#else
    ADirectory ? (void)mkdir(LPath.c_str(), AMode) : WriteFile(LPath, "<Jobs/>");
    EXPECT_EQ(chmod(LPath.c_str(), AMode), 0);
#endif
    return LPath;
  }
};

// The path crosses to the plug-in as UTF-16 and back: characters beyond the basic plane travel as
// surrogate pairs and must name the same file again. The plug-in is loaded for the call only.
TEST_F(FilePermissionUtilsTest, PluginGrantsReadToEverybodyAndWriteOnlyWithTheFlag) {
  const std::string LPlugin = FilePermissionsPluginFileName();
  ASSERT_EQ(LPlugin, GetExecutableDir() + "/Plugins/Sys/FilePermissions.dll");
  ASSERT_TRUE(FileExists(LPlugin)) << "the plug-in is built beside the test binary";
  const struct {
    std::string Path;
    bool Write;
    int Expected;  // the mode; on Windows, 1 when Everyone has full control
  } LCases[] = {{Make("Aufträge-\xE6\x96\x87\xE4\xBB\xB6-\xF0\x9F\x98\x80.xml", 0600), true, 0666},
                {Make("ManualJobsInJobQueue.xml", 0600), false, 0644},
                {Make("AgentTasks", 0700, true), true, 0777},
                {Make("Other", 0700, true), false, 0755}};
  for (const auto& LCase : LCases) {
#ifdef _WIN32
    // Full control for Everyone with the flag, read and execute without it; none of it before.
    EXPECT_NE(EverybodyRights(LCase.Path) & FILE_ALL_ACCESS, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    SetAllRightsForEverybody(LCase.Path, LCase.Write);
    const ACCESS_MASK LRights = EverybodyRights(LCase.Path);
    if (LCase.Write)
      EXPECT_EQ(LRights & FILE_ALL_ACCESS, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS)) << LCase.Path;
    else
      EXPECT_EQ(LRights & (FILE_GENERIC_READ | FILE_WRITE_DATA), static_cast<ACCESS_MASK>(FILE_GENERIC_READ)) << LCase.Path;
#else
    SetAllRightsForEverybody(LCase.Path, LCase.Write);
    EXPECT_EQ(ModeOf(LCase.Path), static_cast<mode_t>(LCase.Expected)) << LCase.Path;
#endif
  }
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Message, "failed"));
  EXPECT_FALSE(IsLibraryLoaded(LPlugin));
}

// Each way the call can fail is logged and leaves the file as it was; a plug-in that was loaded is
// unloaded again (the raising plug-in's exception class lives in it, so it is logged after that).
TEST_F(FilePermissionUtilsTest, MissingPathOrPluginThatIsMissingBrokenOrFailingIsLoggedAndChangesNothing) {
  const std::string LFile = Make("ConditionStorage.xml", 0600);
  const std::string LStandIns = GetExecutableDir() + "/TestPlugins/";
  ASSERT_TRUE(ForceDirectories(FData.Path() + "/broken/Plugins/Sys"));
  WriteFile(FData.Path() + "/broken/Plugins/Sys/FilePermissions.dll", "MZ this is no shared object");
  const struct {
    std::string Path, BaseDir;
    TLogEntryKind Kind;  // of the entry that says why
    std::string Why;
  } LCases[] = {
      // No plug-in in the base directory: a missing path must not even look for it.
      {FData.Path() + "/missing.xml", FData.Path(), TLogEntryKind::Message,
       "Directory or file does not exist"},
      {"", FData.Path(), TLogEntryKind::Message, "Directory or file does not exist"},
      {LFile, FData.Path(), TLogEntryKind::Message, "DLL \"FilePermissions.dll\" not found"},
      {LFile, FData.Path() + "/broken", TLogEntryKind::Exception, "Failed to load library"},
      {LFile, LStandIns + "NoExport", TLogEntryKind::Exception,
       "Proc \"SetAllRightsForEverybody\" not found"},
      {LFile, LStandIns + "Raising", TLogEntryKind::Exception, "refused " + LFile + " without write"},
      // A file name on disk may be any bytes; one that is not UTF-8 cannot be handed over as UTF-16.
#ifdef _WIN32  // names on disk are UTF-16 there: such a name cannot even be made
      {FData.Path() + "/Jobs-\xFF.xml", "", TLogEntryKind::Exception, "Text is not valid UTF-8 (byte "},
#else
      {Make("Jobs-\xFF.xml", 0600), "", TLogEntryKind::Exception, "Text is not valid UTF-8 (byte "},
#endif
  };
  for (const auto& LCase : LCases) {
    SCOPED_TRACE(LCase.Why);
    SetFilePermissionsPluginBaseDirForTesting(LCase.BaseDir);
    FLog->Clear();
    SetAllRightsForEverybody(LCase.Path, false);
    EXPECT_EQ(FLog->Count(LCase.Kind, LCase.Why), 1);
    EXPECT_EQ(FLog->Count(TLogEntryKind::Message, "SetAllRightsForEverybody failed"),
              LCase.Kind == TLogEntryKind::Exception ? 1 : 0);
#ifndef _WIN32
    if (FileExists(LCase.Path)) {
      EXPECT_EQ(ModeOf(LCase.Path), 0600u);
    }
#endif
  }
  for (const char* LKind : {"NoExport", "Raising"}) {
    ASSERT_TRUE(FileExists(LStandIns + LKind + "/Plugins/Sys/FilePermissions.dll"))
        << "built beside the tests";
    EXPECT_FALSE(IsLibraryLoaded(LStandIns + LKind + "/Plugins/Sys/FilePermissions.dll"));
  }
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
  for (const char* LText : LMalformed)
    EXPECT_THROW(Utf8ToUtf16(std::string("ok") + LText), EConvertError) << ::testing::PrintToString(LText);
}

}  // namespace
}  // namespace Orvane::Testing
