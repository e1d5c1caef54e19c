// libFuzzer target: any bytes as the content of the condition storage file, loaded, saved and
// loaded again by the registered manager class, with the checks of CheckConditionStorageFile. The
// file lives in a private temporary directory (under $TMPDIR; run.sh points it at a memory file
// system, since every save flushes).

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "ConditionStorageFileCheck.h"
#include "OrvaneCore/Logging/LogSink.h"

namespace {

std::string GFilePath;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string LTemplate = (std::filesystem::temp_directory_path() / "orvane-fuzz-XXXXXX").string();
  if (!mkdtemp(LTemplate.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  GFilePath = LTemplate + "/" + Orvane::CConditionStorageFileName;
  Orvane::RemoveAllLogSinks();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  const Orvane::Fuzzing::TConditionStorageFileResult LResult = Orvane::Fuzzing::CheckConditionStorageFile(
      GFilePath, std::string_view(reinterpret_cast<const char*>(AData), ASize));
  if (!LResult.Mismatch.empty()) {
    std::fprintf(stderr, "Condition storage file check failed: %s\n", LResult.Mismatch.c_str());
    std::abort();
  }
  return 0;
}
