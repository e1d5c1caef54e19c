#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"

namespace Orvane::Testing {

// Records everything the process logger writes during a test; no sink outlives the test.
class TLoggerTest : public ::testing::Test {
protected:
  void SetUp() override {
    RemoveAllLogSinks();
    FRecording = std::make_shared<TRecordingLogSink>();
    AddLogSink(FRecording);
  }
  void TearDown() override { RemoveAllLogSinks(); }

  IOrvaneLogger& Log() { return *OrvaneLogger(); }

  std::shared_ptr<TRecordingLogSink> FRecording;
};

// An object whose log text reflects its current state.
class TLoggedJob : public TOrvaneObject {
public:
  explicit TLoggedJob(std::string AState) : FState(std::move(AState)) {}
  std::string ClassName() const override { return "TLoggedJob"; }
  std::string LogText() const override { return "<Job State=\"" + FState + "\"/>"; }

private:
  std::string FState;
};

}  // namespace Orvane::Testing
