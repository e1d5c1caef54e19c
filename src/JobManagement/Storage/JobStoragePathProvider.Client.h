#pragma once

#include <string>

#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Interfaces/JobStoragePathProvider.Intf.h"

namespace Orvane {

class TScannerJobAction;

template <class T = void>
class TJobStoragePathProvider;

// The product's data directory: the host's data directory followed by "/Orvane/Tessra". Computed
// once, at construction; a data directory that the platform refuses raises from the constructor.
template <>
class TJobStoragePathProvider<void> : public TOrvaneObject {
public:
  TJobStoragePathProvider();
  std::string ClassName() const override { return "TJobStoragePathProvider"; }

protected:
  const std::string FConfigPath;
};

// The directory of the job files of TScannerJobAction: the product's data directory and the
// action class's storage sub-directory. Immutable, so any thread may share it. It only composes
// the path; the writers create the directory before they write.
template <>
class TJobStoragePathProvider<TScannerJobAction> : public TJobStoragePathProvider<>,
                                                   public virtual IJobStoragePathProvider<TScannerJobAction> {
public:
  TJobStoragePathProvider();
  std::string ClassName() const override { return "TJobStoragePathProvider<TScannerJobAction>"; }

  std::string GetStoragePath() override { return FStoragePath; }

private:
  const std::string FStoragePath;
};

}  // namespace Orvane
