#pragma once

namespace Orvane {

// No-ops. The job thread keeps the places where the host initialised COM for each thread, so that
// per-thread set-up of the platform has one obvious home should it ever need one.
inline void CoInitialize() {}
inline void CoUninitialize() {}

}  // namespace Orvane
