#include "JobManagement/Storage/FileStartConditionStorageManager.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <string_view>

#include "JobManagement/Storage/FilePermissionUtils.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Xml/SerializerHelper.h"
#include "OrvaneCore/Xml/XmlSerializer.h"

namespace Orvane {

namespace {

constexpr const char* CRootName = "Root";
constexpr const char* CItemName = "TStartConditionStorage";
constexpr const char* CListName = "TStartConditionStorageList";
constexpr char CEscape = '_';
constexpr const char* CHexDigits = "0123456789ABCDEF";

// UTF-8: the length of the sequence a lead byte starts; 1 for a byte that starts none.
std::size_t SequenceLength(unsigned char AByte) {
  if (AByte < 0x80) return 1;
  if ((AByte & 0xE0) == 0xC0) return 2;
  if ((AByte & 0xF0) == 0xE0) return 3;
  if ((AByte & 0xF8) == 0xF0) return 4;
  return 1;
}

bool IsContinuation(unsigned char AByte) {
  return (AByte & 0xC0) == 0x80;
}

// The bytes of the first character of AText. A sequence cut short, or a stray byte, counts as a
// character of its own, so that text that is not well-formed is cut somewhere sensible too.
std::size_t FirstCharLength(std::string_view AText) {
  if (AText.empty()) return 0;
  const std::size_t LExpected = SequenceLength(static_cast<unsigned char>(AText[0]));
  std::size_t LLength = 1;
  while (LLength < LExpected && LLength < AText.size() &&
         IsContinuation(static_cast<unsigned char>(AText[LLength])))
    ++LLength;
  return LLength;
}

// The bytes of the last character of AText.
std::size_t LastCharLength(std::string_view AText) {
  if (AText.empty()) return 0;
  std::size_t LStart = AText.size() - 1;
  for (int LBack = 0; LBack < 3 && LStart > 0 && IsContinuation(static_cast<unsigned char>(AText[LStart]));
       ++LBack)
    --LStart;
  const std::size_t LLength = AText.size() - LStart;
  return FirstCharLength(AText.substr(LStart)) == LLength ? LLength : 1;
}

// Letters, digits, '-' and '.' stand for themselves in an element name after its first character;
// every other byte, the escape character included, becomes "_HH".
bool KeepsItself(unsigned char AByte) {
  return (AByte >= 'A' && AByte <= 'Z') || (AByte >= 'a' && AByte <= 'z') || (AByte >= '0' && AByte <= '9') ||
         AByte == '-' || AByte == '.';
}

std::string EscapeNameText(std::string_view AText) {
  std::string LResult;
  LResult.reserve(AText.size());
  for (const char LChar : AText) {
    const auto LByte = static_cast<unsigned char>(LChar);
    if (KeepsItself(LByte)) {
      LResult += LChar;
    } else {
      LResult += CEscape;
      LResult += CHexDigits[LByte >> 4];
      LResult += CHexDigits[LByte & 0x0F];
    }
  }
  return LResult;
}

int HexValue(char AChar) {
  if (AChar >= '0' && AChar <= '9') return AChar - '0';
  if (AChar >= 'A' && AChar <= 'F') return AChar - 'A' + 10;
  if (AChar >= 'a' && AChar <= 'f') return AChar - 'a' + 10;
  return -1;
}

// An escape character without two hexadecimal digits after it stands for itself (a name written
// by hand, or by a writer that did not escape).
void AppendUnescaped(std::string& AResult, std::string_view AText) {
  for (std::size_t I = 0; I < AText.size();) {
    const std::size_t LEscape = std::min(AText.find(CEscape, I), AText.size());
    AResult.append(AText, I, LEscape - I);
    I = LEscape;
    if (I == AText.size()) break;
    if (I + 2 < AText.size() && HexValue(AText[I + 1]) >= 0 && HexValue(AText[I + 2]) >= 0) {
      AResult += static_cast<char>(HexValue(AText[I + 1]) * 16 + HexValue(AText[I + 2]));
      I += 3;
    } else {
      AResult += AText[I++];
    }
  }
}

}  // namespace

TFileStartConditionStorageManager::TFileStartConditionStorageManager(std::string AFilePath)
    : FFilePath(std::move(AFilePath)) {}

std::string TFileStartConditionStorageManager::KeyToNodeName(const std::string& AKey) {
  const std::string_view LAfterFirst = std::string_view(AKey).substr(FirstCharLength(AKey));
  const std::string_view LInner = LAfterFirst.substr(0, LAfterFirst.size() - LastCharLength(LAfterFirst));
  std::string LName(1, 'N');
  LName += EscapeNameText(LInner);
  return LName;
}

std::string TFileStartConditionStorageManager::NodeNameToKey(const std::string& ANodeName) {
  std::string LKey;
  LKey.reserve(ANodeName.size() + 1);
  LKey += '{';
  AppendUnescaped(LKey, std::string_view(ANodeName).substr(FirstCharLength(ANodeName)));
  LKey += '}';
  return LKey;
}

void TFileStartConditionStorageManager::RegisterJob(const TJobPtr& AJob) {
  TStartConditionStorageManager::RegisterJob(AJob);
  if (!AJob) return;
  const std::string LKey = AJob->GetIdentifier();
  // NodeNameToKey(KeyToNodeName(LKey)) == LKey exactly then: the escaping brings back any byte, so
  // only the first and the last character, which the name leaves out, are at stake.
  if (LKey.size() < 2 || LKey.front() != '{' || LKey.back() != '}')
    OrvaneLogger()->Warning(
        "The start-condition state of job \"%s\" is not kept across restarts: "
        "its identifier is not enclosed in braces",
        {LKey});
}

void TFileStartConditionStorageManager::InternalSaveStorages(const TConditionStoresDict& AActive,
                                                             const TConditionStoresDict& AInactive) {
  TXmlSerializer LSerializer;
  LSerializer.BeginCollection(CRootName);
  WriteStoresDict(LSerializer, AActive);
  WriteStoresDict(LSerializer, AInactive);
  LSerializer.EndCollection(CRootName);

  const std::string LPath = GetFilePath();
  const std::string LDirectory = ExtractFileDir(LPath);
  if (!LDirectory.empty() && !ForceDirectories(LDirectory)) {
    const int LError = errno;
    throw EOSError("Cannot create the directory \"" + LDirectory + "\"", LError);
  }

  const std::string LXml = LSerializer.GetXml();
  try {
    SaveFileAtomically(LPath, LXml);
    SetFilePermissions(LPath);
  } catch (const std::exception& LException) {
    OrvaneLogger()->LogException(LException, MakeContext(*this, "InternalSaveStorages"));
  }
  AfterXmlSaved(LXml);
}

void TFileStartConditionStorageManager::WriteStoresDict(TXmlSerializer& ASerializer,
                                                        const TConditionStoresDict& ADict) const {
  for (const TConditionStoresDict::TEntry& LEntry : ADict) {
    const std::string LNodeName = KeyToNodeName(LEntry.first);
    ASerializer.BeginCollection(LNodeName);
    ASerializer.BeginCollection(CListName);
    for (const TStartConditionStoragePtr& LStorage : *LEntry.second)
      if (LStorage) ASerializer.WriteObject(*LStorage);
    ASerializer.EndCollection(CListName);
    ASerializer.EndCollection(LNodeName);
  }
}

void TFileStartConditionStorageManager::InternalLoadStorages(TConditionStoresDict& ADict) {
  IOrvaneLogger* LLogger = OrvaneLogger();
  if (LLogger->IsActive()) {
    const std::string LPath = GetFilePath();
    LLogger->StringValue("Storage file", LPath);
    if (FileExists(LPath))
      LLogger->FileContentValue("File content", LPath);
    else
      LLogger->StringValue("File not found", LPath);
  }
  BeforeLoad();
  if (!LoadData(ADict)) LoadFailed(ADict);
}

bool TFileStartConditionStorageManager::LoadData(TConditionStoresDict& ADict) {
  ADict.Clear();
  try {
    const std::string LPath = GetFilePath();
    if (!FileExists(LPath)) return false;

    // One parse, and the key elements taken in document order: no search by name, which cost a
    // scan of the root's children per key.
    TXmlSerializer LSerializer;
    LSerializer.SetRepairsInvalidUtf8(true);
    LSerializer.LoadFromFile(LPath);
    LSerializer.CheckNesting();
    LogRepairedUtf8(LSerializer, LPath);
    if (!LSerializer.EnterNode(CRootName)) {
      // A document of another kind holds nothing of ours; the next save replaces it.
      OrvaneLogger()->LogException(
          EXmlReadError("\"" + LPath + "\" has no root element \"" + CRootName + "\""),
          MakeContext(*this, "LoadData"));
      return true;
    }
    LSerializer.ForEachChild([&](const std::string& AName) {
      // A key element that cannot be read costs that key's state only; the others still load.
      try {
        const std::string LKey = NodeNameToKey(AName);
        if (ADict.ContainsKey(LKey))
          throw EListError("Duplicates not allowed: the key \"" + LKey + "\" of the element \"" + AName +
                           "\" was read before; the element is skipped");
        auto LList = std::make_shared<TStorageList>();
        TAbstractSerializerHelper::InternalDeserialize<TStartConditionStorage>(
            LSerializer, *LList, CListName, CItemName,
            [] { return std::make_shared<TStartConditionStorage>(); });
        ADict.Add(LKey, std::move(LList));
      } catch (const Exception& LException) {
        OrvaneLogger()->LogException(LException, "");
      }
    });
    LSerializer.LeaveNode();
    return true;
  } catch (const std::exception& LException) {
    OrvaneLogger()->LogException(LException, "");
    return false;
  }
}

void TFileStartConditionStorageManager::AfterXmlSaved(const std::string&) {}

void TFileStartConditionStorageManager::BeforeLoad() {}

void TFileStartConditionStorageManager::SetFilePermissions(const std::string& AFilePath) {
  SetAllRightsForEverybody(AFilePath, true);
}

void TFileStartConditionStorageManager::LoadFailed(TConditionStoresDict&) {}

void TFileStartConditionStorageManagerNoFilePermissions<>::SetFilePermissions(const std::string&) {}

TFileStartConditionStorageManagerNoFilePermissions<TScannerJobAction>::
    TFileStartConditionStorageManagerNoFilePermissions(
        std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>> APathProvider)
    : TFileStartConditionStorageManagerNoFilePermissions<>(std::string()),
      FJobStoragePathProvider(std::move(APathProvider)),
      FGenerateFilePath(IncludeTrailingPathDelimiter(FJobStoragePathProvider->GetStoragePath()) +
                        CConditionStorageFileName) {}

}  // namespace Orvane
