// tessra-agent run-task and tasks: each Linux agent task run once on this machine, the ones that
// have no implementation here, and a run cut short.

#include "AgentE2ESupport.h"

namespace Orvane::E2E {
namespace {

class AgentTasksE2ETest : public AgentE2ETest {
protected:
  std::vector<std::string> RunTask(std::vector<std::string> AArguments) const {
    std::vector<std::string> LArgs = {"run-task"};
    LArgs.insert(LArgs.end(), AArguments.begin(), AArguments.end());
    LArgs.insert(LArgs.end(), {"--data-dir", FDataDir.string()});
    return LArgs;
  }

  // The result document that run-task names on its last line.
  static TDataNode ReadResult(const std::string& AOut) {
    const std::string LMarker = "; result: ";
    const std::size_t LAt = AOut.rfind(LMarker);
    if (LAt == std::string::npos) return {};
    std::string LPath = AOut.substr(LAt + LMarker.size());
    LPath = LPath.substr(0, LPath.find('\n'));
    TXmlSerializer LSerializer;
    LSerializer.LoadFromFile(LPath);
    return LSerializer.ReadRoot();
  }

  static bool ListHas(const TDataNode* AList, const std::string& AMember, const std::string& AValue) {
    if (!AList) return false;
    for (const TDataNode& LItem : AList->Children)
      if (const TDataNode* LValue = LItem.Find(AMember); LValue && LValue->Text == AValue) return true;
    return false;
  }
};

TEST_F(AgentTasksE2ETest, SoftwareScannerListsThePackageManagerItself) {
  std::string LOut;
  std::string LErr;
  ASSERT_EQ(RunCommand(RunTask({"software scanner"}), "software", &LOut, &LErr), 0) << LOut << LErr;
  const TDataNode LRoot = ReadResult(LOut);
  EXPECT_EQ(LRoot.Name, "TSoftwareInventory") << LOut;
  EXPECT_TRUE(ListHas(LRoot.Find("Packages"), "Name", "dpkg")) << LOut;
}

TEST_F(AgentTasksE2ETest, FileScannerListsWhatItIsGivenAndFailsOnAPathThatIsNotThere) {
  const fs::path LTree = FWorkDir / "tree";
  fs::create_directories(LTree / "sub");
  WriteFile(LTree / "sub" / "found.txt", "twelve bytes");
  std::string LOut;
  std::string LErr;
  ASSERT_EQ(RunCommand(RunTask({"File Scanner", "--path", LTree.string()}), "files", &LOut, &LErr), 0)
      << LOut << LErr;
  TDataNode LRoot = ReadResult(LOut);
  EXPECT_EQ(LRoot.Name, "TFileInventory") << LOut;
  EXPECT_TRUE(ListHas(LRoot.Find("Files"), "Path", (LTree / "sub" / "found.txt").string())) << LOut;

  // A path that does not exist fails the run.
  const fs::path LMissing = FWorkDir / "no-such-dir";
  EXPECT_EQ(RunCommand(RunTask({"file scanner", "--path", LMissing.string(), "--path", LTree.string()}), "missing",
                       &LOut, &LErr),
            1);
  EXPECT_NE(LErr.find("File Scanner failed"), std::string::npos) << LErr;
  // --path belongs to the File Scanner only.
  EXPECT_EQ(RunCommand(RunTask({"software scanner", "--path", LTree.string()}), "misplaced"), 2);
}

TEST_F(AgentTasksE2ETest, LastUserScannerReadsTheLoginRecordsOrSaysWhyNot) {
  std::string LOut;
  std::string LErr;
  const int LCode = RunCommand(RunTask({"last user scanner"}), "lastuser", &LOut, &LErr);
  if (fs::exists("/var/log/wtmp")) {
    ASSERT_EQ(LCode, 0) << LOut << LErr;
    const TDataNode LRoot = ReadResult(LOut);
    EXPECT_EQ(LRoot.Name, "TLastUserInventory") << LOut;
    EXPECT_NE(LRoot.Find("UserFound"), nullptr);
  } else {
    // A machine without login records: a logged failure, not a crash.
    EXPECT_EQ(LCode, 1) << LOut << LErr;
    EXPECT_NE(LErr.find("/var/log/wtmp"), std::string::npos) << LErr;
  }
}

TEST_F(AgentTasksE2ETest, UnknownNamesTasksWithoutImplementationAndTheTaskList) {
  std::string LOut;
  std::string LErr;
  EXPECT_EQ(RunCommand(RunTask({"no such task"}), "unknown", &LOut, &LErr), 2);
  EXPECT_NE(LErr.find("no agent task is called \"no such task\""), std::string::npos) << LErr;

  EXPECT_EQ(RunCommand(RunTask({"{08a781af-fc85-4227-8d4f-5cca2ddc568e}"}), "windows", &LOut, &LErr), 1);
  EXPECT_NE(LErr.find("No agent task found with id: [{08A781AF-FC85-4227-8D4F-5CCA2DDC568E}]"), std::string::npos)
      << LErr;
  EXPECT_NE(LErr.find("Windows Updates Scanner has no implementation on this machine"), std::string::npos) << LErr;

  ASSERT_EQ(RunCommand({"tasks", "--data-dir", FDataDir.string()}, "tasks", &LOut, &LErr), 0) << LErr;
  std::vector<std::string> LRows;
  std::istringstream LLines(LOut);
  for (std::string LLine; std::getline(LLines, LLine);)
    if (!LLine.empty() && LLine[0] == '{') LRows.push_back(LLine);
  ASSERT_EQ(LRows.size(), 13u) << LOut;
  const auto LRowOf = [&](const std::string& AName) {
    for (const std::string& LRow : LRows)
      if (LRow.find("  " + AName + "  ") != std::string::npos) return LRow;
    return std::string();
  };
  for (const char* LName : {"Computer Scanner", "Software Scanner", "Last user Scanner", "File Scanner",
                            "Client Commands Scanner", "Settings watch", "Restart Tessra agent"})
    EXPECT_EQ(LRowOf(LName).substr(LRowOf(LName).size() - 3), "yes") << LName << "\n" << LOut;
  for (const char* LName : {"Windows Updates Scanner", "Security Scanner", "Rules", "Vulnerabilities Scanner",
                            "Avira Scanner", "Avira Configuration Scanner"})
    EXPECT_EQ(LRowOf(LName).substr(LRowOf(LName).size() - 2), "no") << LName << "\n" << LOut;
}

TEST_F(AgentTasksE2ETest, AStopCutsALongScanShort) {
  // The whole machine, /proc and /sys included: far more than a moment's work.
  TAgentProcess LScan(FWorkDir, RunTask({"file scanner", "--path", "/"}), "long");
  ASSERT_TRUE(LScan.WaitForOutput("tessra-agent: running File Scanner")) << LScan.Err();
  LScan.Signal(SIGTERM);
  EXPECT_EQ(LScan.WaitForExit(), 1) << LScan.Out() << LScan.Err();
  EXPECT_NE(LScan.Err().find("File Scanner was cut short"), std::string::npos) << LScan.Err();
  EXPECT_FALSE(fs::exists(FDataDir / "results" / "File Scanner")) << LScan.Out();
}

}  // namespace
}  // namespace Orvane::E2E
