#include "Tasks/DpkgStatusReader.h"

#include <system_error>
#include <utility>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/FileReader.h"

namespace Orvane {

namespace {

[[noreturn]] void RaiseReadError(const std::string& AFileName, int AErrorCode) {
  throw EOSError(AFileName + " cannot be read: " + std::generic_category().message(AErrorCode), AErrorCode);
}

std::string ReadFileText(const std::string& AFileName) {
  std::string LText;
  if (const TFileResult LRead = ReadWholeFile(AFileName, LText, {.RegularOnly = true}); !LRead.Done())
    RaiseReadError(AFileName, LRead.ErrorCode);
  return LText;
}

std::string_view TrimView(std::string_view AText) {
  const std::size_t LFirst = AText.find_first_not_of(" \t");
  if (LFirst == std::string_view::npos) return {};
  const std::size_t LLast = AText.find_last_not_of(" \t");
  return AText.substr(LFirst, LLast - LFirst + 1);
}

bool HasBlank(std::string_view AText) {
  return AText.find_first_of(" \t") != std::string_view::npos;
}

// The three words of a Status value; false when there are not exactly three.
bool SplitStatus(std::string_view AStatus, std::string_view (&AWords)[3]) {
  std::size_t LCount = 0;
  std::size_t LAt = 0;
  while (LAt < AStatus.size()) {
    const std::size_t LStart = AStatus.find_first_not_of(" \t", LAt);
    if (LStart == std::string_view::npos) break;
    std::size_t LEnd = AStatus.find_first_of(" \t", LStart);
    if (LEnd == std::string_view::npos) LEnd = AStatus.size();
    if (LCount == 3) return false;
    AWords[LCount++] = AStatus.substr(LStart, LEnd - LStart);
    LAt = LEnd;
  }
  return LCount == 3;
}

}  // namespace

// The fields of one entry that the inventory keeps; views into the file's text.
struct TDpkgStatusReader::TEntry {
  std::size_t FirstLine = 0;
  bool Started = false;
  bool Malformed = false;
  bool InField = false;  // a continuation line is allowed
  std::string_view Package, Status, Version, Architecture, Section, InstalledSize, Maintainer, Description;
  bool HasPackage = false, HasStatus = false, HasVersion = false;
};

TDpkgStatusReader::TDpkgStatusReader(std::string AFileName) : FFileName(std::move(AFileName)) {}

void TDpkgStatusReader::CountMalformed(std::size_t ALine) {
  if (FMalformedCount++ == 0) FFirstMalformedLine = ALine;
}

void TDpkgStatusReader::FinishEntry(TEntry& AEntry,
                                    std::vector<std::shared_ptr<TInstalledPackage>>& APackages) {
  ++FEntryCount;
  std::string_view LStatus[3];
  const bool LWellFormed = !AEntry.Malformed && !AEntry.Package.empty() && !HasBlank(AEntry.Package) &&
                           SplitStatus(AEntry.Status, LStatus);
  if (!LWellFormed) {
    CountMalformed(AEntry.FirstLine);
  } else if (LStatus[2] == "installed") {
    if (AEntry.Version.empty()) {
      CountMalformed(AEntry.FirstLine);
    } else {
      auto LPackage = std::make_shared<TInstalledPackage>();
      LPackage->Name = AEntry.Package;
      LPackage->Version = AEntry.Version;
      LPackage->Architecture = AEntry.Architecture;
      LPackage->Status =
          std::string(LStatus[0]) + ' ' + std::string(LStatus[1]) + ' ' + std::string(LStatus[2]);
      LPackage->Section = AEntry.Section;
      LPackage->InstalledSizeKiB = AEntry.InstalledSize;
      LPackage->Maintainer = AEntry.Maintainer;
      LPackage->Summary = AEntry.Description;
      APackages.push_back(std::move(LPackage));
    }
  }
  AEntry = TEntry{};
}

bool TDpkgStatusReader::Read(std::vector<std::shared_ptr<TInstalledPackage>>& APackages,
                             const TContinueCheck& ACanContinue) {
  FEntryCount = FMalformedCount = FFirstMalformedLine = 0;
  const std::string LText = ReadFileText(FFileName);
  const std::string_view LAll(LText);

  TEntry LEntry;
  bool LStopped = false;
  std::size_t LLineNumber = 0;
  std::size_t LAt = 0;
  while (LAt < LAll.size() && !LStopped) {
    std::size_t LEnd = LAll.find('\n', LAt);
    if (LEnd == std::string_view::npos) LEnd = LAll.size();
    std::string_view LLine = LAll.substr(LAt, LEnd - LAt);
    LAt = LEnd + 1;
    ++LLineNumber;
    if (!LLine.empty() && LLine.back() == '\r') LLine.remove_suffix(1);

    if (TrimView(LLine).empty()) {
      if (LEntry.Started) {
        FinishEntry(LEntry, APackages);
        if (FEntryCount % CEntriesPerCheck == 0 && ACanContinue && !ACanContinue()) LStopped = true;
      }
      continue;
    }
    if (!LEntry.Started) {
      LEntry.Started = true;
      LEntry.FirstLine = LLineNumber;
    }
    if (LLine.front() == ' ' || LLine.front() == '\t') {
      if (!LEntry.InField) LEntry.Malformed = true;
      continue;
    }
    const std::size_t LColon = LLine.find(':');
    const std::string_view LName =
        LColon == std::string_view::npos ? std::string_view{} : LLine.substr(0, LColon);
    if (LName.empty() || HasBlank(LName)) {
      LEntry.Malformed = true;
      LEntry.InField = false;
      continue;
    }
    LEntry.InField = true;
    const std::string_view LValue = TrimView(LLine.substr(LColon + 1));
    // A key field given twice leaves it open which one holds.
    auto KeyField = [&](std::string_view& AField, bool& AHas) {
      if (AHas) LEntry.Malformed = true;
      AHas = true;
      AField = LValue;
    };
    if (SameText(LName, "Package"))
      KeyField(LEntry.Package, LEntry.HasPackage);
    else if (SameText(LName, "Status"))
      KeyField(LEntry.Status, LEntry.HasStatus);
    else if (SameText(LName, "Version"))
      KeyField(LEntry.Version, LEntry.HasVersion);
    else if (SameText(LName, "Architecture"))
      LEntry.Architecture = LValue;
    else if (SameText(LName, "Section"))
      LEntry.Section = LValue;
    else if (SameText(LName, "Installed-Size"))
      LEntry.InstalledSize = LValue;
    else if (SameText(LName, "Maintainer"))
      LEntry.Maintainer = LValue;
    else if (SameText(LName, "Description"))
      LEntry.Description = LValue;
  }
  if (!LStopped && LEntry.Started) FinishEntry(LEntry, APackages);

  if (FMalformedCount > 0)
    OrvaneLogger()->Warning("%s: %d malformed entries skipped, the first at line %d",
                            {FFileName, FMalformedCount, FFirstMalformedLine});
  return !LStopped;
}

}  // namespace Orvane
