#pragma once

namespace Orvane {

// Per-thread set-up of the platform's component runtime around a job thread's work: on Windows
// COM (multithreaded apartment), on Linux nothing. Each CoInitialize is paired with one
// CoUninitialize on the same thread.
void CoInitialize();
void CoUninitialize();

}  // namespace Orvane
