#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "OrvaneCore/Platform/AtomicFile.h"

namespace Orvane {

class TFileReader;

// Files of the agent's own directory tree, reached without ever following a symbolic link.
//
// Every call takes a base directory and a path relative to it. The base is trusted as it is (the
// data directory, which was checked when it was chosen); each component of the relative path is
// opened on its own, relative to the one before, and a symbolic link met there refuses the whole
// operation: nothing is read, written, created or removed through it. Relative paths are made of
// plain names separated by '/': an absolute path, "." or ".." fails the call.
//
// What the calls create is owner-only whatever the process's umask: directories 0700, files 0600,
// set explicitly after the creation.
//
// The calls raise nothing; their result says what happened, with a text for the log that names the
// path. Any thread may call them at any time; they share no state.

// What a call came to.
struct TFileResult {
  enum class TStatus {
    Done,
    Missing,       // the file or a directory on the way does not exist
    SymbolicLink,  // a component is a symbolic link: refused
    Failed,        // anything else (permissions, not a regular file, a full disk, ...)
  };
  TStatus Status = TStatus::Done;
  std::string Error;  // for the log; empty when done
  int ErrorCode = 0;  // the system's code of the failure (ELOOP for a refused link); 0 when done

  bool Done() const { return Status == TStatus::Done; }
};

// Creates ARelativeDir below ABase with every missing directory on the way (0700). Done when it is
// there as a directory ("" is ABase itself).
TFileResult MakeOwnerDirectories(const std::string& ABase, const std::string& ARelativeDir);

// Appends AText to the regular file ARelativeFile, creating it (0600) and its missing directories.
// With ARotateAtSize above 0, a file that has reached that size is renamed to NAME.1 first (an
// older NAME.1 goes) and a new one begins.
TFileResult AppendToFile(const std::string& ABase, const std::string& ARelativeFile, std::string_view AText,
                         uint64_t ARotateAtSize = 0);

// The whole content of the regular file ARelativeFile. Missing when there is no such file.
TFileResult ReadWholeFile(const std::string& ABase, const std::string& ARelativeFile, std::string& AContent);
// Opens the regular file ARelativeFile in AReader, for a file too large to be read whole.
TFileResult OpenFileBelow(const std::string& ABase, const std::string& ARelativeFile, TFileReader& AReader);

// Replaces ARelativeFile atomically with AContent (see TAtomicFile), creating its missing
// directories.
TFileResult ReplaceFile(const std::string& ABase, const std::string& ARelativeFile, std::string_view AContent);
// The same with the content streamed by AProduce (see TAtomicFile::SaveBelowStreamed); what AProduce
// raises fails the call with its text.
TFileResult ReplaceFileStreamed(const std::string& ABase, const std::string& ARelativeFile,
                                const TContentProducer& AProduce);

struct TDirectoryEntry {
  enum class TKind { File, Directory, SymbolicLink, Other };
  std::string Name;
  TKind Kind = TKind::Other;  // as the entry is itself; a link is not followed to say what it points at
};

// The entries of the directory ARelativeDir, in no particular order, without "." and "..".
TFileResult ListDirectory(const std::string& ABase, const std::string& ARelativeDir,
                          std::vector<TDirectoryEntry>& AEntries);

// Removes the entry ARelativeFile (a file, or a link itself: never what it points at).
TFileResult RemoveFile(const std::string& ABase, const std::string& ARelativeFile);

// ARelativeDir + "/" + AName, or AName alone when ARelativeDir is empty.
std::string JoinRelativePath(const std::string& ARelativeDir, const std::string& AName);

}  // namespace Orvane
