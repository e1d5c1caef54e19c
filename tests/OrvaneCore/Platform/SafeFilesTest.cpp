#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "OrvaneCore/Platform/FileReader.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Platform/SafeFiles.h"
#include "Support/TempDir.h"
#include "Support/UmaskScope.h"

namespace Orvane {
namespace {

namespace fs = std::filesystem;
using TStatus = TFileResult::TStatus;

std::string ReadFile(const fs::path& APath) {
  std::ifstream LFile(APath, std::ios::binary);
  std::stringstream LContent;
  LContent << LFile.rdbuf();
  return LContent.str();
}

unsigned ModeOf(const fs::path& APath) {
  struct stat LStat {};
  return ::lstat(APath.c_str(), &LStat) == 0 ? (LStat.st_mode & 07777) : 0;
}

class SafeFilesTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(FTemp.Path().empty());
    FBase = FTemp.Path() + "/data";
    FVictim = FTemp.Path() + "/victim";
    fs::create_directories(FBase);
    fs::create_directories(FVictim);
    std::ofstream(FVictim + "/file.xml") << "victim's";
  }
  // The victim folder as its caller left it.
  void ExpectVictimUntouched() {
    std::vector<std::string> LNames;
    for (const auto& LEntry : fs::directory_iterator(FVictim)) LNames.push_back(LEntry.path().filename());
    EXPECT_EQ(LNames, std::vector<std::string>{"file.xml"});
    EXPECT_EQ(ReadFile(FVictim + "/file.xml"), "victim's");
  }

  Testing::TTempDir FTemp;
  std::string FBase;
  std::string FVictim;
};

TEST_F(SafeFilesTest, ALinkAtAnyComponentRefusesEveryOperation) {
  // The link as the first directory, as a directory further down, and as the file itself.
  fs::create_directory_symlink(FVictim, FBase + "/linked");
  fs::create_directories(FBase + "/real");
  fs::create_directory_symlink(FVictim, FBase + "/real/linked");
  fs::create_symlink(FVictim + "/file.xml", FBase + "/real/file.xml");
  for (const std::string LDir : {"linked", "real/linked"}) {
    SCOPED_TRACE(LDir);
    std::string LContent;
    std::vector<TDirectoryEntry> LEntries;
    EXPECT_EQ(MakeOwnerDirectories(FBase, LDir + "/below").Status, TStatus::SymbolicLink);
    EXPECT_EQ(AppendToFile(FBase, LDir + "/file.xml", "line\n").Status, TStatus::SymbolicLink);
    EXPECT_EQ(ReadWholeFile(FBase, LDir + "/file.xml", LContent).Status, TStatus::SymbolicLink);
    EXPECT_EQ(ReplaceFile(FBase, LDir + "/new.xml", "<new/>").Status, TStatus::SymbolicLink);
    EXPECT_EQ(ListDirectory(FBase, LDir, LEntries).Status, TStatus::SymbolicLink);
    EXPECT_EQ(RemoveFile(FBase, LDir + "/file.xml").Status, TStatus::SymbolicLink);
    const TFileResult LRefused = AppendToFile(FBase, LDir + "/file.xml", "line\n");
    EXPECT_NE(LRefused.Error.find(FBase + "/" + LDir + ": a symbolic link"), std::string::npos) << LRefused.Error;
  }
  std::string LContent;
  EXPECT_EQ(AppendToFile(FBase, "real/file.xml", "line\n").Status, TStatus::SymbolicLink);
  EXPECT_EQ(ReadWholeFile(FBase, "real/file.xml", LContent).Status, TStatus::SymbolicLink);
  ExpectVictimUntouched();

  // Removing takes the link away, never what it points at; a listing names it as a link.
  std::vector<TDirectoryEntry> LEntries;
  ASSERT_TRUE(ListDirectory(FBase, "real", LEntries).Done());
  std::sort(LEntries.begin(), LEntries.end(), [](const auto& A, const auto& B) { return A.Name < B.Name; });
  ASSERT_EQ(LEntries.size(), 2u);
  EXPECT_EQ(LEntries[0].Kind, TDirectoryEntry::TKind::SymbolicLink);
  EXPECT_EQ(LEntries[1].Kind, TDirectoryEntry::TKind::SymbolicLink);
  EXPECT_TRUE(RemoveFile(FBase, "real/file.xml").Done());
  EXPECT_FALSE(fs::is_symlink(FBase + "/real/file.xml"));
  ExpectVictimUntouched();

  // Paths that leave the base are no paths below it.
  EXPECT_EQ(AppendToFile(FBase, "../victim/file.xml", "x").Status, TStatus::Failed);
  EXPECT_EQ(AppendToFile(FBase, FVictim + "/file.xml", "x").Status, TStatus::Failed);
  ExpectVictimUntouched();
}

TEST_F(SafeFilesTest, WhatTheCallsCreateIsOwnerOnlyWhateverTheUmask) {
  Testing::TUmaskScope LUmask(0);
  ASSERT_TRUE(AppendToFile(FBase, "server/reports.log", "first\n").Done());
  ASSERT_TRUE(ReplaceFile(FBase, "results/Computer Scanner/a.xml", "<a/>").Done());
  ASSERT_TRUE(MakeOwnerDirectories(FBase, "one/two").Done());
  ASSERT_TRUE(ForceDirectories(FBase + "/forced/deep"));
  for (const std::string LDir : {"server", "results", "results/Computer Scanner", "one", "one/two", "forced",
                                 "forced/deep"})
    EXPECT_EQ(ModeOf(FBase + "/" + LDir), 0700u) << LDir;
  EXPECT_EQ(ModeOf(FBase + "/server/reports.log"), 0600u);
  EXPECT_EQ(ModeOf(FBase + "/results/Computer Scanner/a.xml"), 0600u);
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

  ::mkfifo((FBase + "/server/fifo").c_str(), 0600);
  EXPECT_EQ(AppendToFile(FBase, "server/fifo", "x").Status, TStatus::Failed);  // without blocking
  std::vector<TDirectoryEntry> LEntries;
  ASSERT_TRUE(ListDirectory(FBase, "server", LEntries).Done());
  std::vector<std::string> LNames;
  for (const TDirectoryEntry& LEntry : LEntries)
    if (LEntry.Kind == TDirectoryEntry::TKind::File) LNames.push_back(LEntry.Name);
  std::sort(LNames.begin(), LNames.end());
  EXPECT_EQ(LNames, (std::vector<std::string>{"reports.log", "reports.log.1"}));
  EXPECT_EQ(ListDirectory(FBase, "missing", LEntries).Status, TStatus::Missing);
}

// The reader of whole files by their own path: what it refuses when asked, and a bounded read.
TEST_F(SafeFilesTest, TheFileReaderRefusesALinkOrANonRegularFileOnlyWhenAsked) {
  const std::string LFile = FVictim + "/file.xml";
  const std::string LLink = FBase + "/link.xml";
  fs::create_symlink(LFile, LLink);
  ::mkfifo((FBase + "/fifo").c_str(), 0600);
  std::string LContent;
  const TFileResult LMissing = ReadWholeFile(FBase + "/missing", LContent);
  EXPECT_EQ(LMissing.Status, TStatus::Missing);
  EXPECT_EQ(LMissing.ErrorCode, ENOENT);
  ASSERT_TRUE(ReadWholeFile(LLink, LContent).Done());
  EXPECT_EQ(LContent, "victim's");
  const TFileResult LRefused = ReadWholeFile(LLink, LContent, {.NoFollow = true});
  EXPECT_EQ(LRefused.Status, TStatus::SymbolicLink);
  EXPECT_EQ(LRefused.ErrorCode, ELOOP);
  EXPECT_EQ(ReadWholeFile(FBase, LContent, {.RegularOnly = true}).ErrorCode, EISDIR);
  EXPECT_EQ(ReadWholeFile(FBase + "/fifo", LContent, {.RegularOnly = true}).ErrorCode, EINVAL);  // without blocking

  ASSERT_TRUE(ReadWholeFile(LFile, LContent, {}, 3).Done());
  EXPECT_EQ(LContent, "vic");
  // A read beyond the end is short, and the position stays where the last one ended.
  TFileReader LReader;
  ASSERT_TRUE(LReader.Open(LFile, {.NoFollow = true, .RegularOnly = true}).Done());
  EXPECT_EQ(LReader.Size(), 8u);
  char LBuffer[6];
  std::size_t LRead = 0;
  ASSERT_TRUE(LReader.Read(LBuffer, LRead).Done());
  EXPECT_EQ(std::string(LBuffer, LRead), "victim");
  ASSERT_TRUE(LReader.Read(LBuffer, LRead).Done());
  EXPECT_EQ(std::string(LBuffer, LRead), "'s");
}

}  // namespace
}  // namespace Orvane
