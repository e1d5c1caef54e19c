#include "OrvaneCore/Container/ContainerTypes.h"

#include <cxxabi.h>

#include <cstdlib>
#include <initializer_list>

namespace Orvane {

std::string ReadableTypeName(const std::type_info& AType) {
  int LStatus = 0;
  char* LDemangled = abi::__cxa_demangle(AType.name(), nullptr, nullptr, &LStatus);
  std::string LName = (LStatus == 0 && LDemangled) ? LDemangled : AType.name();
  std::free(LDemangled);
  // Everything of ours lives in one namespace; the prefixes only lengthen messages.
  for (const std::string_view LPrefix :
       {std::string_view("Orvane::"), std::string_view("(anonymous namespace)::")})
    for (std::size_t LPos = LName.find(LPrefix); LPos != std::string::npos; LPos = LName.find(LPrefix, LPos))
      LName.erase(LPos, LPrefix.size());
  return LName;
}

std::string DescribeService(std::string_view AReadableName, std::string_view AIid, std::string_view AName) {
  std::string LText(AReadableName);
  LText += ' ';
  LText += AIid;
  if (!AName.empty()) {
    LText += " named \"";
    LText += AName;
    LText += '"';
  }
  return LText;
}

std::string TParamRequirement::Describe() const {
  const std::string LService = DescribeService(ReadableName ? ReadableName() : std::string("?"), Iid, Name);
  switch (Kind) {
    case TKind::Service:
      return "std::shared_ptr<" + LService + ">";
    case TKind::Func:
      return "TFunc<" + LService + ">";
    case TKind::Value:
      return LService;
    case TKind::Lazy:
      return "Lazy<" + LService + ">";
    case TKind::Sequence:
      return "IEnumerable<" + LService + ">";
  }
  return LService;
}

}  // namespace Orvane
