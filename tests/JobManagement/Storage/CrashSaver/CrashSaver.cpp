// Saves the manual-job file over and over, one generation of jobs after the other, and announces
// every completed save on its standard output (the generation as an int64_t), so that a test can
// kill it at chosen moments and then check the file.
//
//   ManualJobCrashSaver <file> <first generation>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CrashSaverJobs.h"
#include "JobManagement/Storage/FileJobListSaver.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <file> <first generation>\n", argv[0]);
    return 2;
  }
  const int64_t LFirst = std::strtoll(argv[2], nullptr, 10);
  Orvane::TFileJobListSaverNoPermissionsNoLogging LSaver(argv[1]);
  // Bounded, in case nobody comes to kill it: the test reads a few announcements per run.
  for (int64_t LGeneration = LFirst; LGeneration < LFirst + 100000; ++LGeneration) {
    LSaver.SaveItems(
        Orvane::IEnumerable<Orvane::TJobPtr>::FromVector(Orvane::Testing::CrashSaverJobs(LGeneration)));
    // Unbuffered writes of whole announcements: stdio retries what the pipe takes in part.
    if (std::fwrite(&LGeneration, sizeof LGeneration, 1, stdout) != 1 || std::fflush(stdout) != 0) return 1;
  }
  return 0;
}
