#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "JobManagement/JobService/JobDispatcherIntf.h"
#include "JobManagement/JobService/JobQueueIntf.h"
#include "JobManagement/JobService/JobServantIntf.h"
#include "OrvaneCore/Interfaces/JobListProvider.Intf.h"
#include "OrvaneCore/Interfaces/JobProcessorPool.Intf.h"
#include "OrvaneCore/Interfaces/JobService.Intf.h"

namespace Orvane {

class TScannerJobAction;

// A class of job dispatchers, as a class reference: it makes a dispatcher of its class on a queue,
// a pool, a servant (may be nullptr) and a job list. NewJobDispatcher<TJobDispatcher> is one.
using TJobDispatcherClass = std::shared_ptr<IJobDispatcher> (*)(
    std::shared_ptr<IJobQueue<>> AJobQueue, std::shared_ptr<IJobProcessorPool<>> AProcessorPool,
    std::shared_ptr<IJobServant> AJobServant, std::shared_ptr<IJobListProvider<>> AJobListProvider);

template <class TDispatcher>
std::shared_ptr<IJobDispatcher> NewJobDispatcher(std::shared_ptr<IJobQueue<>> AJobQueue,
                                                 std::shared_ptr<IJobProcessorPool<>> AProcessorPool,
                                                 std::shared_ptr<IJobServant> AJobServant,
                                                 std::shared_ptr<IJobListProvider<>> AJobListProvider) {
  return std::make_shared<TDispatcher>(std::move(AJobQueue), std::move(AProcessorPool),
                                       std::move(AJobServant), std::move(AJobListProvider));
}

// Assembles complete job services (queue, scheduler, dispatcher, service) around the collaborators
// it was made with. Every overload ends in the fullest one; the defaults are the plain job
// dispatcher, no start delay, and for the last two an empty name and no run information.
template <class T = void>
struct IJobServiceFactory;

template <>
struct IJobServiceFactory<void> {
  static constexpr const char* IID = "{C2E1A0B4-7D3F-4B6A-9E58-3F1D2C4B5A60}";
  static constexpr const char* Name = "IJobServiceFactory";
  virtual ~IJobServiceFactory() = default;

  virtual std::shared_ptr<IJobService> CreateJobService(const std::string& AServiceName,
                                                        TSystemRunInfoPtr ASystemRunInfo) = 0;
  virtual std::shared_ptr<IJobService> CreateJobService(const std::string& AServiceName,
                                                        TSystemRunInfoPtr ASystemRunInfo,
                                                        TJobDispatcherClass AJobDispatcherClass) = 0;
  virtual std::shared_ptr<IJobService> CreateJobService(const std::string& AServiceName,
                                                        TSystemRunInfoPtr ASystemRunInfo,
                                                        TJobDispatcherClass AJobDispatcherClass,
                                                        int32_t AStartDelayInSeconds) = 0;
  virtual std::shared_ptr<IJobService> CreateJobService() = 0;
  virtual std::shared_ptr<IJobService> CreateJobService(int32_t AStartDelayInSeconds) = 0;
};

template <>
struct IJobServiceFactory<TScannerJobAction> : virtual IJobServiceFactory<> {
  static constexpr const char* IID = "{8B4F6D21-3C5E-4A97-B0D2-6E7A9C1F4B38}";
  static constexpr const char* Name = "IJobServiceFactory<TScannerJobAction>";
};

}  // namespace Orvane
