#pragma once

#include <memory>

#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"

namespace Orvane::Testing {

// Records what the code under test logs for as long as it lives: the process's log sinks are
// replaced by one recording sink and removed again at the end. A fixture holds one as a member
// (FLog->Contains(...)).
class TLogCapture {
public:
  TLogCapture() {
    RemoveAllLogSinks();
    AddLogSink(FSink);
  }
  ~TLogCapture() { RemoveAllLogSinks(); }
  TLogCapture(const TLogCapture&) = delete;
  TLogCapture& operator=(const TLogCapture&) = delete;

  TRecordingLogSink* operator->() const { return FSink.get(); }

private:
  const std::shared_ptr<TRecordingLogSink> FSink = std::make_shared<TRecordingLogSink>();
};

}  // namespace Orvane::Testing
