#pragma once
// What the benchmarks put beside the product's XML loads and saves: the library's own parse and
// save of the same bytes, with the parser options the serializer's loads use.
#include <pugixml.hpp>

#include <cstddef>
#include <string>

#include "OrvaneCore/Platform/FileReader.h"

namespace Orvane::Bench {

constexpr unsigned CParseOptions =
    (pugi::parse_default | pugi::parse_ws_pcdata_single | pugi::parse_fragment) & ~pugi::parse_eol;

struct TStringWriter final : pugi::xml_writer {
  std::string Text;
  void write(const void* AData, size_t ASize) override {
    Text.append(static_cast<const char*>(AData), ASize);
  }
};

// With the product's reader of files, as a load reads them.
inline std::string ReadAll(const std::string& APath) {
  std::string LContent;
  ReadWholeFile(APath, LContent);
  return LContent;
}

}  // namespace Orvane::Bench
