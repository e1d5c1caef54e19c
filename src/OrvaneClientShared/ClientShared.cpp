// The host's client-shared library: contracts between the host and its job modules that live
// outside the core library. Its units arrive with the data model.
namespace Orvane {
const char* ClientSharedLibraryName() {
  return "OrvaneClientShared";
}
}  // namespace Orvane
