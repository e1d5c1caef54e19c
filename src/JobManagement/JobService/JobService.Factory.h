#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "JobManagement/JobService/JobService.Factory.Intf.h"
#include "OrvaneClientShared/StartConditionStorageManager.Intf.h"
#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Interfaces/JobStoragePathProvider.Intf.h"

namespace Orvane {

template <class T = void>
class TJobServiceFactory;

// The factory of job services. Its collaborators are set once and shared by every service it
// makes; without a queue of its own it builds a new queue per service, all on the one
// "ManualJobsInJobQueue.xml" of the storage directory. Services get the servant only through their
// dispatcher. CreateJobService is not synchronised: one thread at a time.
template <>
class TJobServiceFactory<void> : public TOrvaneObject, public virtual IJobServiceFactory<> {
public:
  TJobServiceFactory(std::shared_ptr<IJobListProvider<>> AJobListProvider,
                     std::shared_ptr<IJobProcessorPool<>> AJobProcessorPool,
                     std::shared_ptr<IJobStoragePathProvider<>> APathProvider,
                     std::shared_ptr<IStartConditionStorageManager<>> AStartConditionStorageManager);
  TJobServiceFactory(std::shared_ptr<IJobListProvider<>> AJobListProvider,
                     std::shared_ptr<IJobProcessorPool<>> AJobProcessorPool,
                     std::shared_ptr<IJobStoragePathProvider<>> APathProvider,
                     std::shared_ptr<IStartConditionStorageManager<>> AStartConditionStorageManager,
                     std::shared_ptr<IJobQueue<>> AJobQueue);
  TJobServiceFactory(std::shared_ptr<IJobListProvider<>> AJobListProvider,
                     std::shared_ptr<IJobProcessorPool<>> AJobProcessorPool,
                     std::shared_ptr<IJobStoragePathProvider<>> APathProvider,
                     std::shared_ptr<IStartConditionStorageManager<>> AStartConditionStorageManager,
                     std::shared_ptr<IJobServant> AJobServant);
  TJobServiceFactory(std::shared_ptr<IJobListProvider<>> AJobListProvider,
                     std::shared_ptr<IJobProcessorPool<>> AJobProcessorPool,
                     std::shared_ptr<IJobStoragePathProvider<>> APathProvider,
                     std::shared_ptr<IStartConditionStorageManager<>> AStartConditionStorageManager,
                     std::shared_ptr<IJobQueue<>> AJobQueue, std::shared_ptr<IJobServant> AJobServant);

  std::string ClassName() const override { return "TJobServiceFactory"; }

  std::shared_ptr<IJobService> CreateJobService(const std::string& AServiceName,
                                                TSystemRunInfoPtr ASystemRunInfo) override;
  std::shared_ptr<IJobService> CreateJobService(const std::string& AServiceName,
                                                TSystemRunInfoPtr ASystemRunInfo,
                                                TJobDispatcherClass AJobDispatcherClass) override;
  // Creates the storage directory when it is missing (a failure raises EFileError), then the
  // queue, scheduler, dispatcher and service.
  std::shared_ptr<IJobService> CreateJobService(const std::string& AServiceName,
                                                TSystemRunInfoPtr ASystemRunInfo,
                                                TJobDispatcherClass AJobDispatcherClass,
                                                int32_t AStartDelayInSeconds) override;
  std::shared_ptr<IJobService> CreateJobService() override;
  std::shared_ptr<IJobService> CreateJobService(int32_t AStartDelayInSeconds) override;

  const std::shared_ptr<IJobQueue<>>& GetJobQueue() const { return FJobQueue; }
  const std::shared_ptr<IJobServant>& GetJobServant() const { return FJobServant; }

protected:
  const std::shared_ptr<IJobListProvider<>> FJobListProvider;
  const std::shared_ptr<IJobProcessorPool<>> FJobProcessorPool;
  const std::shared_ptr<IJobStoragePathProvider<>> FPathProvider;
  // Kept alive with the factory: the services' job list uses it.
  const std::shared_ptr<IStartConditionStorageManager<>> FStartConditionStorageManager;
  const std::shared_ptr<IJobQueue<>> FJobQueue;
  const std::shared_ptr<IJobServant> FJobServant;
};

// The factory of one job-action class: the same factory, built from the typed collaborators the
// container registers for that class.
template <>
class TJobServiceFactory<TScannerJobAction> : public TJobServiceFactory<>,
                                              public virtual IJobServiceFactory<TScannerJobAction> {
public:
  using TListProvider = std::shared_ptr<IJobListProvider<TScannerJobAction>>;
  using TPool = std::shared_ptr<IJobProcessorPool<TScannerJobAction>>;
  using TPathProvider = std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>>;
  using TStorageManager = std::shared_ptr<IStartConditionStorageManager<TScannerJobAction>>;
  using TQueue = std::shared_ptr<IJobQueue<TScannerJobAction>>;

  TJobServiceFactory(TListProvider AJobListProvider, TPool AJobProcessorPool, TPathProvider APathProvider,
                     TStorageManager AStartConditionStorageManager);
  TJobServiceFactory(TListProvider AJobListProvider, TPool AJobProcessorPool, TPathProvider APathProvider,
                     TStorageManager AStartConditionStorageManager, TQueue AJobQueue);
  TJobServiceFactory(TListProvider AJobListProvider, TPool AJobProcessorPool, TPathProvider APathProvider,
                     TStorageManager AStartConditionStorageManager, std::shared_ptr<IJobServant> AJobServant);
  TJobServiceFactory(TListProvider AJobListProvider, TPool AJobProcessorPool, TPathProvider APathProvider,
                     TStorageManager AStartConditionStorageManager, TQueue AJobQueue,
                     std::shared_ptr<IJobServant> AJobServant);

  std::string ClassName() const override { return "TJobServiceFactory<TScannerJobAction>"; }
};

}  // namespace Orvane
