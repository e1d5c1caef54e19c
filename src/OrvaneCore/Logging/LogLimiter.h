#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

// Keeps lines that someone outside the agent can cause at will (a peer's connections, a signal, a
// file another user writes) from flooding the log. Lines are grouped by a kind, a fixed text that
// names what happened ("Control: connection refused"): the first line of a kind is written and opens
// an interval; the lines of that kind during the interval are held back and counted. When the
// interval is over, a summary with the count is written and the next interval begins; an interval
// with nothing held back ends quietly, and the next line of its kind is written again. So a kind
// costs at most one line per interval, however often it happens.
//
// Intervals run on the clock. Summaries are written by the next call of any kind after the interval
// ended, or by Flush. Every call is thread-safe; nothing is logged under the limiter's lock.
class TLogLimiter {
public:
  static constexpr int32_t CDefaultIntervalSeconds = 60;

  explicit TLogLimiter(int32_t AIntervalSeconds = CDefaultIntervalSeconds);
  TLogLimiter(const TLogLimiter&) = delete;
  TLogLimiter& operator=(const TLogLimiter&) = delete;

  // Whether a line of AKind may be written now; false counts it as held back. ALevel is the level at
  // which the kind's summary is written (Info a message, Warning a warning, Error an error, lower a
  // named value).
  bool Pass(std::string_view AKind, TLogLevel ALevel) EXCLUDES(FLock);

  // The logger's calls, each written only when Pass lets its kind through.
  void Message(std::string_view AKind, std::string_view AFormat, TLogArgs AArgs) EXCLUDES(FLock);
  void Warning(std::string_view AKind, std::string_view AFormat, TLogArgs AArgs) EXCLUDES(FLock);
  void Error(std::string_view AKind, std::string_view AFormat, TLogArgs AArgs) EXCLUDES(FLock);
  void LastError(std::string_view AKind, std::string_view AText, int AErrorCode) EXCLUDES(FLock);
  void IntegerValue(std::string_view AKind, std::string_view AName, int64_t AValue) EXCLUDES(FLock);

  // Writes the summaries of the intervals that are over.
  void Flush() EXCLUDES(FLock);
  // Whether lines are held back whose summary is still to be written.
  bool HasHeldBack() const EXCLUDES(FLock);

private:
  struct TKind {
    TMonoTime IntervalEnd{};
    int64_t HeldBack = 0;
    TLogLevel Level = TLogLevel::Warning;
  };
  struct TSummary {
    std::string Kind;
    int64_t Count;
    TLogLevel Level;
  };
  using TSummaries = std::vector<TSummary>;

  // Ends the intervals that are over by ANow; their summaries go to ADue.
  void EndIntervals(TMonoTime ANow, TSummaries& ADue) REQUIRES(FLock);
  void WriteSummaries(const TSummaries& ASummaries) const;

  const int32_t FIntervalSeconds;
  mutable TMutex FLock;  // a leaf: the logger is never called under it
  std::map<std::string, TKind, std::less<>> FKinds GUARDED_BY(FLock);
};

// The process-wide limiter, never destroyed (threads may log while the process exits).
TLogLimiter& OrvaneLogLimiter();

}  // namespace Orvane
