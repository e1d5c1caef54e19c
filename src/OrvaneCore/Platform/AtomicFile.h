#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace Orvane {

class TFileHandle;

// Hands a streamed save's content over piece by piece.
using TByteWriter = std::function<void(std::string_view APiece)>;
// Writes a save's content through the writer it is given; when it raises, nothing is saved.
using TContentProducer = std::function<void(const TByteWriter& AWrite)>;

// Replaces a file's content so that a crash leaves either the old file or the new one, never a
// torn one:
//   1. the bytes go to a temporary file in the same directory, created exclusively
//      (O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600, a random name), so nobody can plant the file or a
//      link we would write through;
//   2. the temporary file is flushed (fsync) and renamed over the target; rename replaces a
//      symbolic link at the target path instead of following it;
//   3. the directory is flushed, so the rename itself survives a power loss.
// New files are owner-only (0600); whoever wants them readable by others changes the mode after
// the save.
//
// A save whose bytes equal the target's current content writes nothing: the target is read only
// through open(O_NOFOLLOW) and only when it is a regular file, so a link at the path is always
// replaced.
//
// Failures raise EOSError with the errno of the call that failed and a message naming the file;
// the temporary file is removed then. One object may be used by one thread at a time; separate
// objects (and SaveFileAtomically) may run on any number of threads.
class TAtomicFile {
public:
  virtual ~TAtomicFile() = default;

  // True when the file was written, false when it already held exactly AContent.
  bool Save(const std::string& AFileName, std::string_view AContent);
  // The same for ARelativeFile below the trusted directory ABase (see SafeFiles.h): the directories
  // between them are opened without following a symbolic link and made owner-only when missing; a
  // link among them raises EOSError with ELOOP, and nothing is written.
  bool SaveBelow(const std::string& ABase, const std::string& ARelativeFile, std::string_view AContent);
  // The same with the content streamed by AProduce, so that a large document never has to be in
  // memory whole. Always writes (there is nothing to compare with).
  void SaveBelowStreamed(const std::string& ABase, const std::string& ARelativeFile, const TContentProducer& AProduce);

protected:
  // The name of a new temporary file for AFileName: a random one in the same directory (only its
  // last component is used). A name that is taken is not used; the save asks again.
  virtual std::string NewTemporaryName(const std::string& AFileName);

private:
  // The save itself, of AName in the open directory ADirectory; AFileName names it in messages.
  void SaveIn(const TFileHandle& ADirectory, const std::string& AName, const std::string& AFileName,
              const TContentProducer& AProduce);
  void OpenBelow(const std::string& ABase, const std::string& ARelativeFile, TFileHandle& ADirectory,
                 std::string& AName, std::string& AFileName);
};

// TAtomicFile().Save(AFileName, AContent).
bool SaveFileAtomically(const std::string& AFileName, std::string_view AContent);

// Removes the temporary files that saves interrupted by a crash or a kill left in ADirectory and
// the directories below it (".NAME.<32 hex digits>.tmp"; regular files only; the walk never
// follows a symbolic link) and returns how many went. Only for a moment when no save can be running on that tree,
// such as the start of the one process that writes there.
int RemoveLeftTemporaryFiles(const std::string& ADirectory);

}  // namespace Orvane
