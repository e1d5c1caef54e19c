#include "JobManagement/JobService/JobService.Factory.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "JobManagement/JobService/JobDispatcher.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobManagement/JobService/JobScheduler.h"
#include "JobManagement/JobService/JobService.h"
#include "JobManagement/Storage/FileJobListSaver.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/Paths.h"

namespace Orvane {

namespace {

// The turn time-out of every service the factory makes, in seconds.
constexpr int32_t CJobServiceTimeOut = 60;

}  // namespace

TJobServiceFactory<>::TJobServiceFactory(
    std::shared_ptr<IJobListProvider<>> AJobListProvider,
    std::shared_ptr<IJobProcessorPool<>> AJobProcessorPool,
    std::shared_ptr<IJobStoragePathProvider<>> APathProvider,
    std::shared_ptr<IStartConditionStorageManager<>> AStartConditionStorageManager)
    : TJobServiceFactory(std::move(AJobListProvider), std::move(AJobProcessorPool), std::move(APathProvider),
                         std::move(AStartConditionStorageManager), std::shared_ptr<IJobQueue<>>(),
                         std::shared_ptr<IJobServant>()) {}

TJobServiceFactory<>::TJobServiceFactory(
    std::shared_ptr<IJobListProvider<>> AJobListProvider,
    std::shared_ptr<IJobProcessorPool<>> AJobProcessorPool,
    std::shared_ptr<IJobStoragePathProvider<>> APathProvider,
    std::shared_ptr<IStartConditionStorageManager<>> AStartConditionStorageManager,
    std::shared_ptr<IJobQueue<>> AJobQueue)
    : TJobServiceFactory(std::move(AJobListProvider), std::move(AJobProcessorPool), std::move(APathProvider),
                         std::move(AStartConditionStorageManager), std::move(AJobQueue),
                         std::shared_ptr<IJobServant>()) {}

TJobServiceFactory<>::TJobServiceFactory(
    std::shared_ptr<IJobListProvider<>> AJobListProvider,
    std::shared_ptr<IJobProcessorPool<>> AJobProcessorPool,
    std::shared_ptr<IJobStoragePathProvider<>> APathProvider,
    std::shared_ptr<IStartConditionStorageManager<>> AStartConditionStorageManager,
    std::shared_ptr<IJobServant> AJobServant)
    : TJobServiceFactory(std::move(AJobListProvider), std::move(AJobProcessorPool), std::move(APathProvider),
                         std::move(AStartConditionStorageManager), std::shared_ptr<IJobQueue<>>(),
                         std::move(AJobServant)) {}

TJobServiceFactory<>::TJobServiceFactory(
    std::shared_ptr<IJobListProvider<>> AJobListProvider,
    std::shared_ptr<IJobProcessorPool<>> AJobProcessorPool,
    std::shared_ptr<IJobStoragePathProvider<>> APathProvider,
    std::shared_ptr<IStartConditionStorageManager<>> AStartConditionStorageManager,
    std::shared_ptr<IJobQueue<>> AJobQueue, std::shared_ptr<IJobServant> AJobServant)
    : FJobListProvider(std::move(AJobListProvider)),
      FJobProcessorPool(std::move(AJobProcessorPool)),
      FPathProvider(std::move(APathProvider)),
      FStartConditionStorageManager(std::move(AStartConditionStorageManager)),
      FJobQueue(std::move(AJobQueue)),
      FJobServant(std::move(AJobServant)) {}

std::shared_ptr<IJobService> TJobServiceFactory<>::CreateJobService(const std::string& AServiceName,
                                                                    TSystemRunInfoPtr ASystemRunInfo) {
  return CreateJobService(AServiceName, std::move(ASystemRunInfo), &NewJobDispatcher<TJobDispatcher>, 0);
}

std::shared_ptr<IJobService> TJobServiceFactory<>::CreateJobService(const std::string& AServiceName,
                                                                    TSystemRunInfoPtr ASystemRunInfo,
                                                                    TJobDispatcherClass AJobDispatcherClass) {
  return CreateJobService(AServiceName, std::move(ASystemRunInfo), AJobDispatcherClass, 0);
}

std::shared_ptr<IJobService> TJobServiceFactory<>::CreateJobService() {
  return CreateJobService(std::string(), nullptr, &NewJobDispatcher<TJobDispatcher>, 0);
}

std::shared_ptr<IJobService> TJobServiceFactory<>::CreateJobService(int32_t AStartDelayInSeconds) {
  return CreateJobService(std::string(), nullptr, &NewJobDispatcher<TJobDispatcher>, AStartDelayInSeconds);
}

std::shared_ptr<IJobService> TJobServiceFactory<>::CreateJobService(const std::string& AServiceName,
                                                                    TSystemRunInfoPtr ASystemRunInfo,
                                                                    TJobDispatcherClass AJobDispatcherClass,
                                                                    int32_t AStartDelayInSeconds) {
  if (!FPathProvider) throw EInvalidPointer("TJobServiceFactory.CreateJobService: no storage path provider");
  if (!AJobDispatcherClass)
    throw EInvalidPointer("TJobServiceFactory.CreateJobService: the dispatcher class is nil");
  const std::string LStoragePath = FPathProvider->GetStoragePath();
  if (!DirectoryExists(LStoragePath) && !ForceDirectories(LStoragePath)) {
    const int LError = errno;
    throw EFileError("Cannot create the job storage directory \"" + LStoragePath +
                     "\": " + std::strerror(LError));
  }

  std::shared_ptr<IJobQueue<>> LQueue = FJobQueue;
  if (!LQueue)
    LQueue = BuildJobQueue(IncludeTrailingPathDelimiter(LStoragePath) + CManualJobsInJobQueueFileName,
                           &NewFileJobListSaver<TFileJobListSaverNoPermissions>);

  auto LScheduler = std::make_shared<TJobScheduler>(FJobListProvider, LQueue);
  std::shared_ptr<IJobDispatcher> LDispatcher =
      AJobDispatcherClass(LQueue, FJobProcessorPool, FJobServant, FJobListProvider);
  // The service itself gets no servant: only the dispatcher asks it.
  auto LService = std::make_shared<TJobService>(std::move(LDispatcher), std::move(LScheduler),
                                                FJobListProvider, FJobProcessorPool, nullptr, LQueue,
                                                std::move(ASystemRunInfo), CJobServiceTimeOut, AServiceName);
  LService->SetStartDelayInSeconds(AStartDelayInSeconds);
  return LService;
}

TJobServiceFactory<TScannerJobAction>::TJobServiceFactory(TListProvider AJobListProvider,
                                                          TPool AJobProcessorPool,
                                                          TPathProvider APathProvider,
                                                          TStorageManager AStartConditionStorageManager)
    : TJobServiceFactory<>(std::move(AJobListProvider), std::move(AJobProcessorPool),
                           std::move(APathProvider), std::move(AStartConditionStorageManager)) {}

TJobServiceFactory<TScannerJobAction>::TJobServiceFactory(TListProvider AJobListProvider,
                                                          TPool AJobProcessorPool,
                                                          TPathProvider APathProvider,
                                                          TStorageManager AStartConditionStorageManager,
                                                          TQueue AJobQueue)
    : TJobServiceFactory<>(std::move(AJobListProvider), std::move(AJobProcessorPool),
                           std::move(APathProvider), std::move(AStartConditionStorageManager),
                           std::shared_ptr<IJobQueue<>>(std::move(AJobQueue))) {}

TJobServiceFactory<TScannerJobAction>::TJobServiceFactory(TListProvider AJobListProvider,
                                                          TPool AJobProcessorPool,
                                                          TPathProvider APathProvider,
                                                          TStorageManager AStartConditionStorageManager,
                                                          std::shared_ptr<IJobServant> AJobServant)
    : TJobServiceFactory<>(std::move(AJobListProvider), std::move(AJobProcessorPool),
                           std::move(APathProvider), std::move(AStartConditionStorageManager),
                           std::move(AJobServant)) {}

TJobServiceFactory<TScannerJobAction>::TJobServiceFactory(
    TListProvider AJobListProvider, TPool AJobProcessorPool, TPathProvider APathProvider,
    TStorageManager AStartConditionStorageManager, TQueue AJobQueue, std::shared_ptr<IJobServant> AJobServant)
    : TJobServiceFactory<>(std::move(AJobListProvider), std::move(AJobProcessorPool),
                           std::move(APathProvider), std::move(AStartConditionStorageManager),
                           std::shared_ptr<IJobQueue<>>(std::move(AJobQueue)), std::move(AJobServant)) {}

}  // namespace Orvane
