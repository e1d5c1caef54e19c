// The agent-task job service module. Loading it registers its services in the host's container;
// the units arrive with the job service itself.
namespace Orvane {
const char* AgentTaskModuleName() {
  return "OrvaneJobServicesAgentTask";
}
}  // namespace Orvane
