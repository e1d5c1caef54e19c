#include "Tasks/TaskResultStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Platform/SafeFiles.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "OrvaneCore/Xml/XmlWriter.h"

namespace Orvane {

namespace {

constexpr std::string_view CResultExtension = ".xml";

}  // namespace

TTaskResultStore TTaskResultStore::ForTask(const std::string& ADataDir, const std::string& ATaskName) {
  return TTaskResultStore(ADataDir, "results/" + ATaskName, ATaskName);
}

TTaskResultStore::TTaskResultStore(std::string ABase, std::string ARelativeDir, std::string ATaskName)
    : FBase(std::move(ABase)), FRelativeDir(std::move(ARelativeDir)), FTaskName(std::move(ATaskName)) {}

std::string TTaskResultStore::GetDir() const {
  return FRelativeDir.empty() ? FBase : IncludeTrailingPathDelimiter(FBase) + FRelativeDir;
}

std::string TTaskResultStore::Write(const TTessraData& ADocument, TDateTime AAt) const {
  // The base is the data directory or a folder the caller named; it is made as it is.
  if (!ForceDirectories(FBase)) {
    OrvaneLogger()->LastError(FTaskName + ": cannot create " + FBase, errno);
    return "";
  }
  const TDateTimeParts L = DecodeDateTime(AAt);
  char LName[64];
  std::snprintf(LName, sizeof(LName), "%04d%02d%02d-%02d%02d%02d-%03d.xml", L.Year, L.Month, L.Day, L.Hour,
                L.Minute, L.Second, L.MilliSecond);
  // Written as it is made: a document may be far larger than what the agent keeps in memory.
  const std::string LRelativeFile = JoinRelativePath(FRelativeDir, LName);
  const TFileResult LSaved = ReplaceFileStreamed(FBase, LRelativeFile, [&](const TByteWriter& AWrite) {
    struct TSink final : IXmlSink {
      const TByteWriter& FWriteBytes;
      explicit TSink(const TByteWriter& AWrite) : FWriteBytes(AWrite) {}
      void Write(const char* AData, std::size_t ASize) override { FWriteBytes({AData, ASize}); }
    } LSink(AWrite);
    WriteObjectXml(LSink, ADocument, TXmlTimes::IsoUtc);
  });
  if (!LSaved.Done()) {
    OrvaneLogger()->Error("%s: the result cannot be written: %s", {FTaskName, LSaved.Error});
    return "";
  }
  return IncludeTrailingPathDelimiter(GetDir()) + LName;
}

void TTaskResultStore::RemoveOld(std::size_t AKeep) const {
  std::vector<TDirectoryEntry> LEntries;
  if (const TFileResult LListed = ListDirectory(FBase, FRelativeDir, LEntries); !LListed.Done()) {
    OrvaneLogger()->Error("%s: old results cannot be removed: %s", {FTaskName, LListed.Error});
    return;
  }
  std::vector<std::string> LResults;
  for (const TDirectoryEntry& LEntry : LEntries)
    if (LEntry.Kind == TDirectoryEntry::TKind::File && LEntry.Name.ends_with(CResultExtension))
      LResults.push_back(LEntry.Name);
  std::sort(LResults.begin(), LResults.end());
  for (std::size_t I = 0; I + AKeep < LResults.size(); ++I)
    if (const TFileResult LRemoved = RemoveFile(FBase, JoinRelativePath(FRelativeDir, LResults[I]));
        !LRemoved.Done() && LRemoved.Status != TFileResult::TStatus::Missing)
      OrvaneLogger()->Error("%s: an old result cannot be removed: %s", {FTaskName, LRemoved.Error});
}

std::string TTaskResultStore::Newest() const {
  std::vector<TDirectoryEntry> LEntries;
  if (!ListDirectory(FBase, FRelativeDir, LEntries).Done()) return "";
  std::string LNewest;
  for (const TDirectoryEntry& LEntry : LEntries)
    if (LEntry.Kind == TDirectoryEntry::TKind::File && LEntry.Name.ends_with(CResultExtension) &&
        LEntry.Name > LNewest)
      LNewest = LEntry.Name;
  return LNewest.empty() ? "" : IncludeTrailingPathDelimiter(GetDir()) + LNewest;
}

}  // namespace Orvane
