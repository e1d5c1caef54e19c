#include <gtest/gtest.h>

#include <utility>

#include "OrvaneCore/Platform/DynamicLibrary.h"

namespace Orvane {
namespace {

TEST(DynamicLibraryTest, MissingLibraryFailsWithTheLoadersText) {
  TDynamicLibrary LLibrary = TDynamicLibrary::Load("/nonexistent/libnothing.so");
  EXPECT_FALSE(LLibrary.IsLoaded());
  EXPECT_NE(LLibrary.LastErrorText().find("libnothing.so"), std::string::npos) << LLibrary.LastErrorText();
  EXPECT_EQ(LLibrary.Symbol("cos"), nullptr);
}

TEST(DynamicLibraryTest, FindsSymbolsAndReportsMissingOnes) {
  TDynamicLibrary LLibrary = TDynamicLibrary::Load("libm.so.6");
  ASSERT_TRUE(LLibrary.IsLoaded()) << LLibrary.LastErrorText();
  EXPECT_TRUE(LLibrary.LastErrorText().empty());

  TDynamicLibrary LMoved = std::move(LLibrary);
  EXPECT_FALSE(LLibrary.IsLoaded());
  auto LCos = reinterpret_cast<double (*)(double)>(LMoved.Symbol("cos"));
  ASSERT_NE(LCos, nullptr) << LMoved.LastErrorText();
  EXPECT_DOUBLE_EQ(LCos(0.0), 1.0);

  EXPECT_EQ(LMoved.Symbol("no_such_symbol_here"), nullptr);
  EXPECT_NE(LMoved.LastErrorText().find("no_such_symbol_here"), std::string::npos) << LMoved.LastErrorText();
}

}  // namespace
}  // namespace Orvane
