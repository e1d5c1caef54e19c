# The Windows build (cmake/toolchains/mingw-w64-x86_64.cmake): what differs from the Linux one.

# Every symbol of our DLLs is exported, as every symbol of our shared objects is visible on Linux:
# the libraries are made for each other, not for outside callers, and an export macro on every
# class would be noise that only this platform needs. Data is reached through mingw's auto-import.
set(CMAKE_WINDOWS_EXPORT_ALL_SYMBOLS ON)
# OrvaneCore.dll, not libOrvaneCore.dll: the names the host and the loader use.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_SHARED_MODULE_PREFIX "")
set(CMAKE_IMPORT_LIBRARY_PREFIX "")

# The compiler's runtime (libstdc++, libgcc, winpthread) stays one shared copy for all our DLLs, as
# on Linux: a static copy in each would give each DLL its own thread ids and its own exception
# runtime. The DLLs are copied beside ours, the first place Windows looks for them.
foreach(runtime_dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=${runtime_dll}
                  OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${runtime_path}" OR NOT EXISTS "${runtime_path}")
    message(FATAL_ERROR "The compiler's runtime ${runtime_dll} was not found")
  endif()
  file(COPY "${runtime_path}" DESTINATION "${ORVANE_OUTPUT_DIR}")
endforeach()

# fmt and spdlog have no mingw builds in the distribution: both are used header-only, from the
# prefix that scripts/build-windows-deps fills (Debian's spdlog expects fmt from outside).
find_path(ORVANE_FMT_INCLUDE_DIR fmt/format.h REQUIRED)
find_path(ORVANE_SPDLOG_INCLUDE_DIR spdlog/spdlog.h REQUIRED)
add_library(fmt::fmt INTERFACE IMPORTED)
target_include_directories(fmt::fmt INTERFACE "${ORVANE_FMT_INCLUDE_DIR}")
target_compile_definitions(fmt::fmt INTERFACE FMT_HEADER_ONLY)
add_library(spdlog::spdlog INTERFACE IMPORTED)
target_include_directories(spdlog::spdlog INTERFACE "${ORVANE_SPDLOG_INCLUDE_DIR}")
# Wide file names: the log file's UTF-8 name reaches the file system as UTF-16, not the code page.
target_compile_definitions(spdlog::spdlog INTERFACE SPDLOG_HEADER_ONLY SPDLOG_FMT_EXTERNAL SPDLOG_WCHAR_FILENAMES)
target_link_libraries(spdlog::spdlog INTERFACE fmt::fmt)
