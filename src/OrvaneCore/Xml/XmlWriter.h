#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Orvane {

// Where a TXmlWriter's text goes when it is not kept whole in memory (a file, a pipe).
class IXmlSink {
public:
  virtual ~IXmlSink() = default;
  virtual void Write(const char* AData, std::size_t ASize) = 0;
};

// Writes XML element by element, in the layout our files have always had:
//   indented   one element per line, two spaces per level; an element holding text stays on its
//              line (<Name>text</Name>), an empty one is <Name />
//   raw        no line breaks or indentation at all; an empty element is <Name/>
// Texts and attribute values are escaped as needed: '&' and '<' always, '>' in texts, '"' in
// attribute values, control characters as "&#NN;" (in texts, tabs and line ends stay as they
// are). Bytes from 0x80 pass unchanged. A text or value ends at its first NUL. Names are written as
// given: the caller makes sure they are XML names.
//
// An element holds either one text or child elements. The writer keeps its text in memory
// (Written), or hands it to a sink in pieces of about 64 KiB (Flush hands over the rest).
class TXmlWriter {
public:
  // AExpectedSize: room to make at once, so that a text of about that size is written without
  // moving it.
  explicit TXmlWriter(bool AIndented, std::size_t AExpectedSize = 0);
  TXmlWriter(IXmlSink& ASink, bool AIndented);
  ~TXmlWriter();
  TXmlWriter(const TXmlWriter&) = delete;
  TXmlWriter& operator=(const TXmlWriter&) = delete;

  void BeginElement(std::string_view AName);
  // Only between BeginElement and the element's content.
  void Attribute(std::string_view AName, std::string_view AValue);
  // The element's whole content; an empty text writes nothing.
  void Text(std::string_view AText);
  void EndElement();
  // An element that holds AText alone: BeginElement, Text, EndElement.
  void Element(std::string_view AName, std::string_view AText);

  // The number of elements begun and not ended.
  std::size_t Depth() const { return FNameEnds.size(); }
  // The name of the element begun last and not ended; empty when there is none.
  std::string_view Innermost() const;
  // The text that ending every open element would write, without ending them.
  std::string ClosingText() const;
  // The text written so far (kept in memory), or not yet handed to the sink.
  std::string_view Written() const { return {FBuffer.get(), FUsed}; }
  // Hands what is buffered to the sink.
  void Flush();

private:
  enum class TContent { None, Text, Elements };

  // Room for ASize more bytes at the end of the text.
  char* Room(std::size_t ASize) {
    if (FSize - FUsed < ASize) MakeRoom(ASize);
    return FBuffer.get() + FUsed;
  }
  void MakeRoom(std::size_t ASize);
  void Put(char AChar) {
    *Room(1) = AChar;
    ++FUsed;
  }
  void Put(std::string_view AText) {
    std::memcpy(Room(AText.size()), AText.data(), AText.size());
    FUsed += AText.size();
  }
  void PutEscaped(std::string_view AText, unsigned char AContext);
  void PutIndent(std::size_t ALevel);
  // Before a child element: closes the parent's start tag.
  void OpenContent();
  void CloseElement(std::string& AOutput, std::size_t ALevel, TContent AContent) const;

  IXmlSink* const FSink;  // null when the text stays in memory
  const bool FIndented;
  // The text is in the first FUsed of FSize bytes. Not a string: growing that would clear the room
  // first.
  std::unique_ptr<char[]> FBuffer;
  std::size_t FSize = 0;
  std::size_t FUsed = 0;
  // The names of the open elements, one after the other, and where each ends.
  std::string FNames;
  std::vector<std::size_t> FNameEnds;
  // What the innermost open element holds so far; None while its start tag waits for its '>'.
  TContent FContent = TContent::None;
};

}  // namespace Orvane
