// Runs the real tessra-agent in a temporary data directory on a sped-up clock and checks what it
// prints and leaves behind. Every wait polls with a real-time bound; nothing asserts on a sleep.

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

#include "OrvaneCore/Time/Clock.h"
#include "OrvaneCore/Xml/XmlSerializer.h"

extern char** environ;

namespace Orvane {
namespace {

namespace fs = std::filesystem;

constexpr const char* CComputerScanJobId = "{6E0C9F43-2B7A-4C55-9E1D-3A8F0B6D2C71}";
constexpr const char* CShutdownScanJobId = "{9A4D2E18-7F36-4B0C-8C52-E61B7D3F0A94}";
constexpr const char* CManualJobId = "{5B7F3A21-0C4D-4E8A-9F61-2D3C4B5A6978}";
constexpr const char* CManualExecutionId = "{0E3D2C1B-4A59-4687-B8C9-DAEBFC0D1E2F}";
constexpr const char* CDelayedJobId = "{7C1D9E52-3A64-4B08-A1F7-5E2B8C9D0A13}";
constexpr const char* CSecondManualJobId = "{8D2E0F63-4B75-4C19-B208-6F3C9D0E1B24}";
constexpr const char* CSecondExecutionId = "{1F4E3D2C-5B6A-4798-C9DA-EBFC0D1E2F30}";

// A bounded real-time window for what the sped-up agent does within "seconds".
constexpr double CWaitSeconds = 20.0;

std::string ReadFile(const fs::path& APath) {
  std::ifstream LStream(APath);
  std::stringstream LText;
  LText << LStream.rdbuf();
  return LText.str();
}

void WriteFile(const fs::path& APath, const std::string& AText) {
  std::ofstream LStream(APath, std::ios::trunc);
  LStream << AText;
}

// Polls APredicate until it holds or the real-time bound passes.
bool PollFor(const std::function<bool()>& APredicate, double ASeconds = CWaitSeconds) {
  const TMonoTime LDeadline =
      TClock::RealMonotonic() + TMonoTime(static_cast<int64_t>(ASeconds * 1e9));
  while (!APredicate()) {
    if (TClock::RealMonotonic() > LDeadline) return false;
    Clock().SleepMs(20);
  }
  return true;
}

std::string ManualJobXml(const std::string& AIdentifier, const std::string& AExecutionId,
                         const std::string& AConditions = "") {
  return "  <TJob>\n    <Identifier>" + AIdentifier + "</Identifier>\n    <DisplayText>Manual scan " +
         AIdentifier +
         "</DisplayText>\n    <IsManual>true</IsManual>\n    <ItemKind>11</ItemKind>\n"
         "    <JobAction Class=\"TScannerJobAction\">\n      <ExecutionId>" +
         AExecutionId +
         "</ExecutionId>\n      <AgentTaskId>{B3A5474A-E933-4CC0-8567-C80F6591AC19}</AgentTaskId>\n"
         "    </JobAction>\n" +
         (AConditions.empty() ? std::string()
                              : "    <StartCondition Class=\"TStartConditionFacade\"><Conditions>" +
                                    AConditions + "</Conditions></StartCondition>\n") +
         "  </TJob>\n";
}

// The settings watch every 5 minutes: it makes the agent ask for its job list again.
std::string SettingsWatchXml() {
  return "  <TJob>\n    <Identifier>{2F8B6C3D-91E4-4A7F-B0D5-C47E18A9F263}</Identifier>\n"
         "    <DisplayText>Settings watch</DisplayText>\n    <ItemKind>11</ItemKind>\n"
         "    <JobAction Class=\"TScannerJobAction\"><AgentTaskId>{EE727092-AD9C-42F3-B73D-053CAD48C72B}"
         "</AgentTaskId></JobAction>\n"
         "    <StartCondition Class=\"TStartConditionFacade\"><Conditions><Item "
         "Class=\"TStartConditionInterval\">"
         "<IntervalValue>5</IntervalValue></Item></Conditions></StartCondition>\n  </TJob>\n";
}

std::string JobListXml(const std::string& AJobs) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TJobList>\n" + AJobs + "</TJobList>\n";
}

// One run of the agent, its output captured in files of the test's directory.
class TAgentProcess {
public:
  TAgentProcess(const fs::path& AWorkDir, std::vector<std::string> AArguments,
                const std::string& ATag = "agent")
      : FOut(AWorkDir / (ATag + ".out")), FErr(AWorkDir / (ATag + ".err")) {
    std::vector<std::string> LArgs = {TESSRA_AGENT_BINARY};
    LArgs.insert(LArgs.end(), AArguments.begin(), AArguments.end());
    std::vector<char*> LArgv;
    for (std::string& LArg : LArgs) LArgv.push_back(LArg.data());
    LArgv.push_back(nullptr);
    posix_spawn_file_actions_t LActions;
    posix_spawn_file_actions_init(&LActions);
    posix_spawn_file_actions_addopen(&LActions, STDOUT_FILENO, FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&LActions, STDERR_FILENO, FErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    // The child starts with no signal blocked, whatever the test runner's mask is.
    posix_spawnattr_t LAttributes;
    posix_spawnattr_init(&LAttributes);
    sigset_t LEmpty;
    sigemptyset(&LEmpty);
    posix_spawnattr_setsigmask(&LAttributes, &LEmpty);
    posix_spawnattr_setflags(&LAttributes, POSIX_SPAWN_SETSIGMASK);
    const int LError = posix_spawn(&FPid, LArgv[0], &LActions, &LAttributes, LArgv.data(), environ);
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

  // The exit code, or -1 when the process did not end within the bound (or died of a signal).
  int WaitForExit(double ASeconds = CWaitSeconds) {
    int LStatus = 0;
    const bool LEnded = PollFor(
        [&] {
          const pid_t LDone = waitpid(FPid, &LStatus, WNOHANG);
          return LDone == FPid;
        },
        ASeconds);
    if (!LEnded) return -1;
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
    if (!HasFailure()) {
      std::error_code LError;
      fs::remove_all(FWorkDir, LError);
    } else {
      std::cerr << "kept for inspection: " << FWorkDir << "\n";
    }
  }

  std::vector<std::string> RunArguments(std::vector<std::string> AExtra = {}) const {
    std::vector<std::string> LArgs = {"run",         "--data-dir", FDataDir.string(), "--time-scale", "60",
                                      "--log-level", "info"};
    LArgs.insert(LArgs.end(), AExtra.begin(), AExtra.end());
    return LArgs;
  }

  fs::path ServerFile(const std::string& AName) const { return FDataDir / "server" / AName; }

  // A run that logs at trace level, so that the end of its first turn shows: the job list was
  // fetched and the queue handed to the notifier before the dispatcher's first pass begins.
  std::vector<std::string> TraceRunArguments(std::vector<std::string> AExtra) const {
    std::vector<std::string> LArgs = RunArguments(std::move(AExtra));
    LArgs[6] = "trace";
    return LArgs;
  }
  static bool WaitForFirstTurn(const TAgentProcess& AAgent) {
    return PollFor([&] { return AAgent.Err().find("Enter ProcessQueue") != std::string::npos; });
  }

  fs::path FWorkDir;
  fs::path FDataDir;
};

TEST_F(AgentE2ETest, ScannerRunsAtStartAndWritesWellFormedResult) {
  TAgentProcess LAgent(FWorkDir, RunArguments());
  ASSERT_TRUE(LAgent.Started());
  ASSERT_TRUE(
      LAgent.WaitForOutput(std::string("done                   Computer Scanner ") + CComputerScanJobId))
      << LAgent.Out() << LAgent.Err();
  const fs::path LResults = FDataDir / "results" / "Computer Scanner";
  std::vector<fs::path> LFiles;
  for (const auto& LEntry : fs::directory_iterator(LResults)) LFiles.push_back(LEntry.path());
  ASSERT_FALSE(LFiles.empty());

  TXmlSerializer LSerializer;
  LSerializer.LoadFromFile(LFiles.front().string());
  const TDataNode LRoot = LSerializer.ReadRoot();
  EXPECT_EQ(LRoot.Name, "TComputerInventory");
  ASSERT_NE(LRoot.Find("HostName"), nullptr);
  EXPECT_FALSE(LRoot.Find("HostName")->Text.empty());
  ASSERT_NE(LRoot.Find("CpuCount"), nullptr);
  EXPECT_GT(std::stoi(LRoot.Find("CpuCount")->Text), 0);
  ASSERT_NE(LRoot.Find("FileSystems"), nullptr);
  EXPECT_FALSE(LRoot.Find("FileSystems")->Children.empty());
  ASSERT_NE(LRoot.Find("NetworkInterfaces"), nullptr);
  EXPECT_FALSE(LRoot.Find("NetworkInterfaces")->Children.empty());

  LAgent.Signal(SIGINT);
  EXPECT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  EXPECT_TRUE(LAgent.OutContains("tessra-agent: stopped"));
}

TEST_F(AgentE2ETest, SigtermRunsTheShutdownJobBeforeTheProcessEnds) {
  TAgentProcess LAgent(FWorkDir, RunArguments());
  ASSERT_TRUE(
      LAgent.WaitForOutput(std::string("done                   Computer Scanner ") + CComputerScanJobId))
      << LAgent.Out() << LAgent.Err();
  EXPECT_FALSE(LAgent.OutContains(CShutdownScanJobId));

  LAgent.Signal(SIGTERM);
  ASSERT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  const std::string LOut = LAgent.Out();
  const std::size_t LShutdownDone =
      LOut.find(std::string("done                   Computer Scanner at shutdown ") + CShutdownScanJobId);
  ASSERT_NE(LShutdownDone, std::string::npos) << LOut;
  EXPECT_LT(LShutdownDone, LOut.find("tessra-agent: shut down"));
}

TEST_F(AgentE2ETest, SecondAgentOnTheSameDataDirectoryExitsWithUsageError) {
  TAgentProcess LFirst(FWorkDir, RunArguments(), "first");
  ASSERT_TRUE(LFirst.WaitForOutput("tessra-agent running"));
  TAgentProcess LSecond(FWorkDir, RunArguments(), "second");
  EXPECT_EQ(LSecond.WaitForExit(), 2);
  EXPECT_NE(LSecond.Err().find("Another tessra-agent is already running"), std::string::npos)
      << LSecond.Err();

  LFirst.Signal(SIGINT);
  EXPECT_EQ(LFirst.WaitForExit(), 0);
}

TEST_F(AgentE2ETest, BadUsageAndBadInputExitWithCode2) {
  TAgentProcess LUnknown(FWorkDir, {"run", "--no-such-option"}, "unknown");
  EXPECT_EQ(LUnknown.WaitForExit(), 2);
  EXPECT_NE(LUnknown.Err().find("--no-such-option"), std::string::npos);

  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, "<TJobList><TJob><Identifier>x</Identifier>");
  TAgentProcess LBadJobs(FWorkDir, RunArguments({"--jobs", LJobs.string()}), "badjobs");
  EXPECT_EQ(LBadJobs.WaitForExit(), 2);
  EXPECT_NE(LBadJobs.Err().find("the jobs file " + LJobs.string() + " cannot be used"), std::string::npos)
      << LBadJobs.Err();
  EXPECT_FALSE(LBadJobs.OutContains("tessra-agent running"));

  // A plain file where the data directory should be.
  WriteFile(FWorkDir / "not-a-dir", "");
  TAgentProcess LBadDir(FWorkDir, {"run", "--data-dir", (FWorkDir / "not-a-dir" / "data").string()},
                        "baddir");
  EXPECT_EQ(LBadDir.WaitForExit(), 2);
  EXPECT_NE(LBadDir.Err().find("cannot create the data directory"), std::string::npos) << LBadDir.Err();

  TAgentProcess LHelp(FWorkDir, {"run", "--help"}, "help");
  EXPECT_EQ(LHelp.WaitForExit(), 0);
  EXPECT_TRUE(LHelp.OutContains("--time-scale"));
}

TEST_F(AgentE2ETest, ManualJobAbortedOnTheServerIsNotRunAndDoesNotComeBack) {
  fs::create_directories(FDataDir / "server");
  fs::permissions(FDataDir, fs::perms::owner_all, fs::perm_options::replace);
  WriteFile(ServerFile("aborted"), std::string(CManualExecutionId) + "\n");
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(ManualJobXml(CManualJobId, CManualExecutionId) + SettingsWatchXml()));

  {
    TAgentProcess LAgent(FWorkDir, RunArguments({"--jobs", LJobs.string()}), "run1");
    ASSERT_TRUE(LAgent.WaitForOutput(std::string("aborted                Manual scan ") + CManualJobId))
        << LAgent.Out() << LAgent.Err();
    EXPECT_TRUE(PollFor([&] {
      return ReadFile(ServerFile("reports.log")).find(std::string("aborted ") + CManualExecutionId) !=
             std::string::npos;
    }));
    LAgent.Signal(SIGINT);
    ASSERT_EQ(LAgent.WaitForExit(), 0);
    // The processor ends the job ("done") without running it: no scan, no finish report.
    EXPECT_EQ(LAgent.Err().find("Computer Scanner result:"), std::string::npos) << LAgent.Err();
    EXPECT_EQ(ReadFile(ServerFile("reports.log")).find("finished"), std::string::npos);
  }
  // A new start: the server handed the job out already and does not hand it out again.
  TAgentProcess LAgain(FWorkDir, TraceRunArguments({"--jobs", LJobs.string()}), "run2");
  ASSERT_TRUE(WaitForFirstTurn(LAgain)) << LAgain.Err();
  LAgain.Signal(SIGINT);
  ASSERT_EQ(LAgain.WaitForExit(), 0);
  EXPECT_FALSE(LAgain.OutContains(CManualJobId)) << LAgain.Out();
}

TEST_F(AgentE2ETest, ManualJobCancelledOnTheServerIsAbortedLocally) {
  fs::create_directories(FDataDir / "server");
  fs::permissions(FDataDir, fs::perms::owner_all, fs::perm_options::replace);
  WriteFile(ServerFile("cancelled"), std::string(CDelayedJobId) + "\n");
  // Due 5 minutes after it arrives (5 seconds here): the next reload, which the settings watch at
  // start brings, finds it cancelled first.
  const std::string LDelay =
      "<Item Class=\"TStartConditionOnDelay\"><DelayValue>5</DelayValue><ValueUnit>0</ValueUnit></Item>";
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(ManualJobXml(CDelayedJobId, "", LDelay) + SettingsWatchXml()));
  const fs::path LLog = FWorkDir / "agent.log";

  // The abort is logged with the job attached, which the debug level shows.
  std::vector<std::string> LArgs = RunArguments({"--jobs", LJobs.string(), "--log-file", LLog.string()});
  LArgs[6] = "debug";
  TAgentProcess LAgent(FWorkDir, LArgs);
  ASSERT_TRUE(LAgent.WaitForOutput("done                   Settings watch")) << LAgent.Out() << LAgent.Err();
  EXPECT_TRUE(PollFor([&] {
    return ReadFile(LLog).find("Aborted manual job: Manual scan " + std::string(CDelayedJobId)) !=
           std::string::npos;
  }));
  LAgent.Signal(SIGINT);
  ASSERT_EQ(LAgent.WaitForExit(), 0);
  EXPECT_FALSE(LAgent.OutContains(std::string("handed to a processor  Manual scan ") + CDelayedJobId));
  // Gone from the saved manual jobs as well.
  EXPECT_EQ(ReadFile(FDataDir / "Orvane" / "Tessra" / "AgentTasks" / "ManualJobsInJobListProvider.xml")
                .find(CDelayedJobId),
            std::string::npos);
}

TEST_F(AgentE2ETest, EditedJobsFileIsMergedAtTheNextReloadAndABrokenOneIsSurvived) {
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(SettingsWatchXml()));
  // 5 minutes of the settings watch are 2.5 seconds here.
  std::vector<std::string> LArgs = RunArguments({"--jobs", LJobs.string()});
  LArgs[4] = "120";
  TAgentProcess LAgent(FWorkDir, LArgs);
  ASSERT_TRUE(LAgent.WaitForOutput("done                   Settings watch")) << LAgent.Out() << LAgent.Err();

  // A broken file: the next reload logs it and keeps the last good list; the agent keeps running.
  WriteFile(LJobs, "<TJobList><TJob>");
  ASSERT_TRUE(PollFor([&] {
    return LAgent.Err().find("cannot be read; the last job list read is used") != std::string::npos;
  })) << LAgent.Err();

  // Repaired with a new manual job: merged at the reload after that.
  WriteFile(LJobs, JobListXml(ManualJobXml(CSecondManualJobId, CSecondExecutionId) + SettingsWatchXml()));
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Manual scan ") + CSecondManualJobId))
      << LAgent.Out() << LAgent.Err();
  EXPECT_TRUE(PollFor([&] {
    return ReadFile(ServerFile("reports.log")).find(std::string("finished ") + CSecondExecutionId) !=
           std::string::npos;
  }));
  LAgent.Signal(SIGINT);
  EXPECT_EQ(LAgent.WaitForExit(), 0);
  EXPECT_NE(ReadFile(ServerFile("handed-out")).find(CSecondExecutionId), std::string::npos);
}

TEST_F(AgentE2ETest, StopAndNewStartHandOutNoManualJobTwice) {
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(ManualJobXml(CManualJobId, CManualExecutionId) + SettingsWatchXml()));
  {
    TAgentProcess LAgent(FWorkDir, RunArguments({"--jobs", LJobs.string()}), "run1");
    ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Manual scan ") + CManualJobId))
        << LAgent.Out() << LAgent.Err();
    LAgent.Signal(SIGINT);
    ASSERT_EQ(LAgent.WaitForExit(), 0);
  }
  TAgentProcess LAgain(FWorkDir, TraceRunArguments({"--jobs", LJobs.string()}), "run2");
  ASSERT_TRUE(WaitForFirstTurn(LAgain)) << LAgain.Err();
  LAgain.Signal(SIGINT);
  ASSERT_EQ(LAgain.WaitForExit(), 0);
  EXPECT_FALSE(LAgain.OutContains(CManualJobId)) << LAgain.Out();
  const std::string LReports = ReadFile(ServerFile("reports.log"));
  const std::string LStarted = std::string("started ") + CManualExecutionId;
  ASSERT_NE(LReports.find(LStarted), std::string::npos);
  EXPECT_EQ(LReports.find(LStarted, LReports.find(LStarted) + 1), std::string::npos) << LReports;
}

TEST_F(AgentE2ETest, RestartTaskStopsTheAgentAndSaysSo) {
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs,
            JobListXml("  <TJob>\n    <Identifier>{AB000000-0000-0000-0000-000000000001}</Identifier>\n"
                       "    <DisplayText>Restart Tessra agent</DisplayText>\n    <IsManual>true</IsManual>\n"
                       "    <JobAction Class=\"TScannerJobAction\"><AgentTaskId>"
                       "{D1831D0F-0620-4A5C-A0BE-0EBE5F41D040}</AgentTaskId></JobAction>\n  </TJob>\n"));
  TAgentProcess LAgent(FWorkDir, RunArguments({"--jobs", LJobs.string()}));
  // No signal: the restart request alone ends the process.
  ASSERT_EQ(LAgent.WaitForExit(), 0) << LAgent.Out() << LAgent.Err();
  const std::string LOut = LAgent.Out();
  EXPECT_NE(LOut.find("done                   Restart Tessra agent"), std::string::npos) << LOut;
  EXPECT_NE(LOut.find("an agent restart was requested"), std::string::npos) << LOut;
}

}  // namespace
}  // namespace Orvane
