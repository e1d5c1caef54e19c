#include "Server/Outbox.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>
#include <vector>

#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/FileReader.h"
#include "OrvaneCore/Platform/SafeFiles.h"
#include "Server/HeaderedText.h"

namespace Orvane {

namespace {

constexpr const char* CFailedFolder = "outbox/failed";
constexpr const char* CReportSuffix = ".report";
constexpr const char* CResultSuffix = ".result";
constexpr std::size_t CSequenceDigits = 20;
// An idle sender's wait; it simply begins again.
constexpr double CIdleWaitSeconds = 3600;
// An item's header names a path below the client's folder and two media words: far less than this.
constexpr std::size_t CMaxHeaderBytes = 64 * 1024;
// Items are sent and set aside a piece at a time: a large result is never held whole.
constexpr std::size_t CCopyPieceBytes = 64 * 1024;

// What an item file holds besides its body.
struct TItemHeader {
  std::string Path;
  std::string ContentType;
  std::string ContentEncoding;
};

// A path below the client's folder, as ServerLayout makes them: plain segments, nothing that could
// leave the folder or end the URL's path.
bool IsRemotePath(std::string_view APath) {
  if (APath.empty() || APath.front() == '/' || APath.back() == '/') return false;
  if (std::any_of(APath.begin(), APath.end(), [](char C) {
        return static_cast<unsigned char>(C) <= ' ' || C == '?' || C == '#' || C == '\\' || C == 0x7F;
      }))
    return false;
  std::size_t LStart = 0;
  while (LStart <= APath.size()) {
    std::size_t LEnd = APath.find('/', LStart);
    if (LEnd == std::string_view::npos) LEnd = APath.size();
    const std::string_view LSegment = APath.substr(LStart, LEnd - LStart);
    if (LSegment.empty() || LSegment == "." || LSegment == "..") return false;
    LStart = LEnd + 1;
  }
  return true;
}

bool IsHeaderValue(std::string_view AValue) {
  return std::none_of(AValue.begin(), AValue.end(), [](char C) { return C == '\n' || C == '\r'; });
}

std::string ItemText(const TItemHeader& AHeader, std::string_view ABody) {
  return JoinHeaderedText({{"Path", AHeader.Path},
                           {"Content-Type", AHeader.ContentType},
                           {"Content-Encoding", AHeader.ContentEncoding}},
                          ABody);
}

// Splits an item file into its header and body; false when it is not one.
bool ParseItem(std::string_view AText, TItemHeader& AHeader, std::string_view& ABody) {
  std::map<std::string, std::string, std::less<>> LHeaders;
  if (!SplitHeaderedText(AText, LHeaders, ABody)) return false;
  AHeader = {LHeaders["Path"], LHeaders["Content-Type"], LHeaders["Content-Encoding"]};
  return IsRemotePath(AHeader.Path);
}

// Reads the header at the start of AItem's file; ABodyOffset is where the body begins. AParsed is
// false when the file is not an item.
TFileResult ReadItemHeader(TFileReader& AItem, TItemHeader& AHeader, uint64_t& ABodyOffset, bool& AParsed) {
  std::string LStart;
  const TFileResult LRead = AItem.ReadAll(LStart, CMaxHeaderBytes);
  std::string_view LBody;
  AParsed = LRead.Done() && ParseItem(LStart, AHeader, LBody);
  if (AParsed) ABodyOffset = static_cast<uint64_t>(LBody.data() - LStart.data());
  return LRead;
}

// The body of AItem's file, from ABodyOffset to its end, read as the request goes.
TUploadBody ItemBody(TFileReader& AItem, uint64_t ABodyOffset) {
  return {AItem.Size() - ABodyOffset,
          [&AItem, ABodyOffset](uint64_t AOffset, std::span<char> ABuffer, std::size_t& ARead) {
            return AItem.Seek(ABodyOffset + AOffset).Done() && AItem.Read(ABuffer, ARead).Done();
          }};
}

// Writes AItem's file from its position on to AWrite; what cannot be read fails the writing.
void CopyRest(TFileReader& AItem, const TByteWriter& AWrite) {
  std::vector<char> LPiece(CCopyPieceBytes);
  for (;;) {
    std::size_t LRead = 0;
    if (const TFileResult LResult = AItem.Read(LPiece, LRead); !LResult.Done())
      throw std::runtime_error(LResult.Error);
    if (LRead == 0) return;
    AWrite(std::string_view(LPiece.data(), LRead));
  }
}

std::string ItemName(uint64_t ASequence, TOutbox::TKind AKind) {
  char LDigits[CSequenceDigits + 1];
  std::snprintf(LDigits, sizeof(LDigits), "%020llu", static_cast<unsigned long long>(ASequence));
  return std::string(LDigits) + (AKind == TOutbox::TKind::Report ? CReportSuffix : CResultSuffix);
}

// The sequence and kind of an item file's name; false for any other name (temporary files, say).
bool ParseItemName(const std::string& AName, uint64_t& ASequence, TOutbox::TKind& AKind) {
  const std::string_view LSuffix = std::string_view(AName).substr(std::min(AName.size(), CSequenceDigits));
  if (LSuffix == CReportSuffix)
    AKind = TOutbox::TKind::Report;
  else if (LSuffix == CResultSuffix)
    AKind = TOutbox::TKind::Result;
  else
    return false;
  ASequence = 0;
  for (std::size_t LIndex = 0; LIndex < CSequenceDigits; ++LIndex) {
    if (AName[LIndex] < '0' || AName[LIndex] > '9') return false;
    ASequence = ASequence * 10 + static_cast<uint64_t>(AName[LIndex] - '0');
  }
  return true;
}

std::string ItemFile(const std::string& AName) {
  return JoinRelativePath(TOutbox::CFolder, AName);
}

const char* KindText(TOutbox::TKind AKind) {
  return AKind == TOutbox::TKind::Report ? "report" : "result";
}

}  // namespace

TOutbox::TOutbox(std::string ADataDir, std::string AClientFolderUrl, std::shared_ptr<THttpClient> AHttp,
                 TOutboxSettings ASettings)
    : FDataDir(std::move(ADataDir)),
      FClientFolderUrl(std::move(AClientFolderUrl)),
      FHttp(std::move(AHttp)),
      FSettings(std::move(ASettings)),
      FBackOff(FSettings.FirstRetrySeconds, FSettings.MaxRetrySeconds, FSettings.Random) {
  TMutexLock LLock(FLock);
  LoadItems();
}

TOutbox::~TOutbox() {
  Stop(0);
}

void TOutbox::LoadItems() {
  std::vector<TDirectoryEntry> LEntries;
  if (const TFileResult LListed = ListDirectory(FDataDir, CFolder, LEntries); !LListed.Done()) {
    if (LListed.Status != TFileResult::TStatus::Missing)
      OrvaneLogger()->Error("Outbox: the items left by the last run cannot be listed: %s", {LListed.Error});
    return;
  }
  for (const TDirectoryEntry& LEntry : LEntries) {
    uint64_t LSequence = 0;
    TKind LKind = TKind::Report;
    if (LEntry.Kind != TDirectoryEntry::TKind::File || !ParseItemName(LEntry.Name, LSequence, LKind)) continue;
    TFileReader LItem;
    if (const TFileResult LOpened = OpenFileBelow(FDataDir, ItemFile(LEntry.Name), LItem); !LOpened.Done()) {
      OrvaneLogger()->Error("Outbox: an item cannot be read, it stays where it is: %s", {LOpened.Error});
      continue;
    }
    FItems[LSequence] = {LEntry.Name, LKind, LItem.Size()};
    FBytes += LItem.Size();
    FNextSequence = std::max(FNextSequence, LSequence + 1);
  }
  if (!FItems.empty())
    OrvaneLogger()->Message("Outbox: %d items left by the last run are sent again",
                            {static_cast<int64_t>(FItems.size())});
}

bool TOutbox::Add(TKind AKind, const std::string& ARemotePath, std::string_view ABody,
                  const std::string& AContentType, const std::string& AContentEncoding) {
  return AddStreamed(AKind, ARemotePath, AContentType, AContentEncoding,
                     [ABody](const TByteWriter& AWrite) { AWrite(ABody); });
}

bool TOutbox::AddStreamed(TKind AKind, const std::string& ARemotePath, const std::string& AContentType,
                          const std::string& AContentEncoding, const TContentProducer& AProduceBody) {
  if (!IsRemotePath(ARemotePath) || !IsHeaderValue(AContentType) || !IsHeaderValue(AContentEncoding)) {
    OrvaneLogger()->Error("Outbox: a %s for \"%s\" is refused: not a path below the client's folder",
                          {KindText(AKind), ARemotePath});
    return false;
  }
  uint64_t LSequence = 0;
  {
    TMutexLock LLock(FLock);
    LSequence = FNextSequence++;
  }
  const std::string LName = ItemName(LSequence, AKind);

  // Written without the lock, so that a report added meanwhile does not wait for a large result; the
  // sender does not know the file before it is in FItems. An item over the whole bound stops being
  // written as soon as it is.
  uint64_t LBytes = 0;
  bool LTooLarge = false;
  const TFileResult LWritten = ReplaceFileStreamed(FDataDir, ItemFile(LName), [&](const TByteWriter& AWrite) {
    const TByteWriter LCounted = [&](std::string_view APiece) {
      LBytes += APiece.size();
      if (LBytes > FSettings.MaxBytes) {
        LTooLarge = true;
        throw std::length_error("larger than the outbox");
      }
      AWrite(APiece);
    };
    LCounted(ItemText({ARemotePath, AContentType, AContentEncoding}, ""));
    AProduceBody(LCounted);
  });
  if (!LWritten.Done() && !LTooLarge) {
    FLimiter.Error("Outbox: not written", "Outbox: a %s for %s cannot be written, it is not sent: %s",
                   {KindText(AKind), ARemotePath, LWritten.Error});
    return false;
  }

  TMutexLock LLock(FLock);
  // The results that go, oldest first, for the item to fit; reports are never pushed out.
  std::vector<uint64_t> LPushOut;
  std::size_t LCount = FItems.size();
  uint64_t LTotal = FBytes;
  const auto LFits = [&] {
    return !LTooLarge && LCount + 1 <= static_cast<std::size_t>(FSettings.MaxItems) &&
           LTotal <= FSettings.MaxBytes - LBytes;
  };
  for (auto LItem = FItems.begin(); LItem != FItems.end() && !LFits() && !LTooLarge; ++LItem) {
    if (LItem->second.Kind != TKind::Result) continue;
    LPushOut.push_back(LItem->first);
    --LCount;
    LTotal -= LItem->second.Bytes;
  }
  if (!LFits()) {
    FLimiter.Error("Outbox: full", "Outbox: full (%d items, %d bytes); a %s of %s bytes for %s is refused",
                   {static_cast<int64_t>(FItems.size()), static_cast<int64_t>(FBytes), KindText(AKind),
                    LTooLarge ? "over " + std::to_string(FSettings.MaxBytes) : std::to_string(LBytes),
                    ARemotePath});
    if (!LTooLarge)
      if (const TFileResult LRemoved = RemoveFile(FDataDir, ItemFile(LName)); !LRemoved.Done())
        OrvaneLogger()->Error("Outbox: a refused item cannot be removed: %s", {LRemoved.Error});
    return false;
  }
  for (const uint64_t LOld : LPushOut) {
    OrvaneLogger()->Warning("Outbox: full; the oldest result %s is dropped for a newer item",
                            {FItems[LOld].Name});
    if (const TFileResult LRemoved = RemoveFile(FDataDir, ItemFile(FItems[LOld].Name)); !LRemoved.Done())
      OrvaneLogger()->Error("Outbox: a dropped result cannot be removed: %s", {LRemoved.Error});
    Forget(LOld);
  }
  FItems[LSequence] = {LName, AKind, LBytes};
  FBytes += LBytes;
  FChanged.NotifyAll();
  return true;
}

void TOutbox::Forget(uint64_t ASequence) {
  const auto LItem = FItems.find(ASequence);
  if (LItem == FItems.end()) return;
  FBytes -= LItem->second.Bytes;
  FItems.erase(LItem);
  FChanged.NotifyAll();
}

void TOutbox::MoveToFailed(uint64_t ASequence, TFileReader& AItem, const std::string& AWhy) {
  const auto LItem = FItems.find(ASequence);
  if (LItem == FItems.end()) return;
  const std::string LName = LItem->second.Name;
  // Kept for someone to look at; the items behind it go on either way.
  TFileResult LKept = AItem.Seek(0);
  if (LKept.Done())
    LKept = ReplaceFileStreamed(FDataDir, JoinRelativePath(CFailedFolder, LName),
                                [&AItem](const TByteWriter& AWrite) { CopyRest(AItem, AWrite); });
  if (LKept.Done()) {
    OrvaneLogger()->Error("Outbox: %s is not delivered (%s); it is kept in %s", {LName, AWhy, CFailedFolder});
    PruneFailed();
  } else
    OrvaneLogger()->Error("Outbox: %s is not delivered (%s) and cannot be kept: %s", {LName, AWhy, LKept.Error});
  if (const TFileResult LRemoved = RemoveFile(FDataDir, ItemFile(LName));
      !LRemoved.Done() && LRemoved.Status != TFileResult::TStatus::Missing)
    OrvaneLogger()->Error("Outbox: a failed item cannot be removed: %s", {LRemoved.Error});
  Forget(ASequence);
}

void TOutbox::PruneFailed() {
  std::vector<TDirectoryEntry> LEntries;
  if (const TFileResult LListed = ListDirectory(FDataDir, CFailedFolder, LEntries); !LListed.Done()) {
    OrvaneLogger()->Error("Outbox: %s cannot be listed: %s", {CFailedFolder, LListed.Error});
    return;
  }
  std::vector<std::string> LNames;
  for (const TDirectoryEntry& LEntry : LEntries) {
    uint64_t LSequence = 0;
    TKind LKind = TKind::Report;
    if (LEntry.Kind == TDirectoryEntry::TKind::File && ParseItemName(LEntry.Name, LSequence, LKind))
      LNames.push_back(LEntry.Name);
  }
  const std::size_t LKeep = static_cast<std::size_t>(std::max(FSettings.MaxFailedItems, 0));
  if (LNames.size() <= LKeep) return;
  // The names are zero-padded sequences, so their order is the items' age.
  std::sort(LNames.begin(), LNames.end());
  const std::size_t LDrop = LNames.size() - LKeep;
  FLimiter.Warning("Outbox: failed pruned", "Outbox: %s holds more than %d items; the oldest %d are removed",
                   {CFailedFolder, static_cast<int64_t>(LKeep), static_cast<int64_t>(LDrop)});
  for (std::size_t LIndex = 0; LIndex < LDrop; ++LIndex)
    if (const TFileResult LRemoved = RemoveFile(FDataDir, JoinRelativePath(CFailedFolder, LNames[LIndex]));
        !LRemoved.Done() && LRemoved.Status != TFileResult::TStatus::Missing)
      OrvaneLogger()->Error("Outbox: an old failed item cannot be removed: %s", {LRemoved.Error});
}

void TOutbox::Start() {
  std::shared_ptr<TClock::TThreadRecord> LRecord = Clock().PrepareThread("TOutbox");
  TMutexLock LLock(FLock);
  if (FRunning) return;
  FRunning = true;
  FStopping = false;
  FThread = std::thread([this, LRecord] {
    Clock().BindCurrentThread(LRecord);
    pthread_setname_np(pthread_self(), "tessra-outbox");
    Run();
  });
}

void TOutbox::Stop(double AFlushSeconds) {
  {
    TMutexLock LLock(FLock);
    if (!FRunning || FStopping) return;
    FStopping = true;
    FFlushDeadline = Clock().DeadlineIn(AFlushSeconds);
  }
  FChanged.NotifyAll();
  if (FThread.joinable()) FThread.join();
  TMutexLock LLock(FLock);
  FRunning = false;
  FStopping = false;
  if (!FItems.empty())
    OrvaneLogger()->Message("Outbox: %d items are left for the next start", {static_cast<int64_t>(FItems.size())});
  FLimiter.Flush();
}

void TOutbox::Run() {
  TMutexLock LLock(FLock);
  bool LStopSeen = false;
  const auto LDue = [this] {
    FLock.AssertHeld();
    return !FItems.empty() && !FBackOff.Waiting();
  };
  for (;;) {
    if (FStopping) {
      // The flush: what is due goes until the deadline; a back-off that outlasts it ends the flush.
      LStopSeen = true;
      if (FItems.empty() || Clock().Monotonic() >= FFlushDeadline ||
          (FBackOff.Waiting() && FBackOff.NextTry() >= FFlushDeadline))
        return;
    }
    if (!LDue()) {
      TMonoTime LDeadline = FItems.empty() ? Clock().DeadlineIn(CIdleWaitSeconds) : FBackOff.NextTry();
      if (FStopping) LDeadline = std::min(LDeadline, FFlushDeadline);
      Clock().Wait(FChanged, LLock, LDeadline, [&] {
        FLock.AssertHeld();
        return (FStopping && !LStopSeen) || LDue();
      });
      continue;
    }

    const uint64_t LSequence = FItems.begin()->first;
    const std::string LName = FItems.begin()->second.Name;
    LLock.unlock();
    TFileReader LItem;
    TItemHeader LHeader;
    uint64_t LBodyOffset = 0;
    bool LParsed = false;
    TFileResult LRead = OpenFileBelow(FDataDir, ItemFile(LName), LItem);
    if (LRead.Done()) LRead = ReadItemHeader(LItem, LHeader, LBodyOffset, LParsed);
    THttpResult LResult;
    // A stop does not wait past its flush deadline for a large item on a slow line: the item stays.
    const auto LContinue = [this] {
      TMutexLock LCheck(FLock);
      return !FStopping || Clock().Monotonic() < FFlushDeadline;
    };
    if (LParsed)
      LResult = FHttp->Put(FClientFolderUrl + LHeader.Path, ItemBody(LItem, LBodyOffset), LHeader.ContentType,
                           LHeader.ContentEncoding, LContinue);
    LLock.lock();

    if (!LRead.Done()) {
      // Gone (pushed out meanwhile) or unreadable: it leaves the queue; an unreadable file stays
      // on disk for the next start.
      if (LRead.Status != TFileResult::TStatus::Missing)
        OrvaneLogger()->Error("Outbox: an item cannot be read: %s", {LRead.Error});
      Forget(LSequence);
    } else if (!LParsed) {
      MoveToFailed(LSequence, LItem, "not an outbox item");
    } else if (LResult.Ok()) {
      if (FItems.contains(LSequence)) {
        if (const TFileResult LRemoved = RemoveFile(FDataDir, ItemFile(LName));
            !LRemoved.Done() && LRemoved.Status != TFileResult::TStatus::Missing)
          OrvaneLogger()->Error("Outbox: a delivered item cannot be removed, it will be sent again: %s",
                                {LRemoved.Error});
        Forget(LSequence);
      }
      FBackOff.Succeeded();
    } else if (LResult.Transient()) {
      FBackOff.Failed();
      const std::string LWhy = LResult.Kind == THttpResult::TKind::Response
                                   ? "answered " + std::to_string(LResult.Status)
                                   : LResult.Error;
      FLimiter.Warning("Outbox: not delivered", "Outbox: the server did not take %s (%s); tried again later",
                       {LHeader.Path, LWhy});
    } else {
      // The server answered and will answer the same again: the next item must not wait behind it.
      FBackOff.Succeeded();
      MoveToFailed(LSequence, LItem,
                   LResult.Kind == THttpResult::TKind::Response
                       ? "the server answered " + std::to_string(LResult.Status) + " for " + LHeader.Path
                       : "refused: " + LResult.Error);
    }
  }
}

int32_t TOutbox::ItemCount() const {
  TMutexLock LLock(FLock);
  return static_cast<int32_t>(FItems.size());
}

bool TOutbox::WaitUntilEmpty(TMonoTime ADeadline) {
  TMutexLock LLock(FLock);
  return Clock().Wait(FChanged, LLock, ADeadline, [this] {
    FLock.AssertHeld();
    return FItems.empty();
  });
}

}  // namespace Orvane
