#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>

#include "Support/TempDir.h"

namespace Orvane::Testing {

// Certificates for TLS tests, made with the openssl program in ADir: a CA, a server certificate for
// 127.0.0.1 and localhost, and a client certificate whose CN is AClientCn (EC keys, owner-only).
struct TTestPki {
  std::string CaCert, ServerCert, ServerKey, ClientCert, ClientKey, CaKey;
};
// Throws std::runtime_error when openssl fails.
TTestPki MakeTestPki(const std::string& ADir, const std::string& AClientCn = "client-1");
// One more client certificate of APki's CA, with CN AClientCn, valid for ADays: its certificate and
// key files in ADir.
std::pair<std::string, std::string> MakeTestClientCert(const TTestPki& APki, const std::string& ADir,
                                                       const std::string& AClientCn, int32_t ADays = 30);

struct TNginxOptions {
  // Serve https with Pki's server certificate.
  const TTestPki* Pki = nullptr;
  // Lines added inside the server block, before its locations.
  std::string ExtraServerConfig = {};
  // nginx variables appended to each access log line (e.g. "$content_type"), after BYTES_SENT.
  std::string ExtraLogFields = {};
  // The example site's locations, for clients whose certificate Pki's CA signed only; otherwise one
  // location takes GET and PUT everywhere.
  bool ExampleSite = false;
};

// The repository's example site (packaging/nginx): https, client certificates of APki's CA
// required, each client's folder for the client whose certificate's CN names it.
TNginxOptions ExampleSiteOptions(const TTestPki& APki);

// Debian's nginx on a free loopback port, serving a fresh document root that also accepts WebDAV
// PUT (missing folders are made): the management server of the tests. Started by the constructor,
// stopped by the destructor. Throws std::runtime_error when nginx cannot be started.
class TNginxServer {
public:
  explicit TNginxServer(TNginxOptions AOptions = {});
  ~TNginxServer();

  // "http://127.0.0.1:PORT/" or "https://127.0.0.1:PORT/".
  std::string Url() const;
  // The document root: what is written there is served, what is PUT lands there.
  std::string Root() const;

  void WriteFile(const std::string& ARelativePath, const std::string& AContent) const;
  // "" when the file does not exist.
  std::string ReadFile(const std::string& ARelativePath) const;
  bool Exists(const std::string& ARelativePath) const;
  // The access log so far, one request a line: "METHOD URI STATUS BYTES_SENT" and the extra fields.
  // nginx writes a line after the response has gone out, so a client may see the answer first.
  std::string AccessLog() const;
  // The number of requests in the access log whose line contains AText.
  int32_t CountRequests(const std::string& AText) const;
  // CountRequests(AText) once it reaches ACount, or after 10 s of real time.
  int32_t WaitForRequests(const std::string& AText, int32_t ACount) const;

private:
  std::string Config() const;

  TNginxOptions FOptions;
  TTempDir FDir{"orvane-nginx"};
  uint16_t FPort = 0;
  pid_t FPid = -1;
};

// Debian's tinyproxy on a free loopback port: a forwarding proxy (CONNECT tunnels included) for
// loopback clients. Started by the constructor, stopped by the destructor. Throws
// std::runtime_error when tinyproxy cannot be started.
class TTinyproxy {
public:
  TTinyproxy();
  ~TTinyproxy();

  // "http://127.0.0.1:PORT", as the proxy environment variables take it.
  std::string Url() const;
  // Its log so far (a tunnel shows as a line with "CONNECT").
  std::string Log() const;

private:
  TTempDir FDir{"orvane-tinyproxy"};
  uint16_t FPort = 0;
  pid_t FPid = -1;
};

}  // namespace Orvane::Testing
