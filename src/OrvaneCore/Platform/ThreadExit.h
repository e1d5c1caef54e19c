#pragma once

#include <memory>

namespace Orvane {

// Calls ADestroy(AObject) when the calling thread ends; the calls of one thread run in the reverse
// order of their registration.
void AtThreadExit(void (*ADestroy)(void*), void* AObject);

// The calling thread's own T, made on the thread's first Get and destroyed when the thread ends.
// Stands in for a thread_local object with a destructor: the Windows toolchain's runtime can free
// such an object's storage before its destructor runs, and the thread then crashes as it ends.
// What stays thread_local is a plain pointer, which needs no destructor. After a thread's own
// destructor calls have begun, that thread must not call Get again.
template <class T>
class TPerThread {
public:
  static T& Get() {
    if (!tObject) {
      auto LObject = std::make_unique<T>();
      AtThreadExit([](void* AObject) { delete static_cast<T*>(AObject); }, LObject.get());
      tObject = LObject.release();
    }
    return *tObject;
  }
  // nullptr before the thread's first Get.
  static T* Find() { return tObject; }

private:
  static thread_local T* tObject;
};

template <class T>
thread_local T* TPerThread<T>::tObject = nullptr;

}  // namespace Orvane
