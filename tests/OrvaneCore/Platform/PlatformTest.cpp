#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "OrvaneCore/Platform/FileReader.h"
#include "OrvaneCore/Platform/Guid.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Platform/SafeFiles.h"
#include "Support/EnvScope.h"
#include "Support/FileText.h"
#include "Support/TempDir.h"
#include "Support/UmaskScope.h"

namespace Orvane {
namespace {

namespace fs = std::filesystem;
using namespace Testing;
using TStatus = TFileResult::TStatus;

TEST(GuidTest, NewGuidsAreDistinctUpperCaseVersion4AndOnlyThatFormIsRecognised) {
  const std::string LGuid = CreateGuidString();
  EXPECT_TRUE(IsGuidString(LGuid) && LGuid[15] == '4' && LGuid.find_first_of("abcdef") == std::string::npos &&
              LGuid != CreateGuidString())
      << LGuid;
  EXPECT_TRUE(IsGuidString("{6f9619ff-8b86-d011-b42d-00c04fc964ff}"));  // any version, any case
  for (const char* LText : {"6F9619FF-8B86-D011-B42D-00C04FC964FF", "{6F9619FF-8B86-D011-B42D-00C04FC964FG}",
                            "{6F9619FF8-B86-D011-B42D-00C04FC964FF}", ""})
    EXPECT_FALSE(IsGuidString(LText)) << LText;
}

// The message of the EFileError that GetCommonAppDataDir raises, or "" when it raises none.
[[maybe_unused]] std::string RefusalOf(const std::string& APath) {
  TEnvScope LEnv("ORVANE_COMMON_APPDATA", APath.c_str());
  try {
    GetCommonAppDataDir();
  } catch (const EFileError& AError) {
    return AError.Message();
  }
  return "";
}

TEST(PathsTest, UnsafeDataDirsAreRefusedByName) {
#ifdef _WIN32
  GTEST_SKIP() << "mode bits and owners (linux-only)";
#else
  TTempDir LTemp;
  const std::string LLoose = LTemp.Path() + "/loose";
  ASSERT_EQ(mkdir(LLoose.c_str(), 0700), 0);
  ASSERT_EQ(chmod(LLoose.c_str(), 0755), 0);
  EXPECT_EQ(RefusalOf(LLoose),
            "Data directory " + LLoose + " is accessible by other users (mode 0755); refusing to use it");

  const std::string LFile = LTemp.Path() + "/file";
  WriteFile(LFile, "x");
  EXPECT_EQ(RefusalOf(LFile), "Data directory " + LFile + " is not a directory; refusing to use it");

  if (geteuid() == 0) {
    const std::string LForeign = LTemp.Path() + "/foreign";
    ASSERT_EQ(mkdir(LForeign.c_str(), 0700), 0);
    ASSERT_EQ(chown(LForeign.c_str(), 65534, 65534), 0);
    EXPECT_NE(RefusalOf(LForeign).find("is owned by user 65534"), std::string::npos);
  }
#endif
}

TEST(PathsTest, DataDirFallsBackToXdgDataHome) {
  TEnvScope LOverride("ORVANE_COMMON_APPDATA", "");
#ifdef _WIN32
  // Windows: the machine-wide application data folder, created when missing.
  const std::string LDir = GetCommonAppDataDir();
  EXPECT_TRUE(LDir.ends_with("/ProgramData/tessra-agent")) << LDir;
  EXPECT_TRUE(DirectoryExists(LDir));
#else
  if (geteuid() == 0) GTEST_SKIP() << "root uses /var/lib/tessra-agent";
  TTempDir LTemp;
  TEnvScope LXdg("XDG_DATA_HOME", LTemp.Path().c_str());
  EXPECT_EQ(GetCommonAppDataDir(), LTemp.Path() + "/tessra-agent");
#endif
}

class SafeFilesTest : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(FBase);
    fs::create_directories(FVictim);
    WriteFile(FVictim + "/file.xml", "victim's");
  }
  // The victim folder as its caller left it.
  void ExpectVictimUntouched() {
    EXPECT_EQ(DirectoryEntries(FVictim), std::vector<std::string>{"file.xml"});
    EXPECT_EQ(ReadFile(FVictim + "/file.xml"), "victim's");
  }

  TTempDir FTemp;
  const std::string FBase = FTemp.Path() + "/data";
  const std::string FVictim = FTemp.Path() + "/victim";
};

TEST_F(SafeFilesTest, ALinkAtAnyComponentRefusesEveryOperation) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links (linux-only)";
#else
  // The link as the first directory, as a directory further down, and as the file itself.
  fs::create_directory_symlink(FVictim, FBase + "/linked");
  fs::create_directories(FBase + "/real");
  fs::create_directory_symlink(FVictim, FBase + "/real/linked");
  fs::create_symlink(FVictim + "/file.xml", FBase + "/real/file.xml");
  for (const std::string LDir : {"linked", "real/linked"}) {
    SCOPED_TRACE(LDir);
    std::string LContent;
    std::vector<TDirectoryEntry> LEntries;
    const TFileResult LRefused = AppendToFile(FBase, LDir + "/file.xml", "line\n");
    EXPECT_NE(LRefused.Error.find(FBase + "/" + LDir + ": a symbolic link"), std::string::npos)
        << LRefused.Error;
    EXPECT_EQ((std::vector<TStatus>{LRefused.Status, MakeOwnerDirectories(FBase, LDir + "/below").Status,
                                    ReadWholeFile(FBase, LDir + "/file.xml", LContent).Status,
                                    ReplaceFile(FBase, LDir + "/new.xml", "<new/>").Status,
                                    ListDirectory(FBase, LDir, LEntries).Status,
                                    RemoveFile(FBase, LDir + "/file.xml").Status}),
              std::vector<TStatus>(6, TStatus::SymbolicLink));
  }
  std::string LContent;
  EXPECT_EQ(AppendToFile(FBase, "real/file.xml", "line\n").Status, TStatus::SymbolicLink);
  EXPECT_EQ(ReadWholeFile(FBase, "real/file.xml", LContent).Status, TStatus::SymbolicLink);
  ExpectVictimUntouched();

  // Removing takes the link away, never what it points at; a listing names it as a link.
  std::vector<TDirectoryEntry> LEntries;
  ASSERT_TRUE(ListDirectory(FBase, "real", LEntries).Done());
  ASSERT_EQ(LEntries.size(), 2u);
  for (const TDirectoryEntry& LEntry : LEntries) EXPECT_EQ(LEntry.Kind, TDirectoryEntry::TKind::SymbolicLink);
  EXPECT_TRUE(RemoveFile(FBase, "real/file.xml").Done());
  EXPECT_FALSE(fs::is_symlink(FBase + "/real/file.xml"));
  ExpectVictimUntouched();

  // Paths that leave the base are no paths below it.
  EXPECT_EQ(AppendToFile(FBase, "../victim/file.xml", "x").Status, TStatus::Failed);
  EXPECT_EQ(AppendToFile(FBase, FVictim + "/file.xml", "x").Status, TStatus::Failed);
  ExpectVictimUntouched();
#endif
}

TEST_F(SafeFilesTest, AppendReadListAndRotate) {
  std::string LContent;
  EXPECT_EQ(ReadWholeFile(FBase, "server/reports.log", LContent).Status, TStatus::Missing);
  ASSERT_TRUE(AppendToFile(FBase, "server/reports.log", "one\n", 8).Done());
  ASSERT_TRUE(AppendToFile(FBase, "server/reports.log", "two\n", 8).Done());
  ASSERT_TRUE(ReadWholeFile(FBase, "server/reports.log", LContent).Done());
  EXPECT_EQ(LContent, "one\ntwo\n");
  // At its limit the file moves aside and a new one begins.
  ASSERT_TRUE(AppendToFile(FBase, "server/reports.log", "three\n", 8).Done());
  EXPECT_EQ(ReadFile(FBase + "/server/reports.log"), "three\n");
  EXPECT_EQ(ReadFile(FBase + "/server/reports.log.1"), "one\ntwo\n");

#ifndef _WIN32  // no FIFOs on Windows
  ::mkfifo((FBase + "/server/fifo").c_str(), 0600);
  EXPECT_EQ(AppendToFile(FBase, "server/fifo", "x").Status, TStatus::Failed);  // without blocking
#endif
  std::vector<TDirectoryEntry> LEntries;
  ASSERT_TRUE(ListDirectory(FBase, "server", LEntries).Done());
  std::set<std::string> LNames;
  for (const TDirectoryEntry& LEntry : LEntries)
    if (LEntry.Kind == TDirectoryEntry::TKind::File) LNames.insert(LEntry.Name);
  EXPECT_EQ(LNames, (std::set<std::string>{"reports.log", "reports.log.1"}));
  EXPECT_EQ(ListDirectory(FBase, "missing", LEntries).Status, TStatus::Missing);
}

class AtomicFileTest : public ::testing::Test {
protected:
  TTempDir FDir;
  const std::string FFile = FDir.Path() + "/ConditionStorage.xml";
  const std::string FVictim = FDir.Path() + "/victim";
};

TEST_F(AtomicFileTest, SavingIdenticalContentLeavesTheModificationTimeAlone) {
  {
    TUmaskScope LUmask(0);
    ASSERT_TRUE(SaveFileAtomically(FFile, "<Root><NA/></Root>"));
  }
#ifndef _WIN32
  EXPECT_EQ(fs::status(FFile).permissions() & fs::perms::mask,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
  EXPECT_EQ(DirectoryEntries(FDir.Path()), std::vector<std::string>{"ConditionStorage.xml"});
  const fs::file_time_type LOld = fs::last_write_time(FFile) - std::chrono::hours(24 * 365);
  fs::last_write_time(FFile, LOld);
  EXPECT_FALSE(SaveFileAtomically(FFile, "<Root><NA/></Root>"));
  EXPECT_EQ(fs::last_write_time(FFile), LOld);
  // Same length, other bytes; and a longer content that starts with the old one.
  EXPECT_TRUE(SaveFileAtomically(FFile, "<Root><NB/></Root>"));
  EXPECT_NE(fs::last_write_time(FFile), LOld);
  EXPECT_TRUE(SaveFileAtomically(FFile, "<Root><NB/></Root>\n"));
  EXPECT_EQ(ReadFile(FFile), "<Root><NB/></Root>\n");
}

// Neither a dangling link (whose target would be created) nor a FIFO (which would block the
// comparison read) at the path is written through: each is replaced by a regular file. Nor does a
// link or a file planted at a temporary name divert the write.
TEST_F(AtomicFileTest, LinksAndFifosAtThePathOrAtTheTemporaryNamesAreNeverFollowed) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links and FIFOs (linux-only)";
#else
  const std::string LTarget = FDir.Path() + "/created-through-link";
  for (const bool LFifo : {false, true}) {
    fs::remove(FFile);
    ASSERT_EQ(LFifo ? ::mkfifo(FFile.c_str(), 0600) : ::symlink(LTarget.c_str(), FFile.c_str()), 0);
    EXPECT_TRUE(SaveFileAtomically(FFile, "<Root/>"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(FFile)));
  }
  EXPECT_FALSE(fs::exists(LTarget));

  // Hands out the temporary names the test chose, so that it can plant files at them.
  class TPredictableAtomicFile : public TAtomicFile {
  public:
    std::vector<std::string> Names;
    std::size_t Asked = 0;

  protected:
    std::string NewTemporaryName(const std::string&) override {
      return Names[std::min(Asked++, Names.size() - 1)];
    }
  } LSaver;
  LSaver.Names = {FDir.Path() + "/.guessed-1", FDir.Path() + "/.guessed-2", FDir.Path() + "/.guessed-3"};
  WriteFile(FVictim, "secret");
  ASSERT_EQ(::symlink(FVictim.c_str(), LSaver.Names[0].c_str()), 0);
  WriteFile(LSaver.Names[1], "planted");
  EXPECT_TRUE(LSaver.Save(FFile, "<Root><New/></Root>"));
  EXPECT_EQ(LSaver.Asked, 3u);
  EXPECT_EQ(ReadFile(FFile) + ReadFile(FVictim) + ReadFile(LSaver.Names[1]),
            "<Root><New/></Root>secretplanted");
  EXPECT_FALSE(fs::exists(LSaver.Names[2]));  // renamed into place
#endif
}

TEST_F(AtomicFileTest, FailuresRaiseOSErrorNamingTheFileAndLeaveNoTemporaryFile) {
  const std::string LMissingDir = FDir.Path() + "/missing/ConditionStorage.xml";
  try {
    SaveFileAtomically(LMissingDir, "<Root/>");
    ADD_FAILURE() << "no exception";
  } catch (const EOSError& E) {
    EXPECT_EQ(E.ErrorCode(), ENOENT);
    EXPECT_NE(std::string(E.what()).find(LMissingDir), std::string::npos) << E.what();
  }
  fs::create_directory(FFile);  // a directory where the file belongs
  EXPECT_THROW(SaveFileAtomically(FFile, "<Root/>"), EOSError);
  EXPECT_EQ(DirectoryEntries(FDir.Path()), std::vector<std::string>{"ConditionStorage.xml"});
  EXPECT_THROW(SaveFileAtomically(FDir.Path() + "/", "<Root/>"), EArgumentException);
}

TEST_F(AtomicFileTest, LeftTemporaryFilesAreRemovedAndNothingElse) {
  // What a save killed between its create and its rename leaves, here and one folder down.
  class TExposedAtomicFile : public TAtomicFile {
  public:
    using TAtomicFile::NewTemporaryName;
  } LFile;
  fs::create_directories(FDir.Path() + "/sub");
  const std::string LLeft = LFile.NewTemporaryName(FFile);
  const std::string LLeftBelow = LFile.NewTemporaryName(FDir.Path() + "/sub/ManualJobs.xml");
  WriteFile(LLeft, "<half");
  WriteFile(LLeftBelow, "<half");
  // Look-alikes that a save never makes, a link to a victim, and the saved file itself.
  WriteFile(FDir.Path() + "/.notes.tmp", "mine");
  WriteFile(FDir.Path() + "/.ConditionStorage.xml.0123456789ABCDEF0123456789ABCDEG.tmp", "mine");
  WriteFile(FVictim, "keep");
  std::vector<std::string> LKept{".ConditionStorage.xml.0123456789ABCDEF0123456789ABCDEG.tmp", ".notes.tmp",
                                 "ConditionStorage.xml", "sub", "victim"};
#ifndef _WIN32  // Wine makes no symbolic links
  fs::create_symlink(FVictim, FDir.Path() + "/.victim.0123456789ABCDEF0123456789ABCDEF.tmp");
  LKept.insert(LKept.begin() + 2, ".victim.0123456789ABCDEF0123456789ABCDEF.tmp");
#endif
  WriteFile(FFile, "<saved/>");

  EXPECT_EQ(RemoveLeftTemporaryFiles(FDir.Path()), 2);
  EXPECT_FALSE(fs::exists(LLeft));
  EXPECT_FALSE(fs::exists(LLeftBelow));
  EXPECT_EQ(DirectoryEntries(FDir.Path()), LKept);
  EXPECT_EQ(ReadFile(FVictim), "keep");
  EXPECT_EQ(RemoveLeftTemporaryFiles(FDir.Path() + "/no-such-dir"), 0);
}

}  // namespace
}  // namespace Orvane
