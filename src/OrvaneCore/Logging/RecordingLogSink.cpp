#include "OrvaneCore/Logging/RecordingLogSink.h"

#include <algorithm>

namespace Orvane {

namespace {
bool Matches(const TLogEntry& AEntry, TLogEntryKind AKind, std::string_view AText) {
  return AEntry.Kind == AKind && AEntry.Text.find(AText) != std::string::npos;
}
}  // namespace

void TRecordingLogSink::Write(const TLogEntry& AEntry) {
  TMutexLock LLock(FLock);
  FEntries.push_back(AEntry);
}

std::vector<TLogEntry> TRecordingLogSink::Entries() const {
  TMutexLock LLock(FLock);
  return FEntries;
}

void TRecordingLogSink::Clear() {
  TMutexLock LLock(FLock);
  FEntries.clear();
}

bool TRecordingLogSink::Contains(TLogEntryKind AKind, std::string_view AText) const {
  return IndexOf(AKind, AText) >= 0;
}

int TRecordingLogSink::IndexOf(TLogEntryKind AKind, std::string_view AText, int AStart) const {
  TMutexLock LLock(FLock);
  for (size_t LIndex = static_cast<size_t>(std::max(AStart, 0)); LIndex < FEntries.size(); ++LIndex) {
    if (Matches(FEntries[LIndex], AKind, AText)) return static_cast<int>(LIndex);
  }
  return -1;
}

int TRecordingLogSink::Count(TLogEntryKind AKind, std::string_view AText) const {
  TMutexLock LLock(FLock);
  int LCount = 0;
  for (const TLogEntry& LEntry : FEntries) {
    if (Matches(LEntry, AKind, AText)) ++LCount;
  }
  return LCount;
}

std::vector<std::string> TRecordingLogSink::Texts(TLogEntryKind AKind) const {
  TMutexLock LLock(FLock);
  std::vector<std::string> LTexts;
  for (const TLogEntry& LEntry : FEntries) {
    if (LEntry.Kind == AKind) LTexts.push_back(LEntry.Text);
  }
  return LTexts;
}

}  // namespace Orvane
