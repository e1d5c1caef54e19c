#pragma once

#include <gtest/gtest.h>

#include <string>

#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "Support/LogCapture.h"

namespace Orvane::Testing {

using K = TLogEntryKind;

// Records everything the process logger writes during a test; no sink outlives the test.
class TLoggerTest : public ::testing::Test {
protected:
  IOrvaneLogger& Log() { return *OrvaneLogger(); }

  TLogCapture FRecording;
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
