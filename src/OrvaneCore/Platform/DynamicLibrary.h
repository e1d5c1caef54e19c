#pragma once

#include <dlfcn.h>

#include <string>

namespace Orvane {

// A shared library opened with dlopen and closed when the object goes. Loading does not throw: a
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

  static TDynamicLibrary Load(const std::string& APath, int AFlags = RTLD_NOW | RTLD_LOCAL);

  bool IsLoaded() const { return FHandle != nullptr; }
  const std::string& Path() const { return FPath; }
  // dlerror's text from the last failed Load or Symbol; empty when there was none.
  const std::string& LastErrorText() const { return FLastErrorText; }

  // The address of AName, or nullptr when the library does not export it (or is not loaded).
  void* Symbol(const char* AName);

  // Leaves the library loaded for the rest of the process and forgets it; returns the handle.
  // For libraries whose code may still run after this object goes (threads, registered callbacks).
  void* Release();

private:
  void Close();

  void* FHandle = nullptr;
  std::string FPath;
  std::string FLastErrorText;
};

// errno of the calling thread: the "OS last error code" the logger reports with an error.
int LastOSErrorCode();

}  // namespace Orvane
