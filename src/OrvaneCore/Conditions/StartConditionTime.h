#pragma once

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

}  // namespace Orvane
