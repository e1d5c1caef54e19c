#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "JobServices/AgentTask/ScannerResources.h"

namespace Orvane {
namespace {

using ::testing::ElementsAre;

template <std::size_t N>
std::vector<std::string> NamesOf(const std::array<std::string_view, N>& AIds) {
  std::vector<std::string> LNames;
  for (std::string_view LId : AIds) LNames.push_back(GetAgentTaskName(LId));
  return LNames;
}

TEST(ScannerResourcesTest, EnqueueAllAndNonRegularListsNameTheirTasksInOrder) {
  EXPECT_THAT(
      NamesOf(CEnqueueAllAgentTaskIds),
      ElementsAre("Computer Scanner", "Software Scanner", "Windows Updates Scanner", "Security Scanner",
                  "Rules", "Client Commands Scanner", "Last user Scanner", "File Scanner"));
  EXPECT_THAT(NamesOf(CNonRegularAgentTaskIds), ElementsAre("Restart Tessra agent", "Settings watch"));
}

TEST(ScannerResourcesTest, NamesAreFoundByExactIdOnly) {
  EXPECT_EQ(GetAgentTaskName("{0D2B8D0A-0A1E-4669-AD9C-4A589A3DE402}"), "Vulnerabilities Scanner");
  EXPECT_EQ(GetAgentTaskName("{DC5FBA18-C580-49E8-A0A9-9407EB83B2FE}"), "Avira Scanner");
  EXPECT_EQ(GetAgentTaskName("{618CA3BE-5F82-4C99-AB31-254E81096110}"), "Avira Configuration Scanner");
  EXPECT_EQ(GetAgentTaskName("{ee727092-ad9c-42f3-b73d-053cad48c72b}"), "");
  EXPECT_EQ(GetAgentTaskName("EE727092-AD9C-42F3-B73D-053CAD48C72B"), "");
  EXPECT_EQ(GetAgentTaskName(CExcludedAgentTaskContentId), "");
  EXPECT_EQ(GetAgentTaskName(""), "");
}

TEST(ScannerResourcesTest, DefaultActionHasTheClassOfItsTaskAndNamesNoTask) {
  const auto ClassOf = [](std::string_view AId) { return CreateDefaultAgentTaskAction(AId)->ClassName(); };
  EXPECT_EQ(ClassOf(CSoftwareScannerId), "TSoftwareScannerJobAction");
  EXPECT_EQ(ClassOf(CFileScannerId), "TFileScannerJobAction");
  EXPECT_EQ(ClassOf(CAviraScannerId), "TAviraScannerJobAction");
  EXPECT_EQ(ClassOf(CAviraConfigurationScannerId), "TScannerJobAction");
  EXPECT_EQ(ClassOf(CComputerScannerId), "TScannerJobAction");
  EXPECT_EQ(ClassOf("{f21e8f93-ba40-41e7-a9fb-a0771fa3480b}"), "TScannerJobAction");
  EXPECT_EQ(ClassOf("no id"), "TScannerJobAction");

  // Each call makes a fresh action that the caller may fill in.
  const auto LFirst = CreateDefaultAgentTaskAction(CFileScannerId);
  EXPECT_EQ(LFirst->AgentTaskId, "");
  EXPECT_NE(LFirst, CreateDefaultAgentTaskAction(CFileScannerId));
}

}  // namespace
}  // namespace Orvane
