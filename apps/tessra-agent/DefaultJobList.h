#pragma once

#include "OrvaneCore/Jobs/JobTypes.h"

namespace Orvane {

// Identifiers of the built-in jobs.
inline constexpr const char* CComputerScanJobId = "{6E0C9F43-2B7A-4C55-9E1D-3A8F0B6D2C71}";
inline constexpr const char* CShutdownComputerScanJobId = "{9A4D2E18-7F36-4B0C-8C52-E61B7D3F0A94}";
inline constexpr const char* CSettingsWatchJobId = "{2F8B6C3D-91E4-4A7F-B0D5-C47E18A9F263}";
inline constexpr const char* CSoftwareScanJobId = "{A0316B05-A21A-4E85-AA0E-DB4897B68EEC}";
inline constexpr const char* CLastUserScanJobId = "{4DD93690-4E17-41BB-ACCF-BD0FF3146DD5}";

// What the agent runs when no jobs file is given: the computer scanner at agent start and every
// 2 minutes (with up to 20 seconds of splay), the computer scanner at system shutdown as a job of
// its own, the settings watch every 5 minutes, which makes the agent ask for its job list again,
// the software scanner every 10 minutes (up to a minute of splay) and the last-user scanner at
// agent start.
TJobList BuildDefaultJobList();

}  // namespace Orvane
