#include "OrvaneCore/Xml/NativeXml.h"

#include <gtest/gtest.h>

#include <fstream>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

std::vector<std::string> ChildNames(const TXmlNode& ANode) {
  std::vector<std::string> LNames;
  for (int32_t I = 0; I < ANode.NodeCount(); ++I) LNames.push_back(ANode.Nodes(I)->GetNameUnicode());
  return LNames;
}

TEST(NativeXmlTest, ListsTheRootsChildElementsInDocumentOrderAndKeepsThemWhenALoadFails) {
  Testing::TTempDir LDir;
  const std::string LFile = LDir.Path() + "/ConditionStorage.xml";
  std::ofstream(LFile) << "<Root><NB><TStartConditionStorageList/></NB><NA/><NB/></Root>";
  TNativeXml LDocument("Root");
  EXPECT_EQ(LDocument.GetRoot()->NodeCount(), 0);
  LDocument.LoadFromFile(LFile);
  EXPECT_EQ(LDocument.GetRoot()->GetName(), "Root");
  EXPECT_EQ(ChildNames(*LDocument.GetRoot()), (std::vector<std::string>{"NB", "NA", "NB"}));
  EXPECT_EQ(ChildNames(*LDocument.GetRoot()->Nodes(0)),
            (std::vector<std::string>{"TStartConditionStorageList"}));
  EXPECT_THROW(LDocument.GetRoot()->Nodes(3), EListError);

  std::ofstream(LFile, std::ios::trunc) << "<Root><NA>";
  EXPECT_THROW(LDocument.LoadFromFile(LFile), EXmlReadError);
  EXPECT_EQ(LDocument.GetRoot()->NodeCount(), 3);
}

}  // namespace
}  // namespace Orvane
