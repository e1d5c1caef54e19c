#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Xml/XmlWriter.h"

namespace Orvane {
namespace {

// The indented layout is proved byte for byte by the XML fixture tests, the raw one by the wire
// test of the smart serializer.
TEST(XmlWriterTest, EscapesTextsAndValuesAndEndsThemAtNul) {
  const std::string LText = std::string("a&b<c>d\"e'f\tg\nh\ri\x01j\x1F") + std::string("k\0lost", 6);
  TXmlWriter LWriter(false);
  LWriter.BeginElement("E");
  LWriter.Attribute("A", LText);
  LWriter.Text(LText);
  LWriter.EndElement();
  LWriter.BeginElement("Z");
  LWriter.Text(std::string("\0x", 2));  // a text, though an empty one
  LWriter.EndElement();
  EXPECT_EQ(LWriter.Written(),
            "<E A=\"a&amp;b&lt;c>d&quot;e'f&#09;g&#10;h&#13;i&#01;j&#31;k\">"
            "a&amp;b&lt;c&gt;d\"e'f\tg\nh\ri&#01;j&#31;k</E><Z></Z>");
}

class TRecordingSink final : public IXmlSink {
public:
  void Write(const char* AData, std::size_t ASize) override { Pieces.emplace_back(AData, ASize); }
  std::vector<std::string> Pieces;
};

TEST(XmlWriterTest, SinkReceivesTheSameTextInLargePieces) {
  TXmlWriter LInMemory(true);
  TRecordingSink LSink;
  {
    TXmlWriter LStreamed(LSink, true);
    for (TXmlWriter* LWriter : {&LInMemory, &LStreamed}) {
      LWriter->BeginElement("Root");
      for (int I = 0; I < 5000; ++I) {
        LWriter->BeginElement("Value");
        LWriter->Text("text number " + std::to_string(I));
        LWriter->EndElement();
      }
      LWriter->EndElement();
    }
    EXPECT_FALSE(LSink.Pieces.empty());  // before the end
  }
  std::string LStreamed;
  for (const std::string& LPiece : LSink.Pieces) LStreamed += LPiece;
  EXPECT_EQ(LStreamed, LInMemory.Written());
  EXPECT_GT(LSink.Pieces.size(), 1u);
  EXPECT_GE(LSink.Pieces.front().size(), 64u * 1024u);
}

TEST(XmlWriterTest, ClosingTextEndsOpenElementsWithoutEndingThem) {
  TXmlWriter LWriter(true);
  LWriter.BeginElement("A");
  EXPECT_EQ(LWriter.ClosingText(), " />\n");
  LWriter.BeginElement("B");
  LWriter.Text("t");
  EXPECT_EQ(LWriter.Innermost(), "B");
  EXPECT_EQ(LWriter.ClosingText(), "</B>\n</A>\n");
  LWriter.EndElement();
  EXPECT_EQ(LWriter.ClosingText(), "</A>\n");
  EXPECT_EQ(LWriter.Depth(), 1u);

  EXPECT_THROW(LWriter.Attribute("Late", "x"), EInvalidOperation);
  LWriter.BeginElement("C");
  LWriter.Text("t");
  EXPECT_THROW(LWriter.BeginElement("D"), EInvalidOperation);  // no mixed content
  EXPECT_THROW(LWriter.Text("again"), EInvalidOperation);
  LWriter.EndElement();
  LWriter.EndElement();
  EXPECT_THROW(LWriter.EndElement(), EInvalidOperation);
}

}  // namespace
}  // namespace Orvane
