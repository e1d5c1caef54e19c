#include "JobManagement/JobService/JobService.Factory.Utils.h"

#include <memory>

#include "JobManagement/JobService/JobService.Factory.h"
#include "JobManagement/Storage/FileJobListProvider.h"
#include "JobManagement/Storage/FileJobListSaver.h"
#include "JobManagement/Storage/FileStartConditionStorageManager.h"
#include "JobManagement/Storage/ManualJobStorage.Intf.h"
#include "OrvaneCore/Jobs/JobAction.h"

namespace Orvane {

namespace {

using T = TScannerJobAction;
using TPathProviderArg = std::shared_ptr<IJobStoragePathProvider<T>>;

}  // namespace

void TJobServiceFactoryRegistrationUtils<T>::RegisterJobServiceFactory(TContainer& AContainer) {
  TJobServiceFactoryRegistrationUtils<T>().Register(AContainer, nullptr);
}

void TJobServiceFactoryRegistrationUtils<T>::RegisterJobServiceFactory(
    TContainer& AContainer, const TCustomJobProcessorPoolClass<T>& AProcessorPoolClass) {
  TJobServiceFactoryRegistrationUtils<T>().Register(AContainer, &AProcessorPoolClass);
}

void TJobServiceFactoryRegistrationUtils<T>::Register(
    TContainer& AContainer, const TCustomJobProcessorPoolClass<T>* AProcessorPoolClass) {
  RegisterGenericFamily(AContainer);
  if (AProcessorPoolClass) RegisterProcessorPool(AContainer, *AProcessorPoolClass);
  AContainer.Build();
}

void TJobServiceFactoryRegistrationUtils<T>::RegisterGenericFamily(TContainer& AContainer) {
  using TListProviderArg = std::shared_ptr<IJobListProvider<T>>;
  using TPoolArg = std::shared_ptr<IJobProcessorPool<T>>;
  using TStorageManagerArg = std::shared_ptr<IStartConditionStorageManager<T>>;
  using TQueueArg = std::shared_ptr<IJobQueue<T>>;
  using TServantArg = std::shared_ptr<IJobServant>;

  AContainer.RegisterType<TJobServiceFactory<T>>()
      .Implements<IJobServiceFactory<T>>()
      .Constructors<
          Ctor<TListProviderArg, TPoolArg, TPathProviderArg, TStorageManagerArg, TQueueArg, TServantArg>,
          Ctor<TListProviderArg, TPoolArg, TPathProviderArg, TStorageManagerArg, TQueueArg>,
          Ctor<TListProviderArg, TPoolArg, TPathProviderArg, TStorageManagerArg, TServantArg>,
          Ctor<TListProviderArg, TPoolArg, TPathProviderArg, TStorageManagerArg>>();

  AContainer.RegisterType<TFileStartConditionStorageManagerNoFilePermissions<T>>()
      .Implements<IStartConditionStorageManager<T>>()
      .Implements<IStartConditionStorageManager<>>("ConditionStorageManager_" + T().ClassName())
      .Constructors<Ctor<TPathProviderArg>>()
      .AsSingleton();

  if (!AContainer.HasRegistration<IManualJobSaverJobList<T>>())
    AContainer.RegisterType<TFileJobListSaverForJobList<T>>()
        .Implements<IManualJobSaverJobList<T>>()
        .Constructors<Ctor<TPathProviderArg>>();
  if (!AContainer.HasRegistration<IManualJobSaverQueue<T>>())
    AContainer.RegisterType<TFileJobListSaverForQueue<T>>()
        .Implements<IManualJobSaverQueue<T>>()
        .Constructors<Ctor<TPathProviderArg>>();
  AContainer.RegisterType<TFileJobListProviderForJobList<T>>()
      .Implements<IManualJobLoaderJobList<T>>()
      .Constructors<Ctor<TPathProviderArg>>();
  if (!AContainer.HasRegistration<IManualJobLoaderQueue<T>>())
    AContainer.RegisterType<TFileJobListProviderForQueue<T>>()
        .Implements<IManualJobLoaderQueue<T>>()
        .Constructors<Ctor<TPathProviderArg>>();
}

void TJobServiceFactoryRegistrationUtils<T>::RegisterProcessorPool(
    TContainer& AContainer, const TCustomJobProcessorPoolClass<T>& AProcessorPoolClass) {
  AProcessorPoolClass.Register(AContainer, AProcessorPoolClass.ClassName);
}

}  // namespace Orvane
