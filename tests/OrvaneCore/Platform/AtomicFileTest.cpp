#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

// Hands out the temporary names a test chose, so that it can plant files at them.
class TPredictableAtomicFile : public TAtomicFile {
public:
  explicit TPredictableAtomicFile(std::vector<std::string> ANames) : FNames(std::move(ANames)) {}
  std::size_t Asked = 0;

protected:
  std::string NewTemporaryName(const std::string&) override {
    return FNames[std::min(Asked++, FNames.size() - 1)];
  }

private:
  std::vector<std::string> FNames;
};

std::string ReadFile(const std::string& AFileName) {
  std::ifstream LFile(AFileName, std::ios::binary);
  std::stringstream LContent;
  LContent << LFile.rdbuf();
  return LContent.str();
}

void WriteFile(const std::string& AFileName, const std::string& AContent) {
  std::ofstream(AFileName, std::ios::binary | std::ios::trunc) << AContent;
}

std::vector<std::string> DirectoryEntries(const std::string& ADirectory) {
  std::vector<std::string> LNames;
  for (const auto& LEntry : std::filesystem::directory_iterator(ADirectory))
    LNames.push_back(LEntry.path().filename().string());
  std::sort(LNames.begin(), LNames.end());
  return LNames;
}

bool IsRegularFile(const std::string& AFileName) {
  struct stat LStat {};
  return ::lstat(AFileName.c_str(), &LStat) == 0 && S_ISREG(LStat.st_mode);
}

class AtomicFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(FDir.Path().empty());
    FFile = FDir.Path() + "/ConditionStorage.xml";
    FVictim = FDir.Path() + "/victim";
  }
  Testing::TTempDir FDir;
  std::string FFile;
  std::string FVictim;
};

TEST_F(AtomicFileTest, ANewFileHoldsTheContentIsOwnerOnlyAndNoTemporaryFileRemains) {
  const mode_t LOldMask = ::umask(0);
  const bool LWritten = SaveFileAtomically(FFile, "<Root/>");
  ::umask(LOldMask);
  EXPECT_TRUE(LWritten);
  EXPECT_EQ(ReadFile(FFile), "<Root/>");
  struct stat LStat {};
  ASSERT_EQ(::stat(FFile.c_str(), &LStat), 0);
  EXPECT_EQ(LStat.st_mode & 07777, 0600u);
  EXPECT_EQ(DirectoryEntries(FDir.Path()), std::vector<std::string>{"ConditionStorage.xml"});
}

TEST_F(AtomicFileTest, ASymbolicLinkAtThePathIsReplacedNeverFollowed) {
  // The link's target holds the very bytes being saved: the save must not take the link's file
  // for its own and skip.
  for (const std::string LVictimContent : {"secret", "<Root/>"}) {
    SCOPED_TRACE(LVictimContent);
    WriteFile(FVictim, LVictimContent);
    std::filesystem::remove(FFile);
    ASSERT_EQ(::symlink(FVictim.c_str(), FFile.c_str()), 0);
    EXPECT_TRUE(SaveFileAtomically(FFile, "<Root/>"));
    EXPECT_TRUE(IsRegularFile(FFile));
    EXPECT_EQ(ReadFile(FFile), "<Root/>");
    EXPECT_EQ(ReadFile(FVictim), LVictimContent);
  }
  // A dangling link does not create its target.
  std::filesystem::remove(FFile);
  ASSERT_EQ(::symlink((FDir.Path() + "/created-through-link").c_str(), FFile.c_str()), 0);
  EXPECT_TRUE(SaveFileAtomically(FFile, "<Root/>"));
  EXPECT_FALSE(std::filesystem::exists(FDir.Path() + "/created-through-link"));
  EXPECT_TRUE(IsRegularFile(FFile));
}

TEST_F(AtomicFileTest, FilesPlantedAtTheTemporaryNamesDoNotDivertTheWrite) {
  const std::string LPlantedLink = FDir.Path() + "/.guessed-1";
  const std::string LPlantedFile = FDir.Path() + "/.guessed-2";
  const std::string LFree = FDir.Path() + "/.guessed-3";
  WriteFile(FVictim, "secret");
  ASSERT_EQ(::symlink(FVictim.c_str(), LPlantedLink.c_str()), 0);
  WriteFile(LPlantedFile, "planted");

  TPredictableAtomicFile LSaver({LPlantedLink, LPlantedFile, LFree});
  EXPECT_TRUE(LSaver.Save(FFile, "<Root/>"));

  EXPECT_EQ(LSaver.Asked, 3u);
  EXPECT_EQ(ReadFile(FFile), "<Root/>");
  EXPECT_EQ(ReadFile(FVictim), "secret");
  EXPECT_EQ(ReadFile(LPlantedFile), "planted");
  EXPECT_FALSE(std::filesystem::exists(LFree));  // renamed into place
}

TEST_F(AtomicFileTest, SavingIdenticalContentLeavesTheModificationTimeAlone) {
  ASSERT_TRUE(SaveFileAtomically(FFile, "<Root><NA/></Root>"));
  const struct timespec LOld[2] = {{978307200, 0}, {978307200, 0}};  // 2001-01-01
  ASSERT_EQ(::utimensat(AT_FDCWD, FFile.c_str(), LOld, 0), 0);
  struct stat LStat {};

  EXPECT_FALSE(SaveFileAtomically(FFile, "<Root><NA/></Root>"));
  ASSERT_EQ(::stat(FFile.c_str(), &LStat), 0);
  EXPECT_EQ(LStat.st_mtim.tv_sec, 978307200);

  // Same length, other bytes; and a longer content that starts with the old one.
  EXPECT_TRUE(SaveFileAtomically(FFile, "<Root><NB/></Root>"));
  ASSERT_EQ(::stat(FFile.c_str(), &LStat), 0);
  EXPECT_NE(LStat.st_mtim.tv_sec, 978307200);
  EXPECT_TRUE(SaveFileAtomically(FFile, "<Root><NB/></Root>\n"));
  EXPECT_EQ(ReadFile(FFile), "<Root><NB/></Root>\n");
}

TEST_F(AtomicFileTest, AFifoAtThePathIsReplacedWithoutBlocking) {
  ASSERT_EQ(::mkfifo(FFile.c_str(), 0600), 0);
  EXPECT_TRUE(SaveFileAtomically(FFile, "<Root/>"));
  EXPECT_TRUE(IsRegularFile(FFile));
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

  std::filesystem::create_directory(FFile);  // a directory where the file belongs
  EXPECT_THROW(SaveFileAtomically(FFile, "<Root/>"), EOSError);
  EXPECT_EQ(DirectoryEntries(FDir.Path()), std::vector<std::string>{"ConditionStorage.xml"});
  EXPECT_THROW(SaveFileAtomically(FDir.Path() + "/", "<Root/>"), EArgumentException);
}

// The point of the whole exercise: whoever opens the file sees one complete version, never a mix.
TEST_F(AtomicFileTest, LeftTemporaryFilesAreRemovedAndNothingElse) {
  // What a save killed between its create and its rename leaves, here and one folder down.
  class TExposedAtomicFile : public TAtomicFile {
  public:
    using TAtomicFile::NewTemporaryName;
  } LFile;
  std::filesystem::create_directories(FDir.Path() + "/sub");
  const std::string LLeft = LFile.NewTemporaryName(FFile);
  const std::string LLeftBelow = LFile.NewTemporaryName(FDir.Path() + "/sub/ManualJobs.xml");
  WriteFile(LLeft, "<half");
  WriteFile(LLeftBelow, "<half");
  // Look-alikes that a save never makes, a link to a victim, and the saved file itself.
  WriteFile(FDir.Path() + "/.notes.tmp", "mine");
  WriteFile(FDir.Path() + "/.ConditionStorage.xml.0123456789ABCDEF0123456789ABCDEG.tmp", "mine");
  WriteFile(FVictim, "keep");
  std::filesystem::create_symlink(FVictim, FDir.Path() + "/.victim.0123456789ABCDEF0123456789ABCDEF.tmp");
  WriteFile(FFile, "<saved/>");

  EXPECT_EQ(RemoveLeftTemporaryFiles(FDir.Path()), 2);
  EXPECT_FALSE(std::filesystem::exists(LLeft));
  EXPECT_FALSE(std::filesystem::exists(LLeftBelow));
  EXPECT_EQ(DirectoryEntries(FDir.Path()),
            (std::vector<std::string>{".ConditionStorage.xml.0123456789ABCDEF0123456789ABCDEG.tmp", ".notes.tmp",
                                      ".victim.0123456789ABCDEF0123456789ABCDEF.tmp", "ConditionStorage.xml", "sub",
                                      "victim"}));
  EXPECT_EQ(ReadFile(FVictim), "keep");
  EXPECT_EQ(RemoveLeftTemporaryFiles(FDir.Path() + "/no-such-dir"), 0);
}

TEST_F(AtomicFileTest, AReaderDuringSavesSeesTheOldOrTheNewContentWhole) {
  const std::string LFirst(256 * 1024, 'a');
  const std::string LSecond(128 * 1024, 'b');
  ASSERT_TRUE(SaveFileAtomically(FFile, LFirst));
  std::thread LWriter([&] {
    for (int I = 0; I < 40; ++I) SaveFileAtomically(FFile, I % 2 ? LFirst : LSecond);
  });
  int LTorn = 0;
  for (int I = 0; I < 400; ++I) {
    const std::string LContent = ReadFile(FFile);
    if (LContent != LFirst && LContent != LSecond) ++LTorn;
  }
  LWriter.join();
  EXPECT_EQ(LTorn, 0);
  EXPECT_EQ(ReadFile(FFile), LFirst);
  EXPECT_EQ(DirectoryEntries(FDir.Path()), std::vector<std::string>{"ConditionStorage.xml"});
}

}  // namespace
}  // namespace Orvane
