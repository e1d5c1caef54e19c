#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <tuple>

#include "Server/HttpClient.h"
#include "Support/EnvScope.h"
#include "Support/NginxServer.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

using Testing::TNginxOptions;
using Testing::TNginxServer;
using TKind = THttpResult::TKind;

class HttpClientTest : public ::testing::Test {
protected:
  TNginxOptions Tls() const { return {.Pki = &FPki}; }
  THttpClientOptions Trusting() const { return {FPki.CaCert, "", ""}; }

  Testing::TTempDir FPkiDir{"orvane-pki"};
  const Testing::TTestPki FPki = Testing::MakeTestPki(FPkiDir.Path());
};

TEST_F(HttpClientTest, FollowsThreeRedirectsButNotAFourthNorDownToHttp) {
  TNginxServer LPlain;
  LPlain.WriteFile("doc", "plain");
  TNginxOptions LOptions = Tls();
  LOptions.ExtraServerConfig = "absolute_redirect off; location = /r0 { return 302 /r1; }\n"
                               "location = /r1 { return 301 /r2; } location = /r2 { return 307 /r3; }\n"
                               "location = /r3 { return 308 /doc; } location = /down { return 302 " +
                               LPlain.Url() + "doc; }\n";
  TNginxServer LServer(LOptions);
  LServer.WriteFile("doc", "secure");

  THttpClient LClient(Trusting());
  EXPECT_EQ("secure", LClient.Get(LServer.Url() + "r1").Body);
  EXPECT_EQ(TKind::Refused, LClient.Get(LServer.Url() + "r0").Kind);
  EXPECT_EQ(TKind::Refused, LClient.Get(LServer.Url() + "down").Kind);
  // A test client that may speak http follows it: the plain server sees that request alone.
  EXPECT_EQ(TKind::Response, THttpClient({FPki.CaCert, "", "", true}).Get(LServer.Url() + "down").Kind);
  EXPECT_EQ(1, LPlain.WaitForRequests("GET /doc", 1));
}

TEST_F(HttpClientTest, RefusesADocumentOverTheLimitWithOrWithoutItsLength) {
  // Server-side includes drop the Content-Length: those documents arrive chunked.
  TNginxServer LServer({.ExtraServerConfig = "location /chunked/ { ssi on; ssi_types *; }",
                        .ExtraLogFields = "encoding=$sent_http_transfer_encoding"});
  const auto LSparse = [&](const std::string& APath, uint64_t ASize) {
    LServer.WriteFile(APath, "");
    std::filesystem::resize_file(LServer.Root() + "/" + APath, ASize);
  };
  LSparse("big", THttpClient::CMaxDocumentBytes + 1);
  LSparse("chunked/big", THttpClient::CMaxDocumentBytes + 1);
  LSparse("chunked/full", THttpClient::CMaxDocumentBytes);

  THttpClient LClient({"", "", "", true});
  for (const char* LPath : {"big", "chunked/big"}) {
    const THttpResult L = LClient.Get(LServer.Url() + LPath);
    EXPECT_EQ(TKind::Refused, L.Kind) << LPath << ": " << L.Error;
    EXPECT_TRUE(L.Body.empty()) << LPath;
  }
  EXPECT_EQ(THttpClient::CMaxDocumentBytes, LClient.Get(LServer.Url() + "chunked/full").Body.size());
  EXPECT_EQ(2, LServer.WaitForRequests("encoding=chunked", 2)) << LServer.AccessLog();
}

TEST_F(HttpClientTest, TunnelsThroughTheProxyOfTheEnvironment) {
  TNginxServer LServer(Tls());
  LServer.WriteFile("a", "through");
  Testing::TTinyproxy LProxy;
  Testing::TEnvScope LNoProxy("no_proxy", nullptr), LNoProxyUpper("NO_PROXY", nullptr), LUpper("HTTPS_PROXY", nullptr);
  {
    Testing::TEnvScope LVia("https_proxy", LProxy.Url().c_str());
    const THttpResult L = THttpClient(Trusting()).Get(LServer.Url() + "a");
    ASSERT_TRUE(L.Ok()) << L.Error;
    EXPECT_EQ("through", L.Body);
    EXPECT_NE(std::string::npos, LProxy.Log().find("CONNECT")) << LProxy.Log();
  }
  // With the proxy gone from the environment the same handle goes direct again.
  THttpClient LClient(Trusting());
  {
    Testing::TEnvScope LVia("https_proxy", "http://127.0.0.1:1");
    EXPECT_EQ(TKind::NetworkError, LClient.Get(LServer.Url() + "a").Kind);
  }
  EXPECT_TRUE(LClient.Get(LServer.Url() + "a").Ok());
}

TEST(HttpResultTest, TransientAreNoAnswerServerErrorsTimeoutAndTooManyRequests) {
  using TCase = std::tuple<TKind, int32_t, bool>;  // kind, status, transient
  const TCase LCases[] = {{TKind::NetworkError, 0, true}, {TKind::Refused, 0, false},   {TKind::Response, 503, true},
                          {TKind::Response, 408, true},   {TKind::Response, 429, true},  {TKind::Response, 400, false},
                          {TKind::Response, 404, false},  {TKind::Response, 304, false}, {TKind::Response, 200, false}};
  for (const auto& [LKind, LStatus, LTransient] : LCases) {
    THttpResult L;
    L.Kind = LKind;
    L.Status = LStatus;
    EXPECT_EQ(LTransient, L.Transient()) << static_cast<int>(LKind) << " " << LStatus;
  }
}

TEST(UrlPathSegmentTest, KeepsUnreservedCharactersAndEncodesTheRest) {
  EXPECT_EQ("aZ09-._~", UrlPathSegment("aZ09-._~"));
  EXPECT_EQ("a%2Fb%20c%25%3F%23%2B", UrlPathSegment("a/b c%?#+"));
  EXPECT_EQ("%C3%A4%00%FF", UrlPathSegment(std::string_view("\xC3\xA4\0\xFF", 4)));
}

}  // namespace
}  // namespace Orvane
