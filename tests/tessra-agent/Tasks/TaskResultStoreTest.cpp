#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/TempDir.h"
#include "Tasks/ComputerInventory.h"
#include "Tasks/TaskResultStore.h"

namespace Orvane {
namespace {

namespace fs = std::filesystem;

TEST(TaskResultStoreTest, WritesAReadableDocumentNamedByTimeKeepsOnlyTheNewestAndReportsAWriteThatFailed) {
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

  for (int I = 0; I < 12; ++I) LStore.Write(LInventory, EncodeDateTime(2026, 12, 7, 0, 0, I, 0));
  std::ofstream(LResults + "/notes.txt") << "not a result";
  LStore.RemoveOld(3);
  std::set<std::string> LLeft;
  for (const auto& LEntry : fs::directory_iterator(LResults)) LLeft.insert(LEntry.path().filename());
  EXPECT_EQ(LLeft, (std::set<std::string>{"20261207-000009-000.xml", "20261207-000010-000.xml",
                                          "20261207-000011-000.xml", "notes.txt"}));

  // A file stands where the results folder would be made.
  std::ofstream(LDir.Path() + "/blocker") << "not a folder";
  EXPECT_EQ(TTaskResultStore(LDir.Path(), "blocker/x", "Computer Scanner")
                .Write(LInventory, EncodeDateTime(2026, 1, 1, 0, 0, 0, 0)),
            "");
}

}  // namespace
}  // namespace Orvane
