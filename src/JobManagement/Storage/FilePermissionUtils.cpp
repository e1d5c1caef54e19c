#include "JobManagement/Storage/FilePermissionUtils.h"

#include <cerrno>
#include <cstdint>
#include <exception>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/DynamicLibrary.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Platform/Paths.h"

namespace Orvane {

namespace {

constexpr const char* CMethodName = "SetAllRightsForEverybody";
constexpr const char* CPluginSubPath = "Plugins/Sys/FilePermissions.dll";
constexpr const char* CPluginExportName = "SetAllRightsForEverybody";
constexpr const char* CLoadFailedText = "Failed to load library";
constexpr const char* CProcNotFoundText = "Proc \"SetAllRightsForEverybody\" not found";

// The plug-in's export: the path as zero-terminated UTF-16, then 1 to include write access.
using TSetAllRightsForEverybodyProc = void (*)(const char16_t*, uint8_t);

TMutex GPluginBaseDirLock;
std::string GPluginBaseDirForTesting GUARDED_BY(GPluginBaseDirLock);

// The loader serialises dlopen and dlclose with a lock of its own, which ThreadSanitizer cannot
// see; taking one of ours around both costs nothing more and keeps its reports meaningful.
TMutex GLoaderLock;

// The plug-in, loaded for one call and unloaded when this goes, also on the way out of a raise.
class TLoadedPlugin {
public:
  explicit TLoadedPlugin(const std::string& AFileName) {
    TMutexLock LLock(GLoaderLock);
    errno = 0;
    FLibrary = TDynamicLibrary::Load(AFileName);
    FLoadErrorCode = LastOSErrorCode();
  }
  ~TLoadedPlugin() {
    TMutexLock LLock(GLoaderLock);
    FLibrary = TDynamicLibrary();
  }
  TLoadedPlugin(const TLoadedPlugin&) = delete;
  TLoadedPlugin& operator=(const TLoadedPlugin&) = delete;

  TDynamicLibrary& Library() { return FLibrary; }
  // errno as the failed load left it.
  int LoadErrorCode() const { return FLoadErrorCode; }

private:
  TDynamicLibrary FLibrary;
  int FLoadErrorCode = 0;
};

// What the plug-in raised, copied into storage of our own: the plug-in, which may hold the code of
// the exception's class, is unloaded before the exception is logged.
class EPluginException : public Exception {
public:
  explicit EPluginException(const std::exception& AOriginal)
      : Exception(AOriginal.what()), FClassName(ExceptionClassName(AOriginal)) {}
  const char* ClassName() const noexcept override { return FClassName.c_str(); }

private:
  std::string FClassName;
};

void CallPlugin(TSetAllRightsForEverybodyProc AProc, const std::u16string& APath,
                bool AIncludeWritePrivilege) {
  try {
    AProc(APath.c_str(), AIncludeWritePrivilege ? 1 : 0);
  } catch (const std::exception& AException) {
    throw EPluginException(AException);
  } catch (...) {
    throw Exception("The plug-in raised an exception of unknown type");
  }
}

// Returns normally also where it gives up after logging why (no such path, no plug-in); raises
// when the plug-in cannot be used or fails. The library is unloaded on the way out either way.
void GrantThroughPlugin(IOrvaneLogger& ALog, const std::string& ADirOrFileName, bool AIncludeWritePrivilege) {
  if (!FileExists(ADirOrFileName) && !DirectoryExists(ADirOrFileName)) {
    ALog.Message("Directory or file does not exist");
    return;
  }

  const std::string LFilename = FilePermissionsPluginFileName();
  if (!FileExists(LFilename)) {
    ALog.StringValue("Value of LFilename", LFilename);
    ALog.Message("DLL \"FilePermissions.dll\" not found");
    return;
  }

  const std::u16string LPath = Utf8ToUtf16(ADirOrFileName);

  TLoadedPlugin LPlugin(LFilename);
  TDynamicLibrary& LLibrary = LPlugin.Library();
  if (!LLibrary.IsLoaded()) {
    const int LErrorCode = LPlugin.LoadErrorCode();
    ALog.StringValue("DLL filename", LFilename);
    // The loader says why in text only; its error code is often 0.
    ALog.StringValue("Loader error", LLibrary.LastErrorText());
    ALog.LastError(CLoadFailedText, LErrorCode);
    throw EOSError(CLoadFailedText, LErrorCode);
  }

  errno = 0;
  auto LProc = reinterpret_cast<TSetAllRightsForEverybodyProc>(LLibrary.Symbol(CPluginExportName));
  if (!LProc) {
    const int LErrorCode = LastOSErrorCode();
    ALog.LastError(CProcNotFoundText, LErrorCode);
    throw EOSError(CProcNotFoundText, LErrorCode);
  }

  CallPlugin(LProc, LPath, AIncludeWritePrivilege);
}

}  // namespace

void SetAllRightsForEverybody(const std::string& ADirOrFileName, bool AIncludeWritePrivilege) noexcept {
  IOrvaneLogger& LLog = *OrvaneLogger();
  LLog.TraceEnter(CMethodName);
  LLog.StringValue("ADirOrFileName", ADirOrFileName);
  LLog.BooleanValue("AIncludeWritePrivilege", AIncludeWritePrivilege);
  try {
    GrantThroughPlugin(LLog, ADirOrFileName, AIncludeWritePrivilege);
  } catch (const std::exception& AException) {
    LLog.Message("SetAllRightsForEverybody failed");
    LLog.LogException(AException, "");
  } catch (...) {
    LLog.Message("SetAllRightsForEverybody failed");
    LLog.LogException(Exception("Exception of unknown type"), "");
  }
  LLog.TraceExit(CMethodName);
}

std::string FilePermissionsPluginFileName() {
  std::string LBaseDir;
  {
    TMutexLock LLock(GPluginBaseDirLock);
    LBaseDir = GPluginBaseDirForTesting;
  }
  if (LBaseDir.empty()) LBaseDir = GetExecutableDir();
  return IncludeTrailingPathDelimiter(LBaseDir) + CPluginSubPath;
}

void SetFilePermissionsPluginBaseDirForTesting(const std::string& ABaseDir) {
  TMutexLock LLock(GPluginBaseDirLock);
  GPluginBaseDirForTesting = ABaseDir;
}

}  // namespace Orvane
