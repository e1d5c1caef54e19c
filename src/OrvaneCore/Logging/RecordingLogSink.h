#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

// Keeps every entry, in the order written, for tests to inspect. Takes every level and the text of
// attached objects.
class TRecordingLogSink : public ILogSink {
public:
  TLogLevel Level() const override { return TLogLevel::Trace; }
  bool WantsObjectText() const override { return true; }
  void Write(const TLogEntry& AEntry) override EXCLUDES(FLock);

  std::vector<TLogEntry> Entries() const EXCLUDES(FLock);
  void Clear() EXCLUDES(FLock);

  // Entries match by kind and by a Text that contains AText ("" matches every entry of the kind).
  bool Contains(TLogEntryKind AKind, std::string_view AText = {}) const EXCLUDES(FLock);
  // Index of the first match at or after AStart, -1 when there is none.
  int IndexOf(TLogEntryKind AKind, std::string_view AText = {}, int AStart = 0) const EXCLUDES(FLock);
  int Count(TLogEntryKind AKind, std::string_view AText = {}) const EXCLUDES(FLock);
  // The texts of all entries of a kind, in order.
  std::vector<std::string> Texts(TLogEntryKind AKind) const EXCLUDES(FLock);

private:
  mutable TMutex FLock;
  std::vector<TLogEntry> FEntries GUARDED_BY(FLock);
};

}  // namespace Orvane
