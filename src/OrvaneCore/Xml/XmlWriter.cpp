#include "OrvaneCore/Xml/XmlWriter.h"

#include <algorithm>

#include "OrvaneCore/Base/Exceptions.h"

namespace Orvane {

namespace {

// A sink is handed text in pieces of about this size.
constexpr std::size_t CFlushSize = 64 * 1024;
constexpr std::size_t CFirstSize = 4 * 1024;

enum : unsigned char { CInText = 1, CInAttribute = 2, CEnd = 4 };

// What each byte needs: NUL ends a text; markup characters and control characters are escaped
// (in texts, tabs and line ends are not).
constexpr auto CEscapeTable = [] {
  struct {
    unsigned char Kinds[256] = {};
  } LTable;
  LTable.Kinds[0] = CEnd | CInText | CInAttribute;
  for (int C = 1; C < 32; ++C) LTable.Kinds[C] = CInText | CInAttribute;
  for (const char C : {'\t', '\n', '\r'}) LTable.Kinds[static_cast<unsigned char>(C)] = CInAttribute;
  LTable.Kinds[static_cast<unsigned char>('&')] = CInText | CInAttribute;
  LTable.Kinds[static_cast<unsigned char>('<')] = CInText | CInAttribute;
  LTable.Kinds[static_cast<unsigned char>('>')] = CInText;
  LTable.Kinds[static_cast<unsigned char>('"')] = CInAttribute;
  return LTable;
}();

constexpr std::string_view CSpaces = "                                                                ";

// The most one byte of a text becomes: "&quot;".
constexpr std::size_t CMaxEscaped = 6;
// Texts up to this size are escaped into room made for their longest form at once.
constexpr std::size_t CShortText = 4 * 1024;

// Copies AText to ADest escaped, up to its first NUL; ADest has room for its longest form. Returns
// the end of what was written.
char* CopyEscaped(char* ADest, std::string_view AText, unsigned char AContext) {
  for (const char LChar : AText) {
    const auto LByte = static_cast<unsigned char>(LChar);
    if (!(CEscapeTable.Kinds[LByte] & AContext)) {
      *ADest++ = LChar;
      continue;
    }
    std::string_view LReference;
    switch (LByte) {
      case 0:
        return ADest;
      case '&':
        LReference = "&amp;";
        break;
      case '<':
        LReference = "&lt;";
        break;
      case '>':
        LReference = "&gt;";
        break;
      case '"':
        LReference = "&quot;";
        break;
      default:
        *ADest++ = '&';
        *ADest++ = '#';
        *ADest++ = static_cast<char>('0' + LByte / 10);
        *ADest++ = static_cast<char>('0' + LByte % 10);
        *ADest++ = ';';
        continue;
    }
    std::memcpy(ADest, LReference.data(), LReference.size());
    ADest += LReference.size();
  }
  return ADest;
}

}  // namespace

TXmlWriter::TXmlWriter(bool AIndented, std::size_t AExpectedSize) : FSink(nullptr), FIndented(AIndented) {
  if (AExpectedSize > 0) MakeRoom(AExpectedSize);
}

TXmlWriter::TXmlWriter(IXmlSink& ASink, bool AIndented) : FSink(&ASink), FIndented(AIndented) {
  MakeRoom(CFlushSize + CFlushSize / 4);
}

TXmlWriter::~TXmlWriter() {
  try {
    Flush();
  } catch (...) {
    // A sink that fails reports it to a caller who flushes; the destructor must not throw.
  }
}

void TXmlWriter::BeginElement(std::string_view AName) {
  OpenContent();
  if (FIndented) PutIndent(FNameEnds.size());
  Put('<');
  Put(AName);
  FNames.append(AName);
  FNameEnds.push_back(FNames.size());
  FContent = TContent::None;
}

void TXmlWriter::Attribute(std::string_view AName, std::string_view AValue) {
  if (FNameEnds.empty() || FContent != TContent::None)
    throw EInvalidOperation("An attribute belongs right after the start of its element");
  Put(' ');
  Put(AName);
  Put("=\"");
  PutEscaped(AValue, CInAttribute);
  Put('"');
}

void TXmlWriter::Text(std::string_view AText) {
  if (FNameEnds.empty() || FContent != TContent::None)
    throw EInvalidOperation("A text is the whole content of its element");
  if (AText.empty()) return;
  Put('>');
  PutEscaped(AText, CInText);
  FContent = TContent::Text;
}

void TXmlWriter::EndElement() {
  if (FNameEnds.empty()) throw EInvalidOperation("No element is open");
  const std::size_t LLevel = FNameEnds.size() - 1;
  const std::size_t LStart = LLevel == 0 ? 0 : FNameEnds[LLevel - 1];
  if (FContent == TContent::None) {
    Put(FIndented ? std::string_view(" />") : std::string_view("/>"));
  } else {
    if (FContent == TContent::Elements && FIndented) PutIndent(LLevel);
    Put("</");
    Put(std::string_view(FNames).substr(LStart));
    Put('>');
  }
  if (FIndented) Put('\n');
  FNameEnds.pop_back();
  FNames.resize(LStart);
  FContent = TContent::Elements;
  if (FSink && FUsed >= CFlushSize) Flush();
}

void TXmlWriter::Element(std::string_view AName, std::string_view AText) {
  OpenContent();
  const std::size_t LIndent = FIndented ? 2 * FNameEnds.size() : 0;
  if (LIndent > CSpaces.size() || AText.size() > CShortText) {
    if (FIndented) PutIndent(FNameEnds.size());
    Put('<');
    Put(AName);
    if (AText.empty()) {
      Put(FIndented ? std::string_view(" />") : std::string_view("/>"));
    } else {
      Put('>');
      PutEscaped(AText, CInText);
      Put("</");
      Put(AName);
      Put('>');
    }
    if (FIndented) Put('\n');
  } else {
    // The usual element, written into room made once.
    char* LPos = Room(LIndent + 2 * AName.size() + CMaxEscaped * AText.size() + 8);
    std::memset(LPos, ' ', LIndent);
    LPos += LIndent;
    *LPos++ = '<';
    std::memcpy(LPos, AName.data(), AName.size());
    LPos += AName.size();
    if (AText.empty()) {
      if (FIndented) *LPos++ = ' ';
      *LPos++ = '/';
      *LPos++ = '>';
    } else {
      *LPos++ = '>';
      LPos = CopyEscaped(LPos, AText, CInText);
      *LPos++ = '<';
      *LPos++ = '/';
      std::memcpy(LPos, AName.data(), AName.size());
      LPos += AName.size();
      *LPos++ = '>';
    }
    if (FIndented) *LPos++ = '\n';
    FUsed = static_cast<std::size_t>(LPos - FBuffer.get());
  }
  FContent = TContent::Elements;
  if (FSink && FUsed >= CFlushSize) Flush();
}

std::string_view TXmlWriter::Innermost() const {
  if (FNameEnds.empty()) return {};
  const std::size_t LStart = FNameEnds.size() == 1 ? 0 : FNameEnds[FNameEnds.size() - 2];
  return std::string_view(FNames).substr(LStart, FNameEnds.back() - LStart);
}

std::string TXmlWriter::ClosingText() const {
  std::string LText;
  TContent LContent = FContent;
  for (std::size_t LLevel = FNameEnds.size(); LLevel-- > 0;) {
    CloseElement(LText, LLevel, LContent);
    LContent = TContent::Elements;
  }
  return LText;
}

void TXmlWriter::Flush() {
  if (!FSink || FUsed == 0) return;
  FSink->Write(FBuffer.get(), FUsed);
  FUsed = 0;
}

void TXmlWriter::MakeRoom(std::size_t ASize) {
  if (FSink) {
    Flush();
    if (FSize >= ASize) return;
  }
  const std::size_t LSize = std::max({FSize * 2, FUsed + ASize, CFirstSize});
  std::unique_ptr<char[]> LBuffer(new char[LSize]);
  if (FUsed > 0) std::memcpy(LBuffer.get(), FBuffer.get(), FUsed);
  FBuffer = std::move(LBuffer);
  FSize = LSize;
}

void TXmlWriter::PutEscaped(std::string_view AText, unsigned char AContext) {
  AText = AText.substr(0, AText.find('\0'));
  // In pieces, so that a long text needs no room for six times its size.
  for (std::size_t LStart = 0; LStart < AText.size(); LStart += CShortText) {
    const std::string_view LPiece = AText.substr(LStart, CShortText);
    char* const LDest = Room(CMaxEscaped * LPiece.size());
    FUsed += static_cast<std::size_t>(CopyEscaped(LDest, LPiece, AContext) - LDest);
  }
}

void TXmlWriter::PutIndent(std::size_t ALevel) {
  for (std::size_t LLeft = 2 * ALevel; LLeft > 0;) {
    const std::size_t LPart = std::min(LLeft, CSpaces.size());
    Put(CSpaces.substr(0, LPart));
    LLeft -= LPart;
  }
}

void TXmlWriter::OpenContent() {
  if (FNameEnds.empty()) return;
  if (FContent == TContent::Text)
    throw EInvalidOperation("An element that holds text cannot hold elements as well");
  if (FContent == TContent::None) {
    Put('>');
    if (FIndented) Put('\n');
    FContent = TContent::Elements;
  }
}

void TXmlWriter::CloseElement(std::string& AOutput, std::size_t ALevel, TContent AContent) const {
  const std::size_t LStart = ALevel == 0 ? 0 : FNameEnds[ALevel - 1];
  const std::string_view LName = std::string_view(FNames).substr(LStart, FNameEnds[ALevel] - LStart);
  if (AContent == TContent::None) {
    AOutput += FIndented ? " />" : "/>";
  } else {
    if (AContent == TContent::Elements && FIndented) AOutput.append(2 * ALevel, ' ');
    AOutput += "</";
    AOutput.append(LName);
    AOutput += '>';
  }
  if (FIndented) AOutput += '\n';
}

}  // namespace Orvane
