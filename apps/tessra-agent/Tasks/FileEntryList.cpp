#include "Tasks/FileEntryList.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/Paths.h"
#include "Tasks/FileInventory.h"

namespace Orvane {

namespace {

// Entries go to the file in pieces of about this size, and are read back in windows of it.
constexpr std::size_t CPieceSize = 64 * 1024;

[[noreturn]] void RaiseSpoolError(const std::string& AStep, int AError) {
  throw EOSError("The file scanner's listing cannot be kept: " + AStep + ": " +
                     std::system_category().message(AError),
                 AError);
}

// An entry is its three texts, each a 32-bit length and the bytes.
void PutText(std::string& AOut, std::string_view AText) {
  const auto LSize = static_cast<uint32_t>(AText.size());
  AOut.append(reinterpret_cast<const char*>(&LSize), sizeof LSize);
  AOut.append(AText);
}

std::string_view TakeText(std::string_view& AIn) {
  uint32_t LSize = 0;
  std::memcpy(&LSize, AIn.data(), sizeof LSize);
  const std::string_view LText = AIn.substr(sizeof LSize, LSize);
  AIn.remove_prefix(sizeof LSize + LSize);
  return LText;
}

}  // namespace

TFileEntryList::TFileEntryList(std::string ASpoolDir) : FSpoolDir(std::move(ASpoolDir)) {}

void TFileEntryList::OpenSpool() {
  const std::string LDir =
      FSpoolDir.empty() ? std::filesystem::temp_directory_path().string() : FSpoolDir;
  // The data directory is made as the result store makes it, when it is not there yet.
  if (!ForceDirectories(LDir)) RaiseSpoolError("creating " + LDir, errno);
  FSpool.Reset(::open(LDir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (FSpool.IsOpen()) return;
  // File systems without unnamed files: a named one, unlinked at once.
  std::string LTemplate = LDir + "/.file-scanner-XXXXXX";
  FSpool.Reset(::mkstemp(LTemplate.data()));
  if (!FSpool.IsOpen()) RaiseSpoolError("creating a temporary file in " + LDir, errno);
  ::unlink(LTemplate.c_str());
}

void TFileEntryList::Add(std::string_view APath, std::string_view ASizeBytes, std::string_view AModifiedUtc) {
  if (!FSpool.IsOpen()) OpenSpool();
  FOffsets.push_back(FEnd);
  const std::size_t LBefore = FPending.size();
  PutText(FPending, APath);
  PutText(FPending, ASizeBytes);
  PutText(FPending, AModifiedUtc);
  FEnd += FPending.size() - LBefore;
  if (FPending.size() >= CPieceSize) FlushWrites();
}

void TFileEntryList::Add(const TFileEntry& AEntry) { Add(AEntry.Path, AEntry.SizeBytes, AEntry.ModifiedUtc); }

void TFileEntryList::FlushWrites() const {
  std::size_t LWritten = 0;
  while (LWritten < FPending.size()) {
    const ssize_t LCount = ::pwrite(FSpool.Get(), FPending.data() + LWritten, FPending.size() - LWritten,
                                    static_cast<off_t>(FPendingStart + LWritten));
    if (LCount < 0) {
      if (errno == EINTR) continue;
      RaiseSpoolError("writing", errno);
    }
    LWritten += static_cast<std::size_t>(LCount);
  }
  FPendingStart += FPending.size();
  FPending.clear();
}

void TFileEntryList::ReadAt(uint64_t AOffset, std::size_t ASize, char* AOut) const {
  if (AOffset >= FPendingStart) {
    std::memcpy(AOut, FPending.data() + (AOffset - FPendingStart), ASize);
    return;
  }
  if (AOffset < FWindowStart || AOffset + ASize > FWindowStart + FWindow.size()) {
    FWindow.resize(std::max(CPieceSize, ASize));
    std::size_t LRead = 0;
    while (LRead < FWindow.size()) {
      const ssize_t LCount = ::pread(FSpool.Get(), FWindow.data() + LRead, FWindow.size() - LRead,
                                     static_cast<off_t>(AOffset + LRead));
      if (LCount < 0 && errno == EINTR) continue;
      if (LCount < 0) RaiseSpoolError("reading", errno);
      if (LCount == 0) break;
      LRead += static_cast<std::size_t>(LCount);
    }
    FWindow.resize(LRead);
    FWindowStart = AOffset;
    if (LRead < ASize) RaiseSpoolError("reading", EIO);
  }
  std::memcpy(AOut, FWindow.data() + (AOffset - FWindowStart), ASize);
}

std::shared_ptr<TFileEntry> TFileEntryList::operator[](std::size_t AIndex) const {
  const uint64_t LStart = FOffsets.at(AIndex);
  const uint64_t LEnd = AIndex + 1 < FOffsets.size() ? FOffsets[AIndex + 1] : FEnd;
  std::string LBytes(static_cast<std::size_t>(LEnd - LStart), '\0');
  ReadAt(LStart, LBytes.size(), LBytes.data());
  std::string_view LIn(LBytes);
  auto LEntry = std::make_shared<TFileEntry>();
  LEntry->Path = TakeText(LIn);
  LEntry->SizeBytes = TakeText(LIn);
  LEntry->ModifiedUtc = TakeText(LIn);
  return LEntry;
}

void TFileEntryList::clear() {
  FSpool.Reset();
  FOffsets.clear();
  FEnd = 0;
  FPending.clear();
  FPendingStart = 0;
  FWindow.clear();
  FWindowStart = 0;
}

TObjectListSlot TFileEntryList::Slot() {
  return {"TFileEntry", [this] { return size(); },
          [this](std::size_t AIndex) { return std::static_pointer_cast<TTessraData>((*this)[AIndex]); },
          [this] { clear(); },
          [this](std::shared_ptr<TTessraData> AItem) {
            if (const auto LEntry = std::dynamic_pointer_cast<TFileEntry>(AItem)) Add(*LEntry);
          }};
}

}  // namespace Orvane
