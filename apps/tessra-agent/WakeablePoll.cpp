#include "WakeablePoll.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "OrvaneCore/Base/Exceptions.h"

namespace Orvane {

TWakeablePoll::TWakeablePoll() : FWakeEvent(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!FWakeEvent.IsOpen()) throw EOSError("Cannot create a wake-up event", errno);
}

void TWakeablePoll::Wake() {
  // The event is never read, so it stays readable: the wake-up holds for every later wait.
  const uint64_t LOne = 1;
  [[maybe_unused]] const ssize_t LWritten = write(FWakeEvent.Get(), &LOne, sizeof(LOne));
}

TWakeablePoll::TWaitResult TWakeablePoll::Wait(std::vector<TItem>& AItems, int ATimeoutMs) {
  std::vector<pollfd> LFds;
  LFds.reserve(AItems.size() + 1);
  LFds.push_back({FWakeEvent.Get(), POLLIN, 0});
  for (TItem& LItem : AItems) {
    LItem.Ready = false;
    LFds.push_back({LItem.Fd, static_cast<short>(LItem.Write ? POLLOUT : POLLIN), 0});
  }
  if (poll(LFds.data(), LFds.size(), std::clamp(ATimeoutMs, 0, CMaxWaitMs)) < 0)
    return errno == EINTR ? TWaitResult::Polled : TWaitResult::Failed;
  if (LFds[0].revents != 0) return TWaitResult::Woken;
  for (std::size_t I = 0; I < AItems.size(); ++I) AItems[I].Ready = LFds[I + 1].revents != 0;
  return TWaitResult::Polled;
}

}  // namespace Orvane
