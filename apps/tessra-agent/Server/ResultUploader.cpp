#include "Server/ResultUploader.h"

#include <zlib.h>

#include <stdexcept>
#include <utility>
#include <vector>

#include "OrvaneCore/Platform/FileReader.h"
#include "Server/ServerLayout.h"

namespace Orvane {

namespace {

constexpr std::string_view CResultExtension = ".xml";
// zlib's window bits for a gzip header and trailer instead of zlib's own.
constexpr int CGzipWindowBits = 15 + 16;
constexpr int CMemoryLevel = 8;

// The run's name: the result file's name without its folder and ".xml".
std::string RunName(const std::string& AFile) {
  std::string LName = AFile.substr(AFile.find_last_of('/') + 1);
  if (LName.ends_with(CResultExtension)) LName.resize(LName.size() - CResultExtension.size());
  return LName;
}

}  // namespace

void GzipFile(const std::string& AFile, const TByteWriter& AWrite, std::size_t AChunkBytes) {
  TFileReader LReader;
  if (const TFileResult LOpened = LReader.Open(AFile, {.NoFollow = true, .RegularOnly = true});
      !LOpened.Done())
    throw std::runtime_error(LOpened.Error);
  z_stream LStream{};
  if (deflateInit2(&LStream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, CGzipWindowBits, CMemoryLevel,
                   Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("zlib cannot compress " + AFile);
  struct TEnd {
    z_stream& Stream;
    ~TEnd() { deflateEnd(&Stream); }
  } LEnd{LStream};

  std::vector<char> LIn(AChunkBytes);
  std::vector<char> LOut(AChunkBytes);
  int LFlush = Z_NO_FLUSH;
  while (LFlush != Z_FINISH) {
    std::size_t LRead = 0;
    if (const TFileResult LDone = LReader.Read(LIn, LRead); !LDone.Done())
      throw std::runtime_error(LDone.Error);
    // A short read is the end of the file.
    LFlush = LRead < LIn.size() ? Z_FINISH : Z_NO_FLUSH;
    LStream.next_in = reinterpret_cast<Bytef*>(LIn.data());
    LStream.avail_in = static_cast<uInt>(LRead);
    do {
      LStream.next_out = reinterpret_cast<Bytef*>(LOut.data());
      LStream.avail_out = static_cast<uInt>(LOut.size());
      if (deflate(&LStream, LFlush) == Z_STREAM_ERROR) throw std::runtime_error("zlib failed on " + AFile);
      if (const std::size_t LHave = LOut.size() - LStream.avail_out; LHave > 0) AWrite({LOut.data(), LHave});
    } while (LStream.avail_out == 0);
  }
}

TResultUploader::TResultUploader(std::shared_ptr<TOutbox> AOutbox) : FOutbox(std::move(AOutbox)) {}

void TResultUploader::ResultWritten(const std::string& ATaskId, const std::string& AFile) {
  // A refusal is logged by the outbox; the local copy stays either way.
  FOutbox->AddStreamed(TOutbox::TKind::Result, TServerLayout::ResultPath(ATaskId, RunName(AFile)),
                       CContentType, CContentEncoding,
                       [&AFile](const TByteWriter& AWrite) { GzipFile(AFile, AWrite); });
}

}  // namespace Orvane
