#pragma once

#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {

class TScannerJobAction;

// Keeps the start-condition state of jobs across restarts and while a job is absent from its list.
// Its callers serialise its operations.
template <class T = void>
struct IStartConditionStorageManager;

template <>
struct IStartConditionStorageManager<void> {
  static constexpr const char* IID = "{1D7DA24A-1824-4A68-BE4F-C616E6F60AC7}";
  static constexpr const char* Name = "IStartConditionStorageManager";
  virtual ~IStartConditionStorageManager() = default;

  virtual void LoadConditionStorages() = 0;
  virtual void RegisterJob(const TJobPtr& AJob) = 0;
  virtual bool SaveConditionStorages() = 0;
  virtual void UnRegisterJob(const TJobPtr& AJob) = 0;
};

template <>
struct IStartConditionStorageManager<TScannerJobAction> : virtual IStartConditionStorageManager<> {
  static constexpr const char* IID = "{9EB469BA-02EA-4031-ADF3-BBA201A38CA6}";
  static constexpr const char* Name = "IStartConditionStorageManager<TScannerJobAction>";
};

}  // namespace Orvane
