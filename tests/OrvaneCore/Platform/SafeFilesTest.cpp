#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <set>

#include "OrvaneCore/Platform/FileReader.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Platform/SafeFiles.h"
#include "Support/FileText.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

namespace fs = std::filesystem;
using TStatus = TFileResult::TStatus;

using Testing::ReadFile;

class SafeFilesTest : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(FBase);
    fs::create_directories(FVictim);
    Testing::WriteFile(FVictim + "/file.xml", "victim's");
  }
  // The victim folder as its caller left it.
  void ExpectVictimUntouched() {
    EXPECT_EQ(Testing::DirectoryEntries(FVictim), std::vector<std::string>{"file.xml"});
    EXPECT_EQ(ReadFile(FVictim + "/file.xml"), "victim's");
  }

  Testing::TTempDir FTemp;
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

}  // namespace
}  // namespace Orvane
