#include "Support/NginxServer.h"

#include "Support/FileText.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

namespace Orvane::Testing {

namespace {

namespace fs = std::filesystem;

void Openssl(const std::string& AArguments) {
  const std::string LCommand = "openssl " + AArguments + " >/dev/null 2>&1";
  if (std::system(LCommand.c_str()) != 0) throw std::runtime_error("failed: " + LCommand);
}

sockaddr_in Loopback(uint16_t APort) {
  sockaddr_in LAddress{};
  LAddress.sin_family = AF_INET;
  LAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  LAddress.sin_port = htons(APort);
  return LAddress;
}

uint16_t FreeLoopbackPort() {
  const int LSocket = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in LAddress = Loopback(0);
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
  const sockaddr_in LAddress = Loopback(APort);
  const bool LAccepted = connect(LSocket, reinterpret_cast<const sockaddr*>(&LAddress), sizeof(LAddress)) == 0;
  close(LSocket);
  return LAccepted;
}

std::string Program(const char* AName) {
  for (const std::string LFolder : {"/usr/sbin/", "/usr/bin/", "/usr/local/sbin/", "/usr/local/bin/"})
    if (access((LFolder + AName).c_str(), X_OK) == 0) return LFolder + AName;
  throw std::runtime_error(std::string(AName) + " is not installed (scripts/setup installs it)");
}

// Runs AArguments[0] in the foreground of a child process and waits until it accepts on APort.
// Throws (with ALog's content) when it stops or does not accept within 10 s.
pid_t StartServer(const std::vector<std::string>& AArguments, uint16_t APort, const std::string& ALog) {
  std::vector<char*> LArgv;
  for (const std::string& LArgument : AArguments) LArgv.push_back(const_cast<char*>(LArgument.c_str()));
  LArgv.push_back(nullptr);
  const pid_t LPid = fork();
  if (LPid == 0) {
    execv(LArgv[0], LArgv.data());
    _exit(127);
  }
  if (LPid < 0) throw std::runtime_error("cannot fork " + AArguments[0]);
  for (int32_t LWait = 0; LWait < 200; ++LWait) {
    if (Accepts(APort)) return LPid;
    int LStatus = 0;
    if (waitpid(LPid, &LStatus, WNOHANG) == LPid)
      throw std::runtime_error(AArguments[0] + " stopped at start: " + ReadFile(ALog));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(LPid, SIGKILL);
  waitpid(LPid, nullptr, 0);
  throw std::runtime_error(AArguments[0] + " did not accept connections within 10 s");
}

void StopServer(pid_t APid) {
  if (APid <= 0) return;
  kill(APid, SIGTERM);
  for (int32_t LWait = 0; LWait < 100; ++LWait) {
    if (waitpid(APid, nullptr, WNOHANG) == APid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(APid, SIGKILL);
  waitpid(APid, nullptr, 0);
}

// Three tries: another process may take the free port between the probe and the server's bind.
template <class TStart>
void StartWithRetries(TStart AStart) {
  for (int32_t LTry = 0;; ++LTry) {
    try {
      AStart();
      return;
    } catch (const std::exception&) {
      if (LTry == 2) throw;
    }
  }
}

}  // namespace

TTestPki MakeTestPki(const std::string& ADir, const std::string& AClientCn) {
  const std::string D = ADir + "/";
  TTestPki L{D + "ca.pem", D + "server.pem", D + "server.key", D + "client.pem", D + "client.key", D + "ca.key"};
  const std::string LCurve = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  Openssl("req -x509 " + LCurve + " -keyout " + D + "ca.key -out " + L.CaCert +
          " -days 30 -subj /CN=orvane-test-ca");
  WriteFile(D + "server.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
  Openssl("req " + LCurve + " -keyout " + L.ServerKey + " -out " + D + "server.csr -subj /CN=127.0.0.1");
  Openssl("x509 -req -in " + D + "server.csr -CA " + L.CaCert + " -CAkey " + D + "ca.key -CAcreateserial -out " +
          L.ServerCert + " -days 30 -extfile " + D + "server.ext");
  for (const std::string& LKey : {L.ServerKey, L.CaKey}) chmod(LKey.c_str(), 0600);
  std::tie(L.ClientCert, L.ClientKey) = MakeTestClientCert(L, ADir, AClientCn);
  return L;
}

std::pair<std::string, std::string> MakeTestClientCert(const TTestPki& APki, const std::string& ADir,
                                                       const std::string& AClientCn, int32_t ADays) {
  const std::string LBase = ADir + "/client-" + AClientCn;
  Openssl("req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + LBase + ".key -out " + LBase +
          ".csr -subj /CN=" + AClientCn);
  Openssl("x509 -req -in " + LBase + ".csr -CA " + APki.CaCert + " -CAkey " + APki.CaKey +
          " -CAcreateserial -out " + LBase + ".pem -days " + std::to_string(ADays));
  chmod((LBase + ".key").c_str(), 0600);
  return {LBase + ".pem", LBase + ".key"};
}

TNginxOptions ExampleSiteOptions(const TTestPki& APki) {
  TNginxOptions L;
  L.Pki = &APki;
  L.RequireClientCert = true;
  L.CatchAll = false;
  L.ExtraHttpConfig = "include " ORVANE_NGINX_EXAMPLE_DIR "/tessra-client-map.conf;";
  L.ExtraServerConfig = "include " ORVANE_NGINX_EXAMPLE_DIR "/tessra-locations.conf;";
  return L;
}

TNginxServer::TNginxServer(TNginxOptions AOptions) : FOptions(std::move(AOptions)) {
  if (FDir.Path().empty()) throw std::runtime_error("cannot make nginx's directory");
  for (const char* LSub : {"www", "tmp", "logs"}) fs::create_directories(FDir.Path() + "/" + LSub);
  StartWithRetries([this] { Start(); });
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
    << "  log_format plain '$request_method $request_uri $status $bytes_sent"
    << (FOptions.ExtraLogFields.empty() ? "" : " " + FOptions.ExtraLogFields) << "';\n"
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
    << (FOptions.CatchAll
            ? "    location / { dav_methods PUT DELETE; create_full_put_path on; dav_access user:rw; }\n"
            : "")
    << "  }\n}\n";
  Testing::WriteFile(P + "/nginx.conf", C.str());

  FPid = StartServer({Program("nginx"), "-p", P, "-c", P + "/nginx.conf", "-g", "daemon off;"}, FPort,
                     P + "/logs/error.log");
}

TNginxServer::~TNginxServer() { StopServer(FPid); }

std::string TNginxServer::Url() const {
  return std::string(FOptions.Pki ? "https" : "http") + "://127.0.0.1:" + std::to_string(FPort) + "/";
}

std::string TNginxServer::Root() const { return FDir.Path() + "/www"; }

void TNginxServer::WriteFile(const std::string& ARelativePath, const std::string& AContent) const {
  const fs::path LPath = fs::path(Root()) / ARelativePath;
  fs::create_directories(LPath.parent_path());
  Testing::WriteFile(LPath.string(), AContent);
}

std::string TNginxServer::ReadFile(const std::string& ARelativePath) const {
  return Exists(ARelativePath) ? Testing::ReadFile(Root() + "/" + ARelativePath) : std::string();
}

bool TNginxServer::Exists(const std::string& ARelativePath) const {
  std::error_code LIgnored;
  return fs::is_regular_file(fs::path(Root()) / ARelativePath, LIgnored);
}

std::string TNginxServer::AccessLog() const { return Testing::ReadFile(FDir.Path() + "/logs/access.log"); }

int32_t TNginxServer::CountRequests(const std::string& AText) const {
  std::istringstream LLog(AccessLog());
  int32_t LCount = 0;
  for (std::string LLine; std::getline(LLog, LLine);)
    if (LLine.find(AText) != std::string::npos) ++LCount;
  return LCount;
}

int32_t TNginxServer::WaitForRequests(const std::string& AText, int32_t ACount) const {
  int32_t LCount = CountRequests(AText);
  for (int32_t LWait = 0; LWait < 200 && LCount < ACount; ++LWait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    LCount = CountRequests(AText);
  }
  return LCount;
}

TTinyproxy::TTinyproxy() {
  if (FDir.Path().empty()) throw std::runtime_error("cannot make tinyproxy's directory");
  StartWithRetries([this] { Start(); });
}

void TTinyproxy::Start() {
  FPort = FreeLoopbackPort();
  const std::string P = FDir.Path();
  std::ostringstream C;
  C << "Port " << FPort << "\nListen 127.0.0.1\nTimeout 30\nMaxClients 16\nAllow 127.0.0.1\n"
    << "LogFile \"" << P << "/tinyproxy.log\"\nLogLevel Info\nPidFile \"" << P << "/tinyproxy.pid\"\n";
  WriteFile(P + "/tinyproxy.conf", C.str());
  FPid = StartServer({Program("tinyproxy"), "-d", "-c", P + "/tinyproxy.conf"}, FPort, P + "/tinyproxy.log");
}

TTinyproxy::~TTinyproxy() { StopServer(FPid); }

std::string TTinyproxy::Url() const { return "http://127.0.0.1:" + std::to_string(FPort); }

std::string TTinyproxy::Log() const { return ReadFile(FDir.Path() + "/tinyproxy.log"); }

}  // namespace Orvane::Testing
