#pragma once

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace Orvane::Testing {

// Sets the process's umask for one scope and restores it afterwards. Only for single-threaded
// parts of a test (a spawned process inherits it): the umask is process-wide. Windows has no
// umask: there the scope does nothing.
class TUmaskScope {
public:
  TUmaskScope(const TUmaskScope&) = delete;
  TUmaskScope& operator=(const TUmaskScope&) = delete;
#ifdef _WIN32
  explicit TUmaskScope(int) {}
#else
  explicit TUmaskScope(mode_t AMask) : FOld(::umask(AMask)) {}
  ~TUmaskScope() { ::umask(FOld); }

private:
  mode_t FOld;
#endif
};

}  // namespace Orvane::Testing
