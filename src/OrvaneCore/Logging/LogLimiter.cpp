#include "OrvaneCore/Logging/LogLimiter.h"

namespace Orvane {

TLogLimiter::TLogLimiter(int32_t AIntervalSeconds) : FIntervalSeconds(AIntervalSeconds) {}

bool TLogLimiter::Pass(std::string_view AKind, TLogLevel ALevel) {
  TSummaries LDue;
  bool LPass = false;
  {
    TMutexLock LLock(FLock);
    const TMonoTime LNow = Clock().Monotonic();
    EndIntervals(LNow, LDue);
    const auto LFound = FKinds.find(AKind);
    if (LFound == FKinds.end()) {
      FKinds.emplace(std::string(AKind),
                     TKind{LNow + std::chrono::seconds(FIntervalSeconds), 0, ALevel});
      LPass = true;
    } else {
      ++LFound->second.HeldBack;
    }
  }
  WriteSummaries(LDue);
  return LPass;
}

void TLogLimiter::EndIntervals(TMonoTime ANow, TSummaries& ADue) {
  for (auto LIt = FKinds.begin(); LIt != FKinds.end();) {
    TKind& LKind = LIt->second;
    if (LKind.IntervalEnd > ANow) {
      ++LIt;
    } else if (LKind.HeldBack == 0) {
      LIt = FKinds.erase(LIt);
    } else {
      // The summary stands for this interval; a flood that goes on is counted in the next one.
      ADue.push_back({LIt->first, LKind.HeldBack, LKind.Level});
      LKind.HeldBack = 0;
      LKind.IntervalEnd = ANow + std::chrono::seconds(FIntervalSeconds);
      ++LIt;
    }
  }
}

void TLogLimiter::WriteSummaries(const TSummaries& ASummaries) const {
  IOrvaneLogger* LLog = OrvaneLogger();
  for (const TSummary& LSummary : ASummaries) {
    const TLogArgs LArgs = {LSummary.Kind, LSummary.Count, FIntervalSeconds};
    constexpr std::string_view CText = "%s: %d more in the last %d seconds, not logged one by one";
    switch (LSummary.Level) {
      case TLogLevel::Error:
      case TLogLevel::Off:
        LLog->Error(CText, LArgs);
        break;
      case TLogLevel::Warning:
        LLog->Warning(CText, LArgs);
        break;
      case TLogLevel::Info:
        LLog->Message(CText, LArgs);
        break;
      case TLogLevel::Trace:
      case TLogLevel::Debug:
        LLog->IntegerValue(LSummary.Kind + ": not logged in the last interval", LSummary.Count);
        break;
    }
  }
}

void TLogLimiter::Message(std::string_view AKind, std::string_view AFormat, TLogArgs AArgs) {
  if (Pass(AKind, TLogLevel::Info)) OrvaneLogger()->Message(AFormat, AArgs);
}

void TLogLimiter::Warning(std::string_view AKind, std::string_view AFormat, TLogArgs AArgs) {
  if (Pass(AKind, TLogLevel::Warning)) OrvaneLogger()->Warning(AFormat, AArgs);
}

void TLogLimiter::Error(std::string_view AKind, std::string_view AFormat, TLogArgs AArgs) {
  if (Pass(AKind, TLogLevel::Error)) OrvaneLogger()->Error(AFormat, AArgs);
}

void TLogLimiter::LastError(std::string_view AKind, std::string_view AText, int AErrorCode) {
  if (Pass(AKind, TLogLevel::Error)) OrvaneLogger()->LastError(AText, AErrorCode);
}

void TLogLimiter::IntegerValue(std::string_view AKind, std::string_view AName, int64_t AValue) {
  if (Pass(AKind, TLogLevel::Debug)) OrvaneLogger()->IntegerValue(AName, AValue);
}

void TLogLimiter::Flush() {
  TSummaries LDue;
  {
    TMutexLock LLock(FLock);
    EndIntervals(Clock().Monotonic(), LDue);
  }
  WriteSummaries(LDue);
}

bool TLogLimiter::HasHeldBack() const {
  TMutexLock LLock(FLock);
  for (const auto& [LName, LKind] : FKinds)
    if (LKind.HeldBack > 0) return true;
  return false;
}

TLogLimiter& OrvaneLogLimiter() {
  static TLogLimiter* const GLimiter = new TLogLimiter();
  return *GLimiter;
}

}  // namespace Orvane
