// libFuzzer target: any bytes as the content of both manual-job files, loaded through both
// registered loaders, with the checks of CheckManualJobFile. The files live in a private temporary
// data directory (under $TMPDIR; run.sh points it at a memory file system, since every save flushes).

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "JobManagement/Storage/JobStoragePathProvider.Client.h"
#include "ManualJobFileCheck.h"
#include "OrvaneCore/Time/Clock.h"
#include "OrvaneCore/Time/DateTime.h"

namespace {

std::shared_ptr<Orvane::IJobStoragePathProvider<Orvane::TScannerJobAction>> GPaths;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string LTemplate = (std::filesystem::temp_directory_path() / "orvane-fuzz-XXXXXX").string();
  if (!mkdtemp(LTemplate.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  setenv("ORVANE_COMMON_APPDATA", LTemplate.c_str(), 1);
  // Members a file leaves out keep a new object's values, and some of those are "now" (the creation
  // moment of a delay condition): a clock that stands still makes two loads of one file equal.
  Orvane::Clock().SetManual(Orvane::EncodeDateTime(2026, 3, 2, 10, 0, 0));
  GPaths = std::make_shared<Orvane::TJobStoragePathProvider<Orvane::TScannerJobAction>>();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  const Orvane::Fuzzing::TManualJobFileResult LResult = Orvane::Fuzzing::CheckManualJobFile(
      GPaths, std::string_view(reinterpret_cast<const char*>(AData), ASize));
  if (!LResult.Mismatch.empty()) {
    std::fprintf(stderr, "Manual-job file check failed: %s\n", LResult.Mismatch.c_str());
    std::abort();
  }
  return 0;
}
