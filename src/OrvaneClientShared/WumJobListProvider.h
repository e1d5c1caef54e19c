#pragma once

#include <memory>

#include "OrvaneCore/Base/OrvaneObject.h"

namespace Orvane {

// A second job list provider of the host (the update-management jobs), when the host has one. It
// may support IJobListProvider; users ask with dynamic_pointer_cast. Set by the host at start-up.
std::shared_ptr<TOrvaneObject> GetWumJobListProvider();
void SetWumJobListProvider(std::shared_ptr<TOrvaneObject> AValue);

}  // namespace Orvane
