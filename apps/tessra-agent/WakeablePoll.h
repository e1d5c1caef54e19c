#pragma once

#include <vector>

#include "OrvaneCore/Platform/FileHandle.h"

namespace Orvane {

// One thread's wait on a set of descriptors that another thread can end at any time: poll() over
// the descriptors and a wake-up event. Each wait is bounded; the caller loops.
class TWakeablePoll {
public:
  // The longest one Wait blocks.
  static constexpr int CMaxWaitMs = 3600 * 1000;

  struct TItem {
    int Fd = -1;         // below 0: not watched this time
    bool Write = false;  // waits for room to write instead of data to read
    bool Ready = false;  // set by Wait: readable or writable, closed, or failed
  };
  enum class TWaitResult {
    Polled,  // the items say which are ready; none may be (time up, or a signal came in between)
    Woken,   // Wake was called
    Failed,  // poll() failed; errno says why
  };

  // Throws EOSError when the wake-up event cannot be made.
  TWakeablePoll();

  // Ends the Wait in progress and every later one with Woken. Any thread.
  void Wake();
  // Waits up to ATimeoutMs (0 to CMaxWaitMs) for an item to get ready or for Wake.
  TWaitResult Wait(std::vector<TItem>& AItems, int ATimeoutMs);

private:
  TFileHandle FWakeEvent;
};

}  // namespace Orvane
