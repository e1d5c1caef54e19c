#include "AgentSetup.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "AgentRuntime.h"
#include "OrvaneCore/Container/Container.h"
#include "OrvaneCore/Platform/Paths.h"

namespace Orvane {

std::string UseDataDir(const std::string& AOption, bool ACreate) {
  if (!AOption.empty()) {
    if (ACreate && !ForceDirectories(AOption))
      throw EAgentBadInput("cannot create the data directory " + AOption + ": " + std::strerror(errno));
    setenv("ORVANE_COMMON_APPDATA", AOption.c_str(), 1);
  }
  try {
    return GetCommonAppDataDir();
  } catch (const std::exception& E) {
    throw EAgentBadInput(std::string("the data directory cannot be used: ") + E.what());
  }
}

std::string DefaultClientId() {
  char LName[256] = {};
  if (gethostname(LName, sizeof(LName) - 1) != 0 || LName[0] == 0) return "localhost";
  return LName;
}

TAgentLogScope::TAgentLogScope(TLogLevel ALevel, const std::string& ALogFile) {
  try {
    FSink = std::make_shared<TTextLogSink>(TTextLogSinkOptions{true, ALogFile, ALevel});
  } catch (const std::exception& E) {
    throw EAgentBadInput(std::string("cannot open the log file: ") + E.what());
  }
  AddLogSink(FSink);
}

TAgentLogScope::~TAgentLogScope() {
  GlobalContainer().Teardown();
  FSink->Flush();
  RemoveAllLogSinks();
}

void Fail(const std::string& AText) {
  Fail(AText, std::cerr);
}

void Fail(const std::string& AText, std::ostream& AErr) {
  AErr << "tessra-agent: " << AText << std::endl;
}

void Say(const std::string& AText) {
  const std::string LLine = AText + "\n";
  std::fwrite(LLine.data(), 1, LLine.size(), stdout);
  std::fflush(stdout);
}

}  // namespace Orvane
