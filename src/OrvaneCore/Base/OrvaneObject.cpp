#include "OrvaneCore/Base/OrvaneObject.h"

#include <mutex>

namespace Orvane {

namespace {
std::mutex GWriterLock;
TOrvaneObject::TLogTextWriter& Writer() {
  static TOrvaneObject::TLogTextWriter LWriter;
  return LWriter;
}
}  // namespace

std::string TOrvaneObject::LogText() const {
  TLogTextWriter LWriter;
  {
    std::lock_guard LLock(GWriterLock);
    LWriter = Writer();
  }
  return LWriter ? LWriter(*this) : ClassName();
}

TOrvaneObject::TLogTextWriter TOrvaneObject::SetLogTextWriter(TLogTextWriter AWriter) {
  std::lock_guard LLock(GWriterLock);
  std::swap(Writer(), AWriter);
  return AWriter;
}

std::string MakeContext(const TOrvaneObject& AObject, const std::string& AMethod) {
  return AObject.ClassName() + "." + AMethod;
}

}  // namespace Orvane
