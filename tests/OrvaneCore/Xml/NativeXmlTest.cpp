#include <gtest/gtest.h>

#include <fstream>

#include "OrvaneCore/Xml/NativeXml.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

std::vector<std::string> ChildNames(const TXmlNode& ANode) {
  std::vector<std::string> LNames;
  for (int32_t I = 0; I < ANode.NodeCount(); ++I) LNames.push_back(ANode.Nodes(I)->GetNameUnicode());
  return LNames;
}

TEST(NativeXmlTest, ListsTheRootsChildElementsInDocumentOrder) {
  Testing::TTempDir LDir;
  ASSERT_FALSE(LDir.Path().empty());
  const std::string LFile = LDir.Path() + "/ConditionStorage.xml";
  TXmlSerializer LWriter;
  LWriter.BeginCollection("Root");
  for (const char* LKey : {"NB", "NA", "NB"}) {
    LWriter.BeginCollection(LKey);
    LWriter.BeginCollection("TStartConditionStorageList");
    LWriter.EndCollection("TStartConditionStorageList");
    LWriter.EndCollection(LKey);
  }
  LWriter.EndCollection("Root");
  LWriter.SaveToFile(LFile);

  TNativeXml LDocument("Root");
  EXPECT_EQ(LDocument.GetRoot()->NodeCount(), 0);
  LDocument.LoadFromFile(LFile);
  ASSERT_NE(LDocument.GetRoot(), nullptr);
  EXPECT_EQ(LDocument.GetRoot()->GetName(), "Root");
  EXPECT_EQ(ChildNames(*LDocument.GetRoot()), (std::vector<std::string>{"NB", "NA", "NB"}));
  EXPECT_EQ(ChildNames(*LDocument.GetRoot()->Nodes(1)),
            (std::vector<std::string>{"TStartConditionStorageList"}));
  EXPECT_THROW(LDocument.GetRoot()->Nodes(3), EListError);

  std::ofstream(LFile, std::ios::trunc) << "<Root><NA>";
  EXPECT_THROW(LDocument.LoadFromFile(LFile), EXmlReadError);
  EXPECT_EQ(LDocument.GetRoot()->NodeCount(), 3);  // the document keeps what it held
}

}  // namespace
}  // namespace Orvane
