#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/TextLogSink.h"

namespace Orvane {

// Exit codes of the program.
inline constexpr int CExitSuccess = 0;
inline constexpr int CExitFailure = 1;
inline constexpr int CExitUsage = 2;

// The agent's data directory: AOption when given (made, with its parents, when ACreate), else the
// platform's. Every part of the agent that stores files finds it from here on. Throws
// EAgentBadInput (AgentRuntime.h) with a text for the user.
std::string UseDataDir(const std::string& AOption, bool ACreate);

// This client's identity when none is given: the host name.
std::string DefaultClientId();

// The log of one run of the program: on the console and optionally in a file, from construction
// to destruction. The global container's singletons log while they go, so the container is torn
// down before the log is closed. Throws EAgentBadInput when the log file cannot be opened.
class TAgentLogScope {
public:
  TAgentLogScope(TLogLevel ALevel, const std::string& ALogFile);
  ~TAgentLogScope();
  TAgentLogScope(const TAgentLogScope&) = delete;
  TAgentLogScope& operator=(const TAgentLogScope&) = delete;

private:
  std::shared_ptr<TTextLogSink> FSink;
};

// Prints "tessra-agent: TEXT" on standard error (or AErr).
void Fail(const std::string& AText);
void Fail(const std::string& AText, std::ostream& AErr);
// Prints one line on standard output, in a single write, so lines of different threads never mix.
void Say(const std::string& AText);

}  // namespace Orvane
