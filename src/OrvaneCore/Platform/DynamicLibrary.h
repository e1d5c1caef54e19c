#pragma once

#include <string>

namespace Orvane {

// A shared library (dlopen; LoadLibraryW on Windows) closed when the object goes. Loading does not throw: a
// library that failed to load is an object with IsLoaded() false and the loader's text in
// LastErrorText(), which callers log as they see fit.
class TDynamicLibrary {
public:
  TDynamicLibrary() = default;
  ~TDynamicLibrary();
  TDynamicLibrary(TDynamicLibrary&& AOther) noexcept;
  TDynamicLibrary& operator=(TDynamicLibrary&& AOther) noexcept;
  TDynamicLibrary(const TDynamicLibrary&) = delete;
  TDynamicLibrary& operator=(const TDynamicLibrary&) = delete;

  // Binds every symbol now, keeping the library's symbols to itself. With AKeepLoaded, the library
  // stays in the process even after it is closed (for one whose objects outlive the handle).
  static TDynamicLibrary Load(const std::string& APath, bool AKeepLoaded = false);

  bool IsLoaded() const { return FHandle != nullptr; }
  const std::string& Path() const { return FPath; }
  // The loader's text from the last failed Load or Symbol (dlerror; on Windows the system's message
  // with its error code); empty when there was none.
  const std::string& LastErrorText() const { return FLastErrorText; }

  // The address of AName, or nullptr when the library does not export it (or is not loaded).
  void* Symbol(const char* AName);

  // Leaves the library loaded for the rest of the process and forgets it; returns the handle.
  // For libraries whose code may still run after this object goes (threads, registered callbacks).
  void* Release();

private:
  void Close();
  // The platform's look-up in the loaded library; AName is set.
  void* LookUp(const char* AName);

  void* FHandle = nullptr;
  std::string FPath;
  std::string FLastErrorText;
};

// The calling thread's last system error (errno; GetLastError on Windows): the "OS last error
// code" the logger reports with an error.
int LastOSErrorCode();
// The system's text for a code of LastOSErrorCode.
std::string OSErrorText(int AErrorCode);

// The file name of the shared library ABaseName on this platform: "libNAME.so" or "NAME.dll".
std::string SharedLibraryFileName(const std::string& ABaseName);

}  // namespace Orvane
