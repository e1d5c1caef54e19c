#include "JobManagement/Storage/JobStoragePathProvider.Client.h"

#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Platform/Paths.h"

namespace Orvane {

namespace {

// Appended as it stands: the data directory comes without a trailing '/'.
constexpr const char* CProductDataSubPath = "/Orvane/Tessra";

}  // namespace

TJobStoragePathProvider<void>::TJobStoragePathProvider()
    : FConfigPath(GetCommonAppDataDir() + CProductDataSubPath) {}

TJobStoragePathProvider<TScannerJobAction>::TJobStoragePathProvider()
    : FStoragePath(IncludeTrailingPathDelimiter(FConfigPath) + TScannerJobAction::StorageSubDirectory()) {}

}  // namespace Orvane
