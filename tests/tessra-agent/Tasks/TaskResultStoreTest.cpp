#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/TempDir.h"
#include "Tasks/ComputerInventory.h"
#include "Tasks/TaskResultStore.h"

namespace Orvane {
namespace {

namespace fs = std::filesystem;

TEST(TaskResultStoreTest, WritesAReadableDocumentNamedByTimeAndKeepsOnlyTheNewest) {
  Testing::TTempDir LDir;
  ASSERT_FALSE(LDir.Path().empty());
  const TTaskResultStore LStore = TTaskResultStore::ForTask(LDir.Path(), "Computer Scanner");
  const std::string LResults = LStore.GetDir();
  EXPECT_EQ(LResults, LDir.Path() + "/results/Computer Scanner");

  TComputerInventory LInventory;
  LInventory.HostName = "client-7";
  const std::string LFile = LStore.Write(LInventory, EncodeDateTime(2026, 12, 6, 8, 5, 9, 42));
  EXPECT_EQ(fs::path(LFile).filename(), "20261206-080509-042.xml");
  TXmlSerializer LReader;
  LReader.LoadFromFile(LFile);
  EXPECT_EQ(LReader.ReadRoot().Find("HostName")->Text, "client-7");

  for (int I = 0; I < 12; ++I)
    LStore.Write(LInventory, EncodeDateTime(2026, 12, 7, 0, 0, I, 0));
  std::ofstream(LResults + "/notes.txt") << "not a result";
  LStore.RemoveOld(3);
  std::vector<std::string> LLeft;
  for (const auto& LEntry : fs::directory_iterator(LResults)) LLeft.push_back(LEntry.path().filename());
  std::sort(LLeft.begin(), LLeft.end());
  EXPECT_EQ(LLeft, (std::vector<std::string>{"20261207-000009-000.xml", "20261207-000010-000.xml",
                                             "20261207-000011-000.xml", "notes.txt"}));
}

TEST(TaskResultStoreTest, ADirectoryThatCannotBeMadeGivesNoFile) {
  Testing::TTempDir LDir;
  ASSERT_FALSE(LDir.Path().empty());
  std::ofstream(LDir.Path() + "/blocker") << "a file where the directory should be";
  TComputerInventory LInventory;
  EXPECT_EQ(TTaskResultStore(LDir.Path(), "blocker/x", "Computer Scanner")
                .Write(LInventory, EncodeDateTime(2026, 1, 1, 0, 0, 0, 0)),
            "");
}

}  // namespace
}  // namespace Orvane
