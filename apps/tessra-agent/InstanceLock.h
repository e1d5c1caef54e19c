#pragma once

#include <string>

#include "OrvaneCore/Platform/FileHandle.h"

namespace Orvane {

// Keeps a second agent off a data directory: an exclusive, non-blocking lock on a file that only
// the owner can read, held for the life of the object. The kernel drops it when the process ends,
// however it ends, so a crashed agent never leaves a stale lock behind.
class TInstanceLock {
public:
  // Throws EFileError when the file cannot be opened, EInvalidOperation when another process
  // holds the lock.
  explicit TInstanceLock(const std::string& ADataDir);
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  const std::string& GetFileName() const { return FFileName; }

private:
  std::string FFileName;
  TFileHandle FHandle;
};

}  // namespace Orvane
