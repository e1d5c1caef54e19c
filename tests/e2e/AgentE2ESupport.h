#pragma once

// What the end-to-end tests share: the real tessra-agent run in a temporary data directory on a
// sped-up clock, its output captured in files. Every wait polls with a real-time bound; nothing
// asserts on a sleep.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "DefaultJobList.h"
#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Time/Clock.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/FileText.h"

extern char** environ;

namespace Orvane::E2E {

namespace fs = std::filesystem;

inline constexpr const char* CManualJobId = "{5B7F3A21-0C4D-4E8A-9F61-2D3C4B5A6978}";
inline constexpr const char* CManualExecutionId = "{0E3D2C1B-4A59-4687-B8C9-DAEBFC0D1E2F}";
inline constexpr const char* CDelayedJobId = "{7C1D9E52-3A64-4B08-A1F7-5E2B8C9D0A13}";
inline constexpr const char* CSecondManualJobId = "{8D2E0F63-4B75-4C19-B208-6F3C9D0E1B24}";
inline constexpr const char* CSecondExecutionId = "{1F4E3D2C-5B6A-4798-C9DA-EBFC0D1E2F30}";

// A bounded real-time window for what the sped-up agent does within "seconds".
inline constexpr double CWaitSeconds = 20.0;

// Paths convert to the strings these take.
using Testing::ReadFile, Testing::WriteFile;

// Polls APredicate until it holds or the real-time bound passes.
inline bool PollFor(const std::function<bool()>& APredicate, double ASeconds = CWaitSeconds) {
  const TMonoTime LDeadline = TClock::RealMonotonic() + TMonoTime(static_cast<int64_t>(ASeconds * 1e9));
  for (; !APredicate(); Clock().SleepMs(20))
    if (TClock::RealMonotonic() > LDeadline) return false;
  return true;
}

inline std::string ManualJobXml(const std::string& AIdentifier, const std::string& AExecutionId,
                                const std::string& AConditions = "",
                                std::string_view ATaskId = CComputerScannerId) {
  return "  <TJob>\n    <Identifier>" + AIdentifier + "</Identifier>\n    <DisplayText>Manual scan " +
         AIdentifier +
         "</DisplayText>\n    <IsManual>true</IsManual>\n    <ItemKind>11</ItemKind>\n"
         "    <JobAction Class=\"TScannerJobAction\">\n      <ExecutionId>" +
         AExecutionId +
         "</ExecutionId>\n      <AgentTaskId>" + std::string(ATaskId) + "</AgentTaskId>\n"
         "    </JobAction>\n" +
         (AConditions.empty() ? std::string()
                              : "    <StartCondition Class=\"TStartConditionFacade\"><Conditions>" +
                                    AConditions + "</Conditions></StartCondition>\n") +
         "  </TJob>\n";
}

// The settings watch every 5 minutes: it makes the agent ask for its job list again.
inline std::string SettingsWatchXml() {
  return "  <TJob>\n    <Identifier>{2F8B6C3D-91E4-4A7F-B0D5-C47E18A9F263}</Identifier>\n"
         "    <DisplayText>Settings watch</DisplayText>\n    <ItemKind>11</ItemKind>\n"
         "    <JobAction Class=\"TScannerJobAction\"><AgentTaskId>{EE727092-AD9C-42F3-B73D-053CAD48C72B}"
         "</AgentTaskId></JobAction>\n"
         "    <StartCondition Class=\"TStartConditionFacade\"><Conditions><Item "
         "Class=\"TStartConditionInterval\">"
         "<IntervalValue>5</IntervalValue></Item></Conditions></StartCondition>\n  </TJob>\n";
}

inline std::string JobListXml(const std::string& AJobs) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TJobList>\n" + AJobs + "</TJobList>\n";
}

// One run of the agent, its output captured in files of the test's directory.
class TAgentProcess {
public:
  // AEnvironment: NAME=VALUE entries added to the test's own environment.
  // AProgram: another copy of the program to run.
  TAgentProcess(const fs::path& AWorkDir, std::vector<std::string> AArguments,
                const std::string& ATag = "agent", std::vector<std::string> AEnvironment = {},
                const std::string& AProgram = TESSRA_AGENT_BINARY)
      : FOut(AWorkDir / (ATag + ".out")), FErr(AWorkDir / (ATag + ".err")) {
    AArguments.insert(AArguments.begin(), AProgram);
    std::vector<char*> LArgv;
    for (std::string& LArg : AArguments) LArgv.push_back(LArg.data());
    LArgv.push_back(nullptr);
    posix_spawn_file_actions_t LActions;
    posix_spawn_file_actions_init(&LActions);
    for (const auto& [LFd, LFile] : {std::pair(STDOUT_FILENO, &FOut), std::pair(STDERR_FILENO, &FErr)})
      posix_spawn_file_actions_addopen(&LActions, LFd, LFile->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // The child starts with no signal blocked, whatever the test runner's mask is.
    posix_spawnattr_t LAttributes;
    posix_spawnattr_init(&LAttributes);
    sigset_t LEmpty;
    sigemptyset(&LEmpty);
    posix_spawnattr_setsigmask(&LAttributes, &LEmpty);
    posix_spawnattr_setflags(&LAttributes, POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> LEnvironment;
    for (char** LEntry = environ; *LEntry; ++LEntry) LEnvironment.push_back(*LEntry);
    for (std::string& LEntry : AEnvironment) LEnvironment.push_back(LEntry.data());
    LEnvironment.push_back(nullptr);
    const int LError = posix_spawn(&FPid, LArgv[0], &LActions, &LAttributes, LArgv.data(), LEnvironment.data());
    posix_spawn_file_actions_destroy(&LActions);
    posix_spawnattr_destroy(&LAttributes);
    if (LError != 0) FPid = -1;
  }
  ~TAgentProcess() {
    if (FPid > 0 && !FExited) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
  }

  bool Started() const { return FPid > 0; }
  std::string Out() const { return ReadFile(FOut); }
  std::string Err() const { return ReadFile(FErr); }
  bool OutContains(const std::string& AText) const { return Out().find(AText) != std::string::npos; }
  bool WaitForOutput(const std::string& AText) const {
    return PollFor([&] { return OutContains(AText); });
  }
  void Signal(int ASignal) const { kill(FPid, ASignal); }
  pid_t Pid() const { return FPid; }

  // The exit code, or -1 when the process did not end within the bound (or died of a signal).
  int WaitForExit(double ASeconds = CWaitSeconds) {
    int LStatus = 0;
    if (!PollFor([&] { return waitpid(FPid, &LStatus, WNOHANG) == FPid; }, ASeconds)) return -1;
    FExited = true;
    return WIFEXITED(LStatus) ? WEXITSTATUS(LStatus) : -1;
  }

private:
  fs::path FOut;
  fs::path FErr;
  pid_t FPid = -1;
  bool FExited = false;
};

class AgentE2ETest : public ::testing::Test {
protected:
  void SetUp() override {
    char LTemplate[] = "/tmp/tessra-agent-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(LTemplate), nullptr);
    FWorkDir = LTemplate;
    FDataDir = FWorkDir / "data";
  }
  void TearDown() override {
    std::error_code LError;
    if (HasFailure())
      std::cerr << "kept for inspection: " << FWorkDir << "\n";
    else
      fs::remove_all(FWorkDir, LError);
  }

  std::vector<std::string> RunArguments(std::vector<std::string> AExtra = {}) const {
    AExtra.insert(AExtra.begin(),
                  {"run", "--data-dir", FDataDir.string(), "--time-scale", "60", "--log-level", "info"});
    return AExtra;
  }

  fs::path ServerFile(const std::string& AName) const { return FDataDir / "server" / AName; }

  // A run that logs at trace level, so that the end of its first turn shows: the job list was
  // fetched and the queue handed to the notifier before the dispatcher's first pass begins.
  std::vector<std::string> TraceRunArguments(std::vector<std::string> AExtra) const {
    std::vector<std::string> LArgs = RunArguments(std::move(AExtra));
    LArgs[6] = "trace";
    return LArgs;
  }
  // Runs a command of the program to its end: its exit code, with its standard output in AOut and
  // its standard error in AErr.
  int RunCommand(const std::vector<std::string>& AArguments, const std::string& ATag, std::string* AOut = nullptr,
                 std::string* AErr = nullptr) {
    TAgentProcess LCommand(FWorkDir, AArguments, ATag);
    const int LCode = LCommand.WaitForExit();
    if (AOut) *AOut = LCommand.Out();
    if (AErr) *AErr = LCommand.Err();
    return LCode;
  }
  std::vector<std::string> Ctl(std::vector<std::string> ACommand) const {
    ACommand.insert(ACommand.begin(), {"ctl", "--data-dir", FDataDir.string()});
    return ACommand;
  }
  static bool WaitForFirstTurn(const TAgentProcess& AAgent) {
    return PollFor([&] { return AAgent.Err().find("Enter ProcessQueue") != std::string::npos; });
  }

  fs::path FWorkDir;
  fs::path FDataDir;
};

}  // namespace Orvane::E2E
