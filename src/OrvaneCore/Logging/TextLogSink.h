#pragma once

#include <memory>
#include <string>

#include "OrvaneCore/Logging/LogSink.h"

namespace Orvane {

struct TTextLogSinkOptions {
  bool Console = true;   // standard error
  std::string FileName;  // "" for no file; appended to, created readable by the owner only
  TLogLevel Level = TLogLevel::Info;
};

// Writes entries as readable text lines to the console and/or a file. Lines of warnings and
// errors reach the file at once; the rest is buffered until Flush or the next warning.
class TTextLogSink : public ILogSink {
public:
  // Throws EFileError when the log file cannot be opened.
  explicit TTextLogSink(TTextLogSinkOptions AOptions);
  ~TTextLogSink() override;
  TTextLogSink(const TTextLogSink&) = delete;
  TTextLogSink& operator=(const TTextLogSink&) = delete;

  TLogLevel Level() const override;
  bool WantsObjectText() const override;
  void Write(const TLogEntry& AEntry) override;

  void Flush();

private:
  struct TState;
  std::unique_ptr<TState> FState;
};

}  // namespace Orvane
