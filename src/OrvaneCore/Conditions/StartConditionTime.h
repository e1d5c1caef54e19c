#pragma once

#include <cstdint>

#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

// Local wall-clock times and the UTC moments they stand for, as start conditions need them. Due times
// follow the local clock, while runs are recorded and intervals counted in UTC; a local time around a
// daylight-saving change has no single UTC moment, and these functions settle it the same way every
// time (mktime does not: its answer for a repeated hour depends on the call before it).

// The UTC moment at which the local clock first shows ALocal or a later time. A local time that a
// fall-back repeats is taken at its first occurrence; one that a spring-forward skips falls on the
// moment of the change (02:30 on the day the clock jumps from 02:00 to 03:00 is 03:00). Depends on
// ALocal and the time zone only.
TDateTime FirstUtcAtOrAfterLocal(TDateTime ALocal);

// The UTC moment that ALocal, a reading of the current local time, stands for. Outside the hour that a
// fall-back repeats this is FirstUtcAtOrAfterLocal. Inside it the clock decides: when the clock has
// reached the second occurrence of ALocal (and not gone an hour past it), that one is taken. A run
// recorded an hour too early would let an interval fall due an hour early.
TDateTime LocalNowToUtc(TDateTime ALocal);

// UtcToLocal, with the offsets of an open TZoneOffsetScope.
TDateTime LocalOfUtc(TDateTime AUtc);

// While a scope lives, the functions above on its thread take the time zone as fixed and remember
// the offsets they looked up, so that a pass over thousands of jobs asks the C library a few times
// instead of several times for each job. A span of at most a day whose ends have one offset is
// taken to have it throughout: no zone changes its offset twice within a day, which the functions
// above rely on anyway. An inner scope shares the outer one's offsets; a change of the zone (TZ)
// is seen by the next scope.
class TZoneOffsetScope {
public:
  TZoneOffsetScope();
  ~TZoneOffsetScope();
  TZoneOffsetScope(const TZoneOffsetScope&) = delete;
  TZoneOffsetScope& operator=(const TZoneOffsetScope&) = delete;

  // The local clock's offset from UTC at the whole second AUnix, in seconds.
  int64_t OffsetAt(int64_t AUnix);

private:
  struct TSpan {
    int64_t From;  // whole seconds, both ends included
    int64_t To;
    int64_t Offset;
  };
  static constexpr int CMaxSpans = 8;
  TSpan FSpans[CMaxSpans];
  int FCount = 0;
  bool FOwner;
};

}  // namespace Orvane
