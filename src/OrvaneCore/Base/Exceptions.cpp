#include "OrvaneCore/Base/Exceptions.h"

#include <new>
#include <stdexcept>

namespace Orvane {

const char* ExceptionClassName(const std::exception& AException) noexcept {
  if (auto LOwn = dynamic_cast<const Exception*>(&AException)) return LOwn->ClassName();
  if (dynamic_cast<const std::bad_alloc*>(&AException)) return "EOutOfMemory";
  if (dynamic_cast<const std::out_of_range*>(&AException)) return "ERangeError";
  if (dynamic_cast<const std::invalid_argument*>(&AException)) return "EArgumentException";
  return "Exception";
}

}  // namespace Orvane
