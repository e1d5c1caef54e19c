#pragma once

// The owning handle of an open file (a descriptor; on Windows a HANDLE), and the walk below a base
// directory that SafeFiles, TFileReader and AtomicFile share. Code that works on descriptors
// (sockets, pipes, event descriptors) holds them in a TFileHandle; portable code uses SafeFiles and
// TFileReader instead.

#include <cstdint>
#include <string>
#include <vector>

#include "OrvaneCore/Platform/SafeFiles.h"

namespace Orvane {

#ifdef _WIN32
using TNativeFile = void*;  // HANDLE
// INVALID_HANDLE_VALUE; a null handle counts as closed too.
inline TNativeFile NoNativeFile() { return reinterpret_cast<TNativeFile>(static_cast<intptr_t>(-1)); }
inline bool IsNativeFileOpen(TNativeFile AFile) { return AFile != NoNativeFile() && AFile != nullptr; }
#else
using TNativeFile = int;
inline TNativeFile NoNativeFile() { return -1; }
inline bool IsNativeFileOpen(TNativeFile AFile) { return AFile >= 0; }
#endif

// Owns one file descriptor (handle) and closes it when it goes.
class TFileHandle {
public:
  explicit TFileHandle(TNativeFile AFd = NoNativeFile()) : FFd(AFd) {}
  ~TFileHandle() { Reset(); }
  TFileHandle(TFileHandle&& AOther) noexcept : FFd(AOther.Release()) {}
  TFileHandle& operator=(TFileHandle&& AOther) noexcept {
    if (this != &AOther) Reset(AOther.Release());
    return *this;
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;

  TNativeFile Get() const { return FFd; }
  bool IsOpen() const { return IsNativeFileOpen(FFd); }
  // Closes the descriptor held, if any, and takes AFd instead.
  void Reset(TNativeFile AFd = NoNativeFile());
  // Gives the descriptor up without closing it.
  TNativeFile Release() {
    const TNativeFile LFd = FFd;
    FFd = NoNativeFile();
    return LFd;
  }
  // Closes now and reports the result (0, or -1 with errno set): a delayed write error may surface
  // only here.
  int Close();

private:
  TNativeFile FFd;
};

// The result of a call on APath that failed with AErrno (Missing for ENOENT).
TFileResult ErrnoFailure(const std::string& APath, int AErrno);
#ifndef _WIN32
// The result of opening AName in the directory ADir (AT_FDCWD: the working directory) that failed
// with AErrno: a symbolic link there is named as such, with ELOOP.
TFileResult OpenFailure(int ADir, const std::string& AName, const std::string& APath, int AErrno);
#endif

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

// The names of ARelative, a path of plain names separated by '/'; false for a path that does not
// stay below its base (absolute, or with "." or "..").
bool SplitRelativeComponents(const std::string& ARelative, std::vector<std::string>& AParts);

// The directory of ARelativeFile below ABase, opened as OpenDirectoryBelow does, and the file's
// name in it.
TFileResult OpenParentBelow(const std::string& ABase, const std::string& ARelativeFile, bool ACreate,
                            TFileHandle& ADir, std::string& AName);

}  // namespace Orvane
