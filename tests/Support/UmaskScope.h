#pragma once

#include <sys/stat.h>

namespace Orvane::Testing {

// Sets the process's umask for one scope and restores it afterwards. Only for single-threaded
// parts of a test (a spawned process inherits it): the umask is process-wide.
class TUmaskScope {
public:
  explicit TUmaskScope(mode_t AMask) : FOld(::umask(AMask)) {}
  ~TUmaskScope() { ::umask(FOld); }
  TUmaskScope(const TUmaskScope&) = delete;
  TUmaskScope& operator=(const TUmaskScope&) = delete;

private:
  mode_t FOld;
};

}  // namespace Orvane::Testing
