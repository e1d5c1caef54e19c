#pragma once

// The POSIX side of the platform's file code: an owning descriptor and the walk below a base
// directory that SafeFiles and AtomicFile share. Not for use outside the platform layer.

#include <unistd.h>

#include <string>

#include "OrvaneCore/Platform/SafeFiles.h"

namespace Orvane {

// Owns one file descriptor and closes it when it goes.
class TFileHandle {
public:
  explicit TFileHandle(int AFd = -1) : FFd(AFd) {}
  ~TFileHandle() {
    if (FFd >= 0) ::close(FFd);
  }
  TFileHandle(TFileHandle&& AOther) noexcept : FFd(AOther.FFd) { AOther.FFd = -1; }
  TFileHandle& operator=(TFileHandle&& AOther) noexcept {
    if (this != &AOther) Reset(AOther.Release());
    return *this;
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;

  int Get() const { return FFd; }
  bool IsOpen() const { return FFd >= 0; }
  void Reset(int AFd = -1) {
    if (FFd >= 0) ::close(FFd);
    FFd = AFd;
  }
  // Gives the descriptor up without closing it.
  int Release() {
    const int LFd = FFd;
    FFd = -1;
    return LFd;
  }
  // Closes now and reports the result: a delayed write error may surface only here.
  int Close() {
    const int LResult = ::close(FFd);
    FFd = -1;
    return LResult;
  }

private:
  int FFd;
};

// ARelativePath split into its directory part and its last name ("a/b/c" gives "a/b" and "c").
struct TRelativeFileName {
  std::string Dir;
  std::string Name;
};
TRelativeFileName SplitRelativeFileName(const std::string& ARelativePath);

// Opens the directory ARelativeDir below ABase, one component at a time without following a link
// (creating missing ones 0700 when ACreate). ADir is open when the result is done; AErrno keeps the
// error of the call that failed.
TFileResult OpenDirectoryBelow(const std::string& ABase, const std::string& ARelativeDir, bool ACreate,
                               TFileHandle& ADir, int& AErrno);

}  // namespace Orvane
