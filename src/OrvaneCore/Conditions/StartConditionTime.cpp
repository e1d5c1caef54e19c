#include "OrvaneCore/Conditions/StartConditionTime.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>

#include "OrvaneCore/Platform/CalendarTime.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

namespace {

thread_local TZoneOffsetScope* GCurrentScope = nullptr;

constexpr int64_t CSecondsPerDayInt = 86400;

int64_t LibraryOffsetAt(int64_t AUnix) {
  const time_t LWhole = static_cast<time_t>(AUnix);
  return LocalOffsetAt(LWhole);
}

int64_t OffsetAt(int64_t AUnix) {
  TZoneOffsetScope* LScope = GCurrentScope;
  return LScope ? LScope->OffsetAt(AUnix) : LibraryOffsetAt(AUnix);
}

// The local clock's offset from UTC at AUtc, in whole seconds. AUtc is taken to the millisecond
// first: a moment computed as "local time minus offset" may lie a rounding error before the second
// at which the offset changes.
int64_t OffsetSeconds(TDateTime AUtc) {
  const double LUnixMs = std::round(UtcDateTimeToUnix(AUtc) * 1000.0);
  return OffsetAt(static_cast<int64_t>(std::floor(LUnixMs / 1000.0)));
}

TDateTime ShiftBy(TDateTime ALocal, int64_t AOffsetSeconds) {
  return IncSeconds(ALocal, -static_cast<double>(AOffsetSeconds));
}

// The UTC moments whose local time is ALocal: none (skipped), one, or two (repeated). Offsets change
// at most once within a day on either side, so the offsets a day before and a day after are the only
// candidates.
struct TCandidates {
  int Count = 0;
  TDateTime First = CNoDateTime;
  TDateTime Last = CNoDateTime;
  // Set when Count is 0: the candidates around the skipped span.
  TDateTime GapLow = CNoDateTime;
  TDateTime GapHigh = CNoDateTime;
};

TCandidates CandidatesOf(TDateTime ALocal) {
  TCandidates LResult;
  const int64_t LBefore = OffsetSeconds(ALocal - 1.0);
  const int64_t LAfter = OffsetSeconds(ALocal + 1.0);
  if (LBefore == LAfter) {
    LResult.Count = 1;
    LResult.First = LResult.Last = ShiftBy(ALocal, LBefore);
    return LResult;
  }
  const TDateTime LUtcBefore = ShiftBy(ALocal, LBefore);
  const TDateTime LUtcAfter = ShiftBy(ALocal, LAfter);
  const bool LValidBefore = OffsetSeconds(LUtcBefore) == LBefore;
  const bool LValidAfter = OffsetSeconds(LUtcAfter) == LAfter;
  if (LValidBefore && LValidAfter) {
    LResult.Count = 2;
    LResult.First = std::min(LUtcBefore, LUtcAfter);
    LResult.Last = std::max(LUtcBefore, LUtcAfter);
  } else if (LValidBefore || LValidAfter) {
    LResult.Count = 1;
    LResult.First = LResult.Last = LValidBefore ? LUtcBefore : LUtcAfter;
  } else {
    LResult.GapLow = std::min(LUtcBefore, LUtcAfter);
    LResult.GapHigh = std::max(LUtcBefore, LUtcAfter);
  }
  return LResult;
}

// The moment of the offset change between ALow and AHigh (whole seconds; the offset at AHigh is the
// new one).
TDateTime ChangeBetween(TDateTime ALow, TDateTime AHigh) {
  const int64_t LNewOffset = OffsetSeconds(AHigh);
  double LLow = std::floor(UtcDateTimeToUnix(ALow));
  double LHigh = std::ceil(UtcDateTimeToUnix(AHigh));
  while (LHigh - LLow > 1.0) {
    const double LMiddle = std::floor((LLow + LHigh) / 2.0);
    if (OffsetSeconds(UnixToUtcDateTime(LMiddle)) == LNewOffset)
      LHigh = LMiddle;
    else
      LLow = LMiddle;
  }
  return UnixToUtcDateTime(LHigh);
}

}  // namespace

TDateTime FirstUtcAtOrAfterLocal(TDateTime ALocal) {
  const TCandidates LCandidates = CandidatesOf(ALocal);
  if (LCandidates.Count > 0) return LCandidates.First;
  return ChangeBetween(LCandidates.GapLow, LCandidates.GapHigh);
}

TDateTime LocalNowToUtc(TDateTime ALocal) {
  const TCandidates LCandidates = CandidatesOf(ALocal);
  if (LCandidates.Count == 0) return ChangeBetween(LCandidates.GapLow, LCandidates.GapHigh);
  if (LCandidates.Count == 1) return LCandidates.First;
  const TDateTime LClock = Clock().UtcNow();
  const double LClockPastLast = SecondsBetween(LCandidates.Last, LClock);
  const double LRepeated = SecondsBetween(LCandidates.First, LCandidates.Last);
  return LClockPastLast >= -0.001 && LClockPastLast < LRepeated ? LCandidates.Last : LCandidates.First;
}

TDateTime LocalOfUtc(TDateTime AUtc) {
  if (!GCurrentScope) return UtcToLocal(AUtc);
  // As UtcToLocal: the offset at the whole second, added as a fraction of a day.
  const int64_t LWhole = static_cast<int64_t>(std::floor(UtcDateTimeToUnix(AUtc)));
  return AUtc + static_cast<double>(GCurrentScope->OffsetAt(LWhole)) / CSecondsPerDay;
}

TZoneOffsetScope::TZoneOffsetScope() : FOwner(GCurrentScope == nullptr) {
  if (FOwner) GCurrentScope = this;
}

TZoneOffsetScope::~TZoneOffsetScope() {
  if (FOwner) GCurrentScope = nullptr;
}

int64_t TZoneOffsetScope::OffsetAt(int64_t AUnix) {
  // An inner scope answers from the outer one.
  if (!FOwner && GCurrentScope) return GCurrentScope->OffsetAt(AUnix);
  for (int I = 0; I < FCount; ++I)
    if (FSpans[I].From <= AUnix && AUnix <= FSpans[I].To) return FSpans[I].Offset;
  const int64_t LOffset = LibraryOffsetAt(AUnix);
  // Within a day of a span with the same offset: the span grows to the second asked for.
  for (int I = 0; I < FCount; ++I) {
    TSpan& LSpan = FSpans[I];
    if (LSpan.Offset != LOffset) continue;
    if (AUnix > LSpan.To && AUnix - LSpan.To <= CSecondsPerDayInt) {
      LSpan.To = AUnix;
      return LOffset;
    }
    if (AUnix < LSpan.From && LSpan.From - AUnix <= CSecondsPerDayInt) {
      LSpan.From = AUnix;
      return LOffset;
    }
  }
  // Full: the oldest span makes room; it is found again when asked.
  if (FCount == CMaxSpans) {
    std::copy(FSpans + 1, FSpans + CMaxSpans, FSpans);
    --FCount;
  }
  FSpans[FCount++] = {AUnix, AUnix, LOffset};
  return LOffset;
}

}  // namespace Orvane
