#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/TempDir.h"
#include "Tasks/FileInventory.h"
#include "Tasks/TaskResultStore.h"

namespace Orvane {
namespace {

// Entries go to disk in pieces and come back through a read window: a few thousand of them cross
// both boundaries many times, and texts with any bytes must come back as they went.
TEST(FileEntryListTest, EntriesComeBackAsTheyWentAcrossPiecesAndTheDocumentIsTheSerializersOwn) {
  Testing::TTempDir LDir;
  ASSERT_FALSE(LDir.Path().empty());
  TFileInventory LInventory(LDir.Path() + "/spool");
  LInventory.ClientId = "client-1";
  LInventory.ScannedAt = 46000.25;
  const std::string LOdd = "/srv/odd\nname\t\xC3\xA9<&>\"";
  for (int I = 0; I < 3000; ++I)
    LInventory.Files.Add(I == 1234 ? LOdd : "/srv/file-" + std::to_string(I), std::to_string(I), "2026-01-01T00:00:00Z");
  LInventory.FileCount = 3000;

  ASSERT_EQ(LInventory.Files.size(), 3000u);
  // In order, then out of order (the window moves back).
  int I = 0;
  for (const auto& LEntry : LInventory.Files) {
    ASSERT_EQ(LEntry->SizeBytes, std::to_string(I)) << I;
    ++I;
  }
  EXPECT_EQ(LInventory.Files[1234]->Path, LOdd);
  EXPECT_EQ(LInventory.Files[7]->Path, "/srv/file-7");
  EXPECT_EQ(LInventory.Files[2999]->ModifiedUtc, "2026-01-01T00:00:00Z");

  // The streamed result is byte for byte what the serializer writes in memory.
  TXmlSerializer LSerializer;
  LSerializer.WriteObject(LInventory);
  const std::string LFile = TTaskResultStore(LDir.Path(), "results", "File Scanner").Write(LInventory, 46000.25);
  ASSERT_FALSE(LFile.empty());
  std::ostringstream LWritten;
  LWritten << std::ifstream(LFile, std::ios::binary).rdbuf();
  EXPECT_EQ(LWritten.str(), LSerializer.GetXml());

  // The spool is an unnamed file: nothing is left beside the results.
  EXPECT_TRUE(std::filesystem::is_empty(LDir.Path() + "/spool"));
}

}  // namespace
}  // namespace Orvane
