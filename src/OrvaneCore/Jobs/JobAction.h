#pragma once

#include <string>
#include <vector>

#include "OrvaneCore/Data/TessraData.h"

namespace Orvane {

// What a job does. ExecutionId identifies one run towards the server; the processor sets it for
// scheduled jobs, and a manual job brings its own.
class TJobAction : public TTessraData {
public:
  std::string ClassName() const override { return "TJobAction"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  // The content this action stands for (the queue refuses a second job with the same content);
  // "" when the action does not say, and the job's identifier stands instead.
  virtual std::string GetContentId() const { return ""; }
  // Whether the action names what to run; a job whose action does not is not run.
  virtual bool GetIsInitialized() const { return true; }

  // Written by the processor's thread before the run and read by it; nobody else touches it while
  // the job runs.
  std::string ExecutionId;
};

// The action of agent tasks: which task runs. The agent-task services are all instantiated for it.
class TScannerJobAction : public TJobAction {
public:
  std::string ClassName() const override { return "TScannerJobAction"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;
  std::string GetContentId() const override { return AgentTaskId; }
  bool GetIsInitialized() const override { return !AgentTaskId.empty(); }

  // The sub-directory of the data directory that holds the files of this action class.
  static std::string StorageSubDirectory() { return "AgentTasks"; }

  // A host-side flag that agent-task jobs clear; the job service does not read it.
  bool IsPredefined = true;
  std::string AgentTaskId;
};

// A file scan: the paths it covers (files, or directories walked recursively).
class TFileScannerJobAction : public TScannerJobAction {
public:
  std::string ClassName() const override { return "TFileScannerJobAction"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  std::vector<std::string> Paths;
};

class TSoftwareScannerJobAction : public TScannerJobAction {
public:
  std::string ClassName() const override { return "TSoftwareScannerJobAction"; }
};

class TAviraScannerJobAction : public TScannerJobAction {
public:
  std::string ClassName() const override { return "TAviraScannerJobAction"; }
};

}  // namespace Orvane
