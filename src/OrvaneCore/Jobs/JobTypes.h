#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Threading/Event.h"

namespace Orvane {

class TJob;
using TJobPtr = std::shared_ptr<TJob>;
// IList<TJob>: lists hold jobs by shared reference; "freeing" a job is dropping the reference.
using TJobList = std::vector<TJobPtr>;

// Events whose sender is a job; they carry the job itself so that it outlives the handler.
using TJobEvent = TEvent<void(const TJobPtr&)>;
// Events whose sender is any object (savers, loaders, the run information).
using TNotifyEvent = TEvent<void(TOrvaneObject*)>;

// The outcome of one run: no result when the work raised (or never ran), cut short when it did not
// succeed because the agent was stopping and asked it to end early.
enum class TJobResult : uint8_t { jrNoResult = 0, jrSucceeded = 1, jrFailed = 2, jrCutShort = 3 };

// The outcome as the agent shows and reports it.
constexpr const char* JobResultText(TJobResult AResult) {
  switch (AResult) {
    case TJobResult::jrSucceeded:
      return "succeeded";
    case TJobResult::jrFailed:
      return "failed";
    case TJobResult::jrCutShort:
      return "cut short";
    case TJobResult::jrNoResult:
      break;
  }
  return "no result";
}

// TJob::ExecState values.
namespace TJobExecState {
inline constexpr uint8_t Idle = 0;
inline constexpr uint8_t Running = 1;
inline constexpr uint8_t Finished = 2;
inline constexpr uint8_t Queued = 4;
}  // namespace TJobExecState

// The identity of this managed client.
struct TClientId {
  // Its identity as a value registered in the container.
  static constexpr const char* IID = "{7B3E2C1D-5A4F-4E8B-9C6D-1F2A3B4C5D6E}";
  static constexpr const char* Name = "TClientId";
  std::string Value;
  bool operator==(const TClientId&) const = default;
};

// A set of item kinds the server is asked for, one bit per kind ordinal.
struct TTessraItemKinds {
  uint32_t Bits = 0;
  static constexpr TTessraItemKinds Of(int AKind) { return {1u << AKind}; }
  constexpr bool Contains(int AKind) const { return (Bits >> AKind) & 1u; }
  bool operator==(const TTessraItemKinds&) const = default;
};

// The item kind of agent-task jobs.
inline constexpr uint8_t CAgentTaskItemKind = 11;

}  // namespace Orvane
