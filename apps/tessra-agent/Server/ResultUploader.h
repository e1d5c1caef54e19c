#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "OrvaneCore/Platform/AtomicFile.h"
#include "Server/Outbox.h"
#include "Tasks/ResultSink.h"

namespace Orvane {

// Sends each result a task writes to the management server: the file gzip-compressed into an
// outbox item (a result, so a full outbox drops it before any report), PUT to
// TServerLayout::ResultPath. The name comes from the run's time, so an item sent twice replaces
// itself on the server. A document of tens of megabytes is compressed in chunks from its file into
// the item's file: never in memory whole.
//
// Threading: any thread (the outbox's Add is).
class TResultUploader final : public IResultSink {
public:
  static constexpr const char* CContentType = "application/xml";
  static constexpr const char* CContentEncoding = "gzip";

  explicit TResultUploader(std::shared_ptr<TOutbox> AOutbox);
  void ResultWritten(const std::string& ATaskId, const std::string& AFile) override;

private:
  const std::shared_ptr<TOutbox> FOutbox;
};

// The gzip stream of the regular file AFile, handed to AWrite in pieces of at most AChunkBytes; the
// file is read in pieces of that size too. Throws std::runtime_error naming the file.
void GzipFile(const std::string& AFile, const TByteWriter& AWrite, std::size_t AChunkBytes = 64 * 1024);

}  // namespace Orvane
