#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "OrvaneCore/Data/MemberVisitor.h"
#include "OrvaneCore/Platform/FileHandle.h"

namespace Orvane {

class TFileEntry;

// The file scanner's entries, kept in an unlinked temporary file instead of memory: a scan of a
// large tree (hundreds of thousands of files) then costs about 8 bytes of memory a file (the
// entry's offset), and the document is written from the file as it is read back.
//
// The file is made at the first Add, in the folder given (the data directory, so that it is on
// disk and owner-only), and goes when the list does. Add raises EOSError when the file cannot be
// made or written. One thread at a time.
class TFileEntryList {
public:
  // ASpoolDir "": the system's temporary folder.
  explicit TFileEntryList(std::string ASpoolDir = "");
  TFileEntryList(const TFileEntryList&) = delete;
  TFileEntryList& operator=(const TFileEntryList&) = delete;

  void Add(std::string_view APath, std::string_view ASizeBytes, std::string_view AModifiedUtc);
  void Add(const TFileEntry& AEntry);
  std::size_t size() const { return FOffsets.size(); }
  bool empty() const { return FOffsets.empty(); }
  void clear();
  // A new entry read back; reading in order is the fast way.
  std::shared_ptr<TFileEntry> operator[](std::size_t AIndex) const;

  // The list as a member of its record.
  TObjectListSlot Slot();

  class TIterator {
  public:
    TIterator(const TFileEntryList& AList, std::size_t AIndex) : FList(&AList), FIndex(AIndex) {}
    std::shared_ptr<TFileEntry> operator*() const { return (*FList)[FIndex]; }
    TIterator& operator++() {
      ++FIndex;
      return *this;
    }
    bool operator!=(const TIterator& AOther) const { return FIndex != AOther.FIndex; }

  private:
    const TFileEntryList* FList;
    std::size_t FIndex;
  };
  TIterator begin() const { return {*this, 0}; }
  TIterator end() const { return {*this, size()}; }

private:
  void OpenSpool();
  void FlushWrites() const;
  // Reads ASize bytes at AOffset into AOut, through a read-ahead window.
  void ReadAt(uint64_t AOffset, std::size_t ASize, char* AOut) const;

  std::string FSpoolDir;
  TFileHandle FSpool;
  std::vector<uint64_t> FOffsets;
  uint64_t FEnd = 0;  // where the next entry goes
  // Entries not yet written to the file, and the window of the file read last. Reading is const
  // for the list's users; these are caches.
  mutable std::string FPending;
  mutable uint64_t FPendingStart = 0;
  mutable std::string FWindow;
  mutable uint64_t FWindowStart = 0;
};

}  // namespace Orvane
