#pragma once

#include <string>

namespace Orvane {

class TScannerJobAction;

// The directory that holds the job files of one job action class. Only composes the path; the
// writers create the directory.
template <class T = void>
struct IJobStoragePathProvider;

template <>
struct IJobStoragePathProvider<void> {
  static constexpr const char* IID = "{44A26068-5B2C-4F99-822C-CED96AA3B88A}";
  static constexpr const char* Name = "IJobStoragePathProvider";
  virtual ~IJobStoragePathProvider() = default;
  virtual std::string GetStoragePath() = 0;
};

template <>
struct IJobStoragePathProvider<TScannerJobAction> : virtual IJobStoragePathProvider<> {
  static constexpr const char* IID = "{3812F6A2-5391-4EA3-BC5B-64FC6FE8735B}";
  static constexpr const char* Name = "IJobStoragePathProvider<TScannerJobAction>";
};

}  // namespace Orvane
