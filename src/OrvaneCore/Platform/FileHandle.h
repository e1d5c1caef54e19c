#pragma once

// The owning descriptor of the POSIX side, and the walk below a base directory that SafeFiles,
// TFileReader and AtomicFile share. Code that works on descriptors (sockets, pipes, event
// descriptors) holds them in a TFileHandle; portable code uses SafeFiles and TFileReader instead.

#include <string>

#include "OrvaneCore/Platform/SafeFiles.h"

namespace Orvane {

// Owns one file descriptor and closes it when it goes.
class TFileHandle {
public:
  explicit TFileHandle(int AFd = -1) : FFd(AFd) {}
  ~TFileHandle() { Reset(); }
  TFileHandle(TFileHandle&& AOther) noexcept : FFd(AOther.Release()) {}
  TFileHandle& operator=(TFileHandle&& AOther) noexcept {
    if (this != &AOther) Reset(AOther.Release());
    return *this;
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;

  int Get() const { return FFd; }
  bool IsOpen() const { return FFd >= 0; }
  // Closes the descriptor held, if any, and takes AFd instead.
  void Reset(int AFd = -1);
  // Gives the descriptor up without closing it.
  int Release() {
    const int LFd = FFd;
    FFd = -1;
    return LFd;
  }
  // Closes now and reports the result: a delayed write error may surface only here.
  int Close();

private:
  int FFd;
};

// The result of a call on APath that failed with AErrno (Missing for ENOENT).
TFileResult ErrnoFailure(const std::string& APath, int AErrno);
// The result of opening AName in the directory ADir (AT_FDCWD: the working directory) that failed
// with AErrno: a symbolic link there is named as such, with ELOOP.
TFileResult OpenFailure(int ADir, const std::string& AName, const std::string& APath, int AErrno);

// ARelativePath split into its directory part and its last name ("a/b/c" gives "a/b" and "c").
struct TRelativeFileName {
  std::string Dir;
  std::string Name;
};
TRelativeFileName SplitRelativeFileName(const std::string& ARelativePath);

// Opens the directory ARelativeDir below ABase, one component at a time without following a link
// (creating missing ones 0700 when ACreate). ADir is open when the result is done; the result's
// ErrorCode is the error of the call that failed.
TFileResult OpenDirectoryBelow(const std::string& ABase, const std::string& ARelativeDir, bool ACreate,
                               TFileHandle& ADir);

}  // namespace Orvane
