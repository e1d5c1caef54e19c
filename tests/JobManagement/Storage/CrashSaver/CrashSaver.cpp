// Saves the manual-job file over and over, one generation of jobs after the other, and announces
// every completed save on its standard output (the generation as an int64_t), so that a test can
// kill it at chosen moments and then check the file.
//
//   ManualJobCrashSaver <file> <first generation>

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CrashSaverJobs.h"
#include "JobManagement/Storage/FileJobListSaver.h"

namespace {

bool Announce(int64_t AGeneration) {
  const char* LData = reinterpret_cast<const char*>(&AGeneration);
  std::size_t LWritten = 0;
  while (LWritten < sizeof AGeneration) {
    const ssize_t LCount = ::write(STDOUT_FILENO, LData + LWritten, sizeof AGeneration - LWritten);
    if (LCount < 0 && errno == EINTR) continue;
    if (LCount <= 0) return false;
    LWritten += static_cast<std::size_t>(LCount);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <file> <first generation>\n", argv[0]);
    return 2;
  }
  const std::string LFile = argv[1];
  const int64_t LFirst = std::strtoll(argv[2], nullptr, 10);
  Orvane::TFileJobListSaverNoPermissionsNoLogging LSaver(LFile);
  // Bounded, in case nobody comes to kill it: the test reads a few announcements per run.
  for (int64_t LGeneration = LFirst; LGeneration < LFirst + 100000; ++LGeneration) {
    LSaver.SaveItems(
        Orvane::IEnumerable<Orvane::TJobPtr>::FromVector(Orvane::Testing::CrashSaverJobs(LGeneration)));
    if (!Announce(LGeneration)) return 1;
  }
  return 0;
}
