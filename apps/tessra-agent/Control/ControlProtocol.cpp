#include "Control/ControlProtocol.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "OrvaneCore/Platform/Paths.h"

namespace Orvane {

namespace {

// A status line is "ERROR " and at most 20 digits; anything longer is not one.
constexpr std::size_t CMaxStatusLineBytes = 32;

void AppendEscaped(std::string& AOut, std::string_view AField) {
  for (const char LChar : AField) {
    switch (LChar) {
      case '\\':
        AOut += "\\\\";
        break;
      case '\t':
        AOut += "\\t";
        break;
      case '\n':
        AOut += "\\n";
        break;
      case '\r':
        AOut += "\\r";
        break;
      default:
        AOut += LChar;
    }
  }
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsUtf8(std::string_view AText) {
  const auto* LByte = reinterpret_cast<const unsigned char*>(AText.data());
  const auto* LEnd = LByte + AText.size();
  while (LByte < LEnd) {
    const unsigned char LLead = *LByte;
    if (LLead < 0x80) {
      ++LByte;
      continue;
    }
    int LLength;
    unsigned char LLow = 0x80, LHigh = 0xBF;  // range of the second byte
    if (LLead >= 0xC2 && LLead <= 0xDF) {
      LLength = 2;
    } else if (LLead >= 0xE0 && LLead <= 0xEF) {
      LLength = 3;
      if (LLead == 0xE0) LLow = 0xA0;
      if (LLead == 0xED) LHigh = 0x9F;
    } else if (LLead >= 0xF0 && LLead <= 0xF4) {
      LLength = 4;
      if (LLead == 0xF0) LLow = 0x90;
      if (LLead == 0xF4) LHigh = 0x8F;
    } else {
      return false;
    }
    if (LEnd - LByte < LLength) return false;
    if (LByte[1] < LLow || LByte[1] > LHigh) return false;
    for (int I = 2; I < LLength; ++I)
      if ((LByte[I] & 0xC0) != 0x80) return false;
    LByte += LLength;
  }
  return true;
}

}  // namespace

std::string ControlSocketPath(const std::string& ADataDir) {
  return IncludeTrailingPathDelimiter(ADataDir) + CControlSocketName;
}

sockaddr_un ControlSocketAddress(const std::string& APath) {
  sockaddr_un LAddress{};
  LAddress.sun_family = AF_UNIX;
  if (APath.empty()) throw EArgumentException("The control socket path is empty");
  if (APath.size() >= sizeof(LAddress.sun_path))
    throw EArgumentException("The control socket path " + APath + " is too long for a Unix socket (" +
                             std::to_string(APath.size()) + " bytes, at most " +
                             std::to_string(sizeof(LAddress.sun_path) - 1) +
                             "); use a shorter data directory");
  std::memcpy(LAddress.sun_path, APath.c_str(), APath.size() + 1);
  return LAddress;
}

std::string EncodeRequest(const TControlRequest& ARequest) {
  std::string LLine;
  AppendEscaped(LLine, ARequest.Command);
  for (const std::string& LArgument : ARequest.Arguments) {
    LLine += '\t';
    AppendEscaped(LLine, LArgument);
  }
  LLine += '\n';
  return LLine;
}

std::optional<TControlRequest> DecodeRequest(std::string_view ALine) {
  if (ALine.size() > CMaxRequestBytes || !IsUtf8(ALine)) return std::nullopt;
  std::vector<std::string> LFields(1);
  for (std::size_t I = 0; I < ALine.size(); ++I) {
    const char LChar = ALine[I];
    if (LChar == '\t') {
      LFields.emplace_back();
    } else if (LChar == '\\') {
      if (++I == ALine.size()) return std::nullopt;
      switch (ALine[I]) {
        case '\\':
          LFields.back() += '\\';
          break;
        case 't':
          LFields.back() += '\t';
          break;
        case 'n':
          LFields.back() += '\n';
          break;
        case 'r':
          LFields.back() += '\r';
          break;
        default:
          return std::nullopt;
      }
    } else if (LChar == '\n' || LChar == '\r' || LChar == '\0') {
      return std::nullopt;
    } else {
      LFields.back() += LChar;
    }
  }
  if (LFields.front().empty()) return std::nullopt;
  TControlRequest LRequest;
  LRequest.Command = std::move(LFields.front());
  LRequest.Arguments.assign(std::make_move_iterator(LFields.begin() + 1),
                            std::make_move_iterator(LFields.end()));
  return LRequest;
}

std::string EncodeAnswer(const TControlAnswer& AAnswer) {
  return std::string(AAnswer.Ok ? "OK " : "ERROR ") + std::to_string(AAnswer.Text.size()) + "\n" +
         AAnswer.Text;
}

std::size_t TControlAnswerReader::Feed(std::string_view ABytes) {
  std::size_t LUsed = 0;
  while (!FHaveStatus && LUsed < ABytes.size()) {
    const char LChar = ABytes[LUsed++];
    if (LChar == '\n') {
      ParseStatusLine();
      break;
    }
    FStatusLine += LChar;
    if (FStatusLine.size() > CMaxStatusLineBytes)
      throw EControlError("The agent's answer does not start with a status line");
  }
  if (!FHaveStatus) return LUsed;
  const std::size_t LTake = std::min(FExpected - FAnswer.Text.size(), ABytes.size() - LUsed);
  FAnswer.Text.append(ABytes.substr(LUsed, LTake));
  LUsed += LTake;
  FComplete = FAnswer.Text.size() == FExpected;
  return LUsed;
}

void TControlAnswerReader::ParseStatusLine() {
  std::string_view LLine = FStatusLine;
  if (LLine.starts_with("OK ")) {
    FAnswer.Ok = true;
    LLine.remove_prefix(3);
  } else if (LLine.starts_with("ERROR ")) {
    FAnswer.Ok = false;
    LLine.remove_prefix(6);
  } else {
    throw EControlError("The agent's answer has an unknown status line: \"" + FStatusLine + "\"");
  }
  std::size_t LCount = 0;
  const auto [LEnd, LError] = std::from_chars(LLine.data(), LLine.data() + LLine.size(), LCount);
  if (LLine.empty() || LError != std::errc() || LEnd != LLine.data() + LLine.size() ||
      LCount > CMaxAnswerBytes)
    throw EControlError("The agent's answer has a bad byte count: \"" + FStatusLine + "\"");
  FExpected = LCount;
  FHaveStatus = true;
  FAnswer.Text.reserve(std::min<std::size_t>(LCount, 1024 * 1024));
  FComplete = LCount == 0;
}

}  // namespace Orvane
