#include "OrvaneCore/Threading/TaskProcessor.h"

#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

TTaskProcessor::TTaskProcessor(std::string AName)
    : FName(std::move(AName)), FThread(TOrvaneThread::CreateAnonymousThread([this] { Run(); })) {
  FThread->Start();
}

TTaskProcessor::~TTaskProcessor() {
  {
    TMutexLock LLock(FLock);
    FStopping = true;
    FItems.clear();
  }
  FChanged.NotifyAll();
  FThread.reset();
}

void TTaskProcessor::Post(std::function<void()> AItem) {
  {
    TMutexLock LLock(FLock);
    if (FStopping) return;
    FItems.push_back(std::move(AItem));
  }
  FChanged.NotifyAll();
}

int TTaskProcessor::PendingCount() {
  TMutexLock LLock(FLock);
  return static_cast<int>(FItems.size()) + FRunning;
}

void TTaskProcessor::Run() {
  Clock().NameCurrentThread(FName);
  for (;;) {
    std::function<void()> LItem;
    {
      TMutexLock LLock(FLock);
      // No deadline: an idle processor sleeps until work or its end arrives.
      Clock().Wait(FChanged, LLock, CNoDeadline, [this] {
        FLock.AssertHeld();
        return FStopping || !FItems.empty();
      });
      if (FStopping) return;
      LItem = std::move(FItems.front());
      FItems.pop_front();
      ++FRunning;
    }
    try {
      LItem();
    } catch (...) {
      LogCurrentException(FName);
    }
    {
      TMutexLock LLock(FLock);
      --FRunning;
    }
    FChanged.NotifyAll();
  }
}

}  // namespace Orvane
