#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "Support/FileText.h"
#include "Support/TempDir.h"
#include "Support/UmaskScope.h"

namespace Orvane {
namespace {

namespace fs = std::filesystem;

using Testing::DirectoryEntries;
using Testing::ReadFile;
using Testing::WriteFile;

#ifndef _WIN32
struct stat StatOf(const std::string& AFileName) {
  struct stat LStat {};
  EXPECT_EQ(::lstat(AFileName.c_str(), &LStat), 0) << AFileName;
  return LStat;
}
#endif

class AtomicFileTest : public ::testing::Test {
protected:
  Testing::TTempDir FDir;
  const std::string FFile = FDir.Path() + "/ConditionStorage.xml";
  const std::string FVictim = FDir.Path() + "/victim";
};

TEST_F(AtomicFileTest, SavingIdenticalContentLeavesTheModificationTimeAlone) {
  {
    Testing::TUmaskScope LUmask(0);
    ASSERT_TRUE(SaveFileAtomically(FFile, "<Root><NA/></Root>"));
  }
#ifndef _WIN32
  EXPECT_EQ(StatOf(FFile).st_mode & 07777, 0600u);
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
    EXPECT_TRUE(S_ISREG(StatOf(FFile).st_mode));
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
