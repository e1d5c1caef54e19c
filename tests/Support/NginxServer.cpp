#include "Support/NginxServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace Orvane::Testing {

namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& APath) {
  std::ifstream LIn(APath, std::ios::binary);
  std::ostringstream LOut;
  LOut << LIn.rdbuf();
  return LOut.str();
}

void Spill(const std::string& APath, const std::string& AContent) {
  std::ofstream LOut(APath, std::ios::binary | std::ios::trunc);
  LOut << AContent;
  if (!LOut) throw std::runtime_error("cannot write " + APath);
}

void Openssl(const std::string& AArguments) {
  const std::string LCommand = "openssl " + AArguments + " >/dev/null 2>&1";
  if (std::system(LCommand.c_str()) != 0) throw std::runtime_error("failed: " + LCommand);
}

uint16_t FreeLoopbackPort() {
  const int LSocket = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in LAddress{};
  LAddress.sin_family = AF_INET;
  LAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t LLength = sizeof(LAddress);
  uint16_t LPort = 0;
  if (bind(LSocket, reinterpret_cast<sockaddr*>(&LAddress), sizeof(LAddress)) == 0 &&
      getsockname(LSocket, reinterpret_cast<sockaddr*>(&LAddress), &LLength) == 0)
    LPort = ntohs(LAddress.sin_port);
  close(LSocket);
  return LPort;
}

bool Accepts(uint16_t APort) {
  const int LSocket = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in LAddress{};
  LAddress.sin_family = AF_INET;
  LAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  LAddress.sin_port = htons(APort);
  const bool LAccepted = connect(LSocket, reinterpret_cast<sockaddr*>(&LAddress), sizeof(LAddress)) == 0;
  close(LSocket);
  return LAccepted;
}

std::string NginxProgram() {
  for (const char* LPath : {"/usr/sbin/nginx", "/usr/local/sbin/nginx"})
    if (access(LPath, X_OK) == 0) return LPath;
  throw std::runtime_error("nginx is not installed (scripts/setup installs it)");
}

}  // namespace

TTestPki MakeTestPki(const std::string& ADir, const std::string& AClientCn) {
  const std::string D = ADir + "/";
  TTestPki L{D + "ca.pem", D + "server.pem", D + "server.key", D + "client.pem", D + "client.key"};
  const std::string LCurve = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  Openssl("req -x509 " + LCurve + " -keyout " + D + "ca.key -out " + L.CaCert +
          " -days 30 -subj /CN=orvane-test-ca");
  Spill(D + "server.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
  Openssl("req " + LCurve + " -keyout " + L.ServerKey + " -out " + D + "server.csr -subj /CN=127.0.0.1");
  Openssl("x509 -req -in " + D + "server.csr -CA " + L.CaCert + " -CAkey " + D + "ca.key -CAcreateserial -out " +
          L.ServerCert + " -days 30 -extfile " + D + "server.ext");
  Openssl("req " + LCurve + " -keyout " + L.ClientKey + " -out " + D + "client.csr -subj /CN=" + AClientCn);
  Openssl("x509 -req -in " + D + "client.csr -CA " + L.CaCert + " -CAkey " + D + "ca.key -CAcreateserial -out " +
          L.ClientCert + " -days 30");
  for (const std::string& LKey : {L.ServerKey, L.ClientKey, D + "ca.key"}) chmod(LKey.c_str(), 0600);
  return L;
}

TNginxServer::TNginxServer(TNginxOptions AOptions) : FOptions(std::move(AOptions)) {
  if (FDir.Path().empty()) throw std::runtime_error("cannot make nginx's directory");
  for (const char* LSub : {"www", "tmp", "logs"}) fs::create_directories(FDir.Path() + "/" + LSub);
  // Three tries: another process may take the free port between the probe and nginx's bind.
  for (int32_t LTry = 0;; ++LTry) {
    try {
      Start();
      return;
    } catch (const std::exception&) {
      if (LTry == 2) throw;
    }
  }
}

void TNginxServer::Start() {
  FPort = FreeLoopbackPort();
  const std::string P = FDir.Path();
  std::ostringstream C;
  // As root the workers would otherwise run as nobody and could not write the document root.
  if (geteuid() == 0) C << "user root;\n";
  C << "worker_processes 1;\npid " << P << "/nginx.pid;\nerror_log " << P << "/logs/error.log warn;\n"
    << "events { worker_connections 256; }\n"
    << "http {\n"
    << "  log_format plain '$request_method $request_uri $status $bytes_sent';\n"
    << "  access_log " << P << "/logs/access.log plain;\n"
    << "  client_body_temp_path " << P << "/tmp/body;\n  proxy_temp_path " << P << "/tmp/proxy;\n"
    << "  fastcgi_temp_path " << P << "/tmp/fastcgi;\n  uwsgi_temp_path " << P << "/tmp/uwsgi;\n"
    << "  scgi_temp_path " << P << "/tmp/scgi;\n"
    << "  client_max_body_size 64m;\n"
    << FOptions.ExtraHttpConfig << "\n"
    << "  server {\n";
  if (FOptions.Pki) {
    C << "    listen 127.0.0.1:" << FPort << " ssl;\n"
      << "    ssl_certificate " << FOptions.Pki->ServerCert << ";\n"
      << "    ssl_certificate_key " << FOptions.Pki->ServerKey << ";\n";
    if (FOptions.RequireClientCert)
      C << "    ssl_client_certificate " << FOptions.Pki->CaCert << ";\n    ssl_verify_client on;\n";
  } else {
    C << "    listen 127.0.0.1:" << FPort << ";\n";
  }
  C << "    root " << P << "/www;\n"
    << FOptions.ExtraServerConfig << "\n"
    << "    location / { dav_methods PUT DELETE; create_full_put_path on; dav_access user:rw; }\n"
    << "  }\n}\n";
  Spill(P + "/nginx.conf", C.str());

  const std::string LProgram = NginxProgram();
  FPid = fork();
  if (FPid == 0) {
    execl(LProgram.c_str(), LProgram.c_str(), "-p", P.c_str(), "-c", (P + "/nginx.conf").c_str(), "-g",
          "daemon off;", static_cast<char*>(nullptr));
    _exit(127);
  }
  if (FPid < 0) throw std::runtime_error("cannot fork nginx");
  for (int32_t LWait = 0; LWait < 200; ++LWait) {
    if (Accepts(FPort)) return;
    int LStatus = 0;
    if (waitpid(FPid, &LStatus, WNOHANG) == FPid) {
      FPid = -1;
      throw std::runtime_error("nginx stopped at start: " + Slurp(P + "/logs/error.log"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(FPid, SIGKILL);
  waitpid(FPid, nullptr, 0);
  FPid = -1;
  throw std::runtime_error("nginx did not accept connections within 10 s");
}

TNginxServer::~TNginxServer() {
  if (FPid <= 0) return;
  kill(FPid, SIGTERM);
  for (int32_t LWait = 0; LWait < 100; ++LWait) {
    if (waitpid(FPid, nullptr, WNOHANG) == FPid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(FPid, SIGKILL);
  waitpid(FPid, nullptr, 0);
}

std::string TNginxServer::Url() const {
  return std::string(FOptions.Pki ? "https" : "http") + "://127.0.0.1:" + std::to_string(FPort) + "/";
}

std::string TNginxServer::Root() const { return FDir.Path() + "/www"; }

void TNginxServer::WriteFile(const std::string& ARelativePath, const std::string& AContent) const {
  const fs::path LPath = fs::path(Root()) / ARelativePath;
  fs::create_directories(LPath.parent_path());
  Spill(LPath.string(), AContent);
}

std::string TNginxServer::ReadFile(const std::string& ARelativePath) const {
  return Exists(ARelativePath) ? Slurp(Root() + "/" + ARelativePath) : std::string();
}

bool TNginxServer::Exists(const std::string& ARelativePath) const {
  std::error_code LIgnored;
  return fs::is_regular_file(fs::path(Root()) / ARelativePath, LIgnored);
}

void TNginxServer::RemoveFile(const std::string& ARelativePath) const {
  std::error_code LIgnored;
  fs::remove(fs::path(Root()) / ARelativePath, LIgnored);
}

std::string TNginxServer::AccessLog() const { return Slurp(FDir.Path() + "/logs/access.log"); }

int32_t TNginxServer::CountRequests(const std::string& AText) const {
  std::istringstream LLog(AccessLog());
  int32_t LCount = 0;
  for (std::string LLine; std::getline(LLog, LLine);)
    if (LLine.find(AText) != std::string::npos) ++LCount;
  return LCount;
}

}  // namespace Orvane::Testing
