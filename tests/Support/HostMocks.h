#pragma once

#include <gmock/gmock.h>

#include "JobServices/AgentTask/Dispatcher.Intf.h"
#include "OrvaneCore/Interfaces/JobExecStateReporter.Intf.h"

namespace Orvane::Testing {

class MockExecStateReporter : public IJobExecStateReporter {
public:
  MOCK_METHOD(bool, ReportJobStarted, (const std::string&, const std::string&, const std::string&), (override));
  MOCK_METHOD(void, ReportJobFinished, (const std::string&, const std::string&, TJobResult, const std::string&),
              (override));
};

class MockAgentTaskDispatcher : public IAgentTaskDispatcher {
public:
  MOCK_METHOD(bool, StartScanner, (const TJobPtr&, const TContinueCheck&), (override));
  MOCK_METHOD(bool, StartScanner, (const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&), (override));
  MOCK_METHOD(bool, ScanOnly, (const std::string&, const std::shared_ptr<TScannerJobAction>&, const std::string&),
              (override));
};

}  // namespace Orvane::Testing
