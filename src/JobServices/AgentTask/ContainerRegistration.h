#pragma once

#include "OrvaneCore/Container/Container.h"

namespace Orvane {

// Registers every service of the agent-task job service in AContainer and builds it. Loading the
// module runs it once on GlobalContainer() from a static initialiser; a failure there is logged,
// since nothing can leave dlopen, and the host then finds "AgentTasks" unresolvable. Tests that
// want the registrations in a container of their own state call it directly.
void RegisterTypes(TContainer& AContainer);

// RegisterTypes as the module's load runs it: a failure is logged with its context and goes no
// further. False when it failed.
bool RegisterTypesAtModuleLoad(TContainer& AContainer) noexcept;

}  // namespace Orvane
