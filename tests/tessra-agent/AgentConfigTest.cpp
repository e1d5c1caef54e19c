#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <sstream>

#include "AgentConfig.h"
#include "Support/FileText.h"
#include "Support/TempDir.h"

using namespace Orvane;

namespace {

// A command line shaped like the agent's, parsed with its configuration file: run with a few kinds
// of option, ctl with a subcommand.
struct TAgentCommandLine {
  explicit TAgentCommandLine(std::vector<std::string> AArgs) {
    App.require_subcommand(1);
    Run->add_option("--data-dir", DataDir);
    Run->add_option("--log-level", LogLevel)->check(CLI::IsMember({"info", "warning"}));
    Run->add_option("--time-scale", TimeScale)->check(CLI::PositiveNumber);
    Ctl->add_option("--data-dir", CtlDataDir);
    Ctl->require_subcommand(1);
    Ctl->add_subcommand("status");
    TAgentConfigFile LConfig(App, *Run, {Ctl});
    AArgs.insert(AArgs.begin(), "agent");
    std::vector<const char*> LArgv;
    for (const std::string& LArg : AArgs) LArgv.push_back(LArg.c_str());
    Result = LConfig.Parse(static_cast<int>(LArgv.size()), LArgv.data(), Out, Err);
  }

  CLI::App App{"agent"};
  CLI::App* Run = App.add_subcommand("run");
  CLI::App* Ctl = App.add_subcommand("ctl");
  std::string DataDir, LogLevel = "info", CtlDataDir;
  double TimeScale = 1;
  std::ostringstream Out, Err;
  std::optional<int> Result;
};

}  // namespace

TEST(AgentConfigTest, FileValuesReachTheCommandThatRunsAndTheCommandLineWins) {
  Testing::TTempDir LDir;
  const std::string LFile = LDir.Path() + "/agent.conf";
  // time-scale is refused by its check, but the command line's value is the one taken.
  Testing::WriteFile(LFile,
                     "# the fleet's settings\ndata-dir = \"/srv/agent\"\nlog-level = warning\ncolour = blue\n"
                     "time-scale = 0\n");

  TAgentCommandLine LRun({"run", "--config", LFile, "--time-scale", "2"});
  EXPECT_EQ(LRun.Result, std::nullopt) << LRun.Err.str();
  EXPECT_EQ(LRun.DataDir, "/srv/agent");
  EXPECT_EQ(LRun.LogLevel, "warning");
  EXPECT_EQ(LRun.TimeScale, 2);
  EXPECT_NE(LRun.Err.str().find(LFile + ":4: unknown key \"colour\" is ignored"), std::string::npos) << LRun.Err.str();

  // ctl takes the key it shares with run and passes over run's own in silence.
  TAgentCommandLine LCtl({"ctl", "status", "--config", LFile});
  EXPECT_EQ(LCtl.Result, std::nullopt) << LCtl.Err.str();
  EXPECT_EQ(LCtl.CtlDataDir, "/srv/agent");
  EXPECT_EQ(LCtl.Err.str().find("log-level"), std::string::npos) << LCtl.Err.str();

  // A fault of the command line stays the command line's, whatever the file holds.
  TAgentCommandLine LBadOption({"run", "--config", LFile, "--log-level", "loud"});
  EXPECT_EQ(LBadOption.Result, 2);
  EXPECT_EQ(LBadOption.Err.str().find(LFile), std::string::npos) << LBadOption.Err.str();

  // Every key is printed: from the file, from the command line, and the defaults.
  TAgentCommandLine LPrint(
      {"run", "--config", LFile, "--print-config", "--log-level", "info", "--time-scale", "3"});
  EXPECT_EQ(LPrint.Result, 0);
  EXPECT_EQ(LPrint.Out.str(), "data-dir=\"/srv/agent\"\nlog-level=\"info\"\ntime-scale=3\n");
}

TEST(AgentConfigTest, AMalformedFileIsAUsageErrorNamingTheFileTheKeyAndItsLine) {
  struct TCase {
    std::string Content, Key;
    int Line;
  };
  const std::vector<TCase> LCases = {
      {"log-level = loud\n", "log-level", 1},
      {"# comment\ndata-dir = /d\n\n  time-scale = fast\n", "time-scale", 4},
      {"data-dir = /a\ndata-dir = /b\n", "data-dir", 1},  // a key given twice
      {"data-dir = /a b\n", "data-dir", 1},               // spaces need quotes
  };
  Testing::TTempDir LDir;
  const std::string LFile = LDir.Path() + "/agent.conf";
  // What the error names: the file, then the key and its line.
  const auto LRefused = [&](const std::string& AFile, const std::string& AError) {
    TAgentCommandLine LCommand({"run", "--config", AFile});
    EXPECT_EQ(LCommand.Result, 2) << AFile;
    EXPECT_NE(LCommand.Err.str().find(AError), std::string::npos) << LCommand.Err.str();
  };
  for (const TCase& LCase : LCases) {
    Testing::WriteFile(LFile, LCase.Content);
    LRefused(LFile, LFile + ":" + std::to_string(LCase.Line) + ": key \"" + LCase.Key + "\"");
  }
  for (const std::string& LFile : {LDir.Path() + "/missing.conf", LDir.Path()})
    LRefused(LFile, "cannot read the configuration file " + LFile);
}
