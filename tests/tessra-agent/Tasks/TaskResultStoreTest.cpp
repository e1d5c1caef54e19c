#include <gtest/gtest.h>

#include <filesystem>

#include "OrvaneCore/Time/DateTime.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "OrvaneCore/Xml/XmlWriter.h"
#include "Support/FileText.h"
#include "Support/TempDir.h"
#include "Tasks/FileInventory.h"
#include "Tasks/TaskResultStore.h"

namespace Orvane {
namespace {

namespace fs = std::filesystem;

TEST(TaskResultStoreTest, WritesAReadableDocumentNamedByTimeKeepsOnlyTheNewestAndReportsAWriteThatFailed) {
  Testing::TTempDir LDir;
  const TTaskResultStore LStore = TTaskResultStore::ForTask(LDir.Path(), "File Scanner");
  const std::string LResults = LStore.GetDir();
  EXPECT_EQ(LResults, LDir.Path() + "/results/File Scanner");
  TFileInventory LInventory(LDir.Path() + "/spool");
  LInventory.ClientId = "client-7";
  const std::string LFile = LStore.Write(LInventory, EncodeDateTime(2026, 12, 6, 8, 5, 9, 42));
  EXPECT_EQ(fs::path(LFile).filename(), "20261206-080509-042.xml");
  TXmlSerializer LReader;
  LReader.LoadFromFile(LFile);
  EXPECT_EQ(LReader.ReadRoot().Find("ClientId")->Text, "client-7");

  for (int I = 0; I < 12; ++I) LStore.Write(LInventory, EncodeDateTime(2026, 12, 7, 0, 0, I, 0));
  Testing::WriteFile(LResults + "/notes.txt", "not a result");
  LStore.RemoveOld(3);
  EXPECT_EQ(Testing::DirectoryEntries(LResults),
            (std::vector<std::string>{"20261207-000009-000.xml", "20261207-000010-000.xml",
                                      "20261207-000011-000.xml", "notes.txt"}));
  // A file stands where the results folder would be made.
  Testing::WriteFile(LDir.Path() + "/blocker", "not a folder");
  EXPECT_EQ(TTaskResultStore(LDir.Path(), "blocker/x", "File Scanner").Write(LInventory, 46000.0), "");
}

// Entries go to disk in pieces and come back through a read window: a few thousand of them cross
// both boundaries many times, and texts with any bytes must come back as they went.
TEST(TaskResultStoreTest, FileEntriesComeBackAsTheyWentAndResultsAreTheSerializersDocumentWithIsoTimes) {
  Testing::TTempDir LDir;
  TFileInventory LInventory(LDir.Path() + "/spool");
  LInventory.ClientId = "client-1";
  const std::string LOdd = "/srv/odd\nname\t\xC3\xA9<&>\"";
  for (int I = 0; I < 3000; ++I)
    LInventory.Files.Add(I == 1234 ? LOdd : "/srv/file-" + std::to_string(I), std::to_string(I),
                         "2026-01-01T00:00:00Z");
  LInventory.FileCount = 3000;
  ASSERT_EQ(LInventory.Files.size(), 3000u);
  // In order, then out of order (the window moves back).
  int I = 0;
  for (const auto& LEntry : LInventory.Files) ASSERT_EQ(LEntry->SizeBytes, std::to_string(I++));
  EXPECT_EQ(LInventory.Files[1234]->Path, LOdd);
  EXPECT_EQ(LInventory.Files[7]->Path, "/srv/file-7");
  EXPECT_EQ(LInventory.Files[2999]->ModifiedUtc, "2026-01-01T00:00:00Z");

  // Streamed from the list, the document is byte for byte what the serializer writes in memory.
  struct TStringSink final : IXmlSink {
    std::string Text;
    void Write(const char* AData, std::size_t ASize) override { Text.append(AData, ASize); }
  } LStreamed;
  LInventory.ScannedAt = 46000.25;
  WriteObjectXml(LStreamed, LInventory);
  TXmlSerializer LSerializer;
  LSerializer.WriteObject(LInventory);
  EXPECT_EQ(LStreamed.Text, LSerializer.GetXml());

  // A result document carries ISO 8601 times in UTC, and leaves out a time that is not set.
  const TTaskResultStore LStore(LDir.Path(), "results", "File Scanner");
  LInventory.ScannedAt = UtcToLocal(EncodeDateTime(2026, 12, 6, 8, 5, 9, 42));
  TXmlSerializer LReader;
  LReader.LoadFromFile(LStore.Write(LInventory, 46000.25));
  const TDataNode LRoot = LReader.ReadRoot();
  EXPECT_EQ(LRoot.Find("ScannedAt")->Text, "2026-12-06T08:05:09.042Z");
  EXPECT_EQ(LRoot.Find("Files")->Children.size(), 3000u);
  TFileInventory LRead;
  LReader.ReadObject(LRead);
  EXPECT_TRUE(SameDateTime(LRead.ScannedAt, LInventory.ScannedAt));
  LInventory.ScannedAt = CNoDateTime;
  LReader.LoadFromFile(LStore.Write(LInventory, 46000.5));
  EXPECT_EQ(LReader.ReadRoot().Find("ScannedAt"), nullptr);
  // The spool is an unnamed file: nothing is left beside the results.
  EXPECT_TRUE(fs::is_empty(LDir.Path() + "/spool"));
}

}  // namespace
}  // namespace Orvane
