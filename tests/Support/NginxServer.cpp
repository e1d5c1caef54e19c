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
#include <functional>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "Support/FileText.h"

namespace Orvane::Testing {

namespace {

namespace fs = std::filesystem;

void Openssl(const std::string& AArguments) {
  const std::string LCommand = "openssl " + AArguments + " >/dev/null 2>&1";
  if (std::system(LCommand.c_str()) != 0) throw std::runtime_error("failed: " + LCommand);
}

// A new key and a certificate of APki's CA for it, with CN ACn: ABase.key and ABase.pem.
void Issue(const TTestPki& APki, const std::string& ABase, const std::string& ACn, int32_t ADays,
           const std::string& AExtensions = "") {
  Openssl("req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + ABase + ".key -out " +
          ABase + ".csr -subj /CN=" + ACn);
  Openssl("x509 -req -in " + ABase + ".csr -CA " + APki.CaCert + " -CAkey " + APki.CaKey +
          " -CAcreateserial -out " + ABase + ".pem -days " + std::to_string(ADays) + AExtensions);
  chmod((ABase + ".key").c_str(), 0600);
}

sockaddr_in Loopback(uint16_t APort) {
  sockaddr_in LAddress{};
  LAddress.sin_family = AF_INET;
  LAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  LAddress.sin_port = htons(APort);
  return LAddress;
}

// A loopback port nobody holds at this moment; 0 when none could be had.
uint16_t FreeLoopbackPort() {
  const int LSocket = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in LAddress = Loopback(0);
  auto* LAny = reinterpret_cast<sockaddr*>(&LAddress);
  socklen_t LLength = sizeof(LAddress);
  const bool LBound = bind(LSocket, LAny, LLength) == 0 && getsockname(LSocket, LAny, &LLength) == 0;
  close(LSocket);
  return LBound ? ntohs(LAddress.sin_port) : 0;
}

bool Accepts(uint16_t APort) {
  const int LSocket = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in LAddress = Loopback(APort);
  const bool LAccepted =
      connect(LSocket, reinterpret_cast<const sockaddr*>(&LAddress), sizeof(LAddress)) == 0;
  close(LSocket);
  return LAccepted;
}

std::string Program(const char* AName) {
  for (const std::string LFolder : {"/usr/sbin/", "/usr/bin/", "/usr/local/sbin/", "/usr/local/bin/"})
    if (access((LFolder + AName).c_str(), X_OK) == 0) return LFolder + AName;
  throw std::runtime_error(std::string(AName) + " is not installed (scripts/setup installs it)");
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

// Picks a free loopback port for APort, writes AConfig() to AConfigFile, runs AArguments[0] in the
// foreground of a child process and waits up to 10 s until it accepts on APort. Three tries: another
// process may take the port between the probe and the server's bind. Throws with ALog's content.
pid_t StartServer(uint16_t& APort, const std::string& AConfigFile,
                  const std::function<std::string()>& AConfig, const std::vector<std::string>& AArguments,
                  const std::string& ALog) {
  std::vector<char*> LArgv;
  for (const std::string& LArgument : AArguments) LArgv.push_back(const_cast<char*>(LArgument.c_str()));
  LArgv.push_back(nullptr);
  for (int32_t LTry = 1;; ++LTry) {
    APort = FreeLoopbackPort();
    WriteFile(AConfigFile, AConfig());
    const pid_t LPid = fork();
    if (LPid == 0) {
      execv(LArgv[0], LArgv.data());
      _exit(127);
    }
    if (LPid < 0) throw std::runtime_error("cannot fork " + AArguments[0]);
    bool LStopped = false;
    for (int32_t LWait = 0; LWait < 200 && !LStopped; ++LWait) {
      if (Accepts(APort)) return LPid;
      LStopped = waitpid(LPid, nullptr, WNOHANG) == LPid;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!LStopped) StopServer(LPid);
    if (LTry == 3) throw std::runtime_error(AArguments[0] + " did not accept connections: " + ReadFile(ALog));
  }
}

}  // namespace

TTestPki MakeTestPki(const std::string& ADir, const std::string& AClientCn) {
  const std::string D = ADir + "/";
  TTestPki L{D + "ca.pem", D + "server.pem", D + "server.key", "", "", D + "ca.key"};
  Openssl("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + L.CaKey + " -out " +
          L.CaCert + " -days 30 -subj /CN=orvane-test-ca");
  chmod(L.CaKey.c_str(), 0600);
  WriteFile(D + "server.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
  Issue(L, D + "server", "127.0.0.1", 30, " -extfile " + D + "server.ext");
  std::tie(L.ClientCert, L.ClientKey) = MakeTestClientCert(L, ADir, AClientCn);
  return L;
}

std::pair<std::string, std::string> MakeTestClientCert(const TTestPki& APki, const std::string& ADir,
                                                       const std::string& AClientCn, int32_t ADays) {
  const std::string LBase = ADir + "/client-" + AClientCn;
  Issue(APki, LBase, AClientCn, ADays);
  return {LBase + ".pem", LBase + ".key"};
}

TNginxOptions ExampleSiteOptions(const TTestPki& APki) {
  return {.Pki = &APki, .ExampleSite = true};
}

TNginxServer::TNginxServer(TNginxOptions AOptions) : FOptions(std::move(AOptions)) {
  const std::string P = FDir.Path();
  if (P.empty()) throw std::runtime_error("cannot make nginx's directory");
  for (const char* LSub : {"www", "tmp", "logs"}) fs::create_directories(P + "/" + LSub);
  FPid = StartServer(
      FPort, P + "/nginx.conf", [this] { return Config(); },
      {Program("nginx"), "-p", P, "-c", P + "/nginx.conf", "-g", "daemon off;"}, P + "/logs/error.log");
}

std::string TNginxServer::Config() const {
  const std::string P = FDir.Path();
  const std::string LExample = "include " ORVANE_NGINX_EXAMPLE_DIR "/tessra-";
  std::ostringstream C;
  // As root the workers would otherwise run as nobody and could not write the document root.
  if (geteuid() == 0) C << "user root;\n";
  C << "worker_processes 1;\npid " << P << "/nginx.pid;\nerror_log " << P << "/logs/error.log warn;\n"
    << "events { worker_connections 256; }\nhttp {\n"
    << "  log_format plain '$request_method $request_uri $status $bytes_sent"
    << (FOptions.ExtraLogFields.empty() ? "" : " " + FOptions.ExtraLogFields) << "';\n"
    << "  access_log " << P << "/logs/access.log plain;\n  client_max_body_size 64m;\n";
  for (const char* LTemp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
    C << "  " << LTemp << "_temp_path " << P << "/tmp/" << LTemp << ";\n";
  if (FOptions.ExampleSite) C << LExample << "client-map.conf;\n";
  C << "  server {\n    listen 127.0.0.1:" << FPort << (FOptions.Pki ? " ssl;\n" : ";\n");
  if (FOptions.Pki)
    C << "    ssl_certificate " << FOptions.Pki->ServerCert << ";\n"
      << "    ssl_certificate_key " << FOptions.Pki->ServerKey << ";\n";
  if (FOptions.ExampleSite)
    C << "    ssl_client_certificate " << FOptions.Pki->CaCert << ";\n    ssl_verify_client on;\n";
  C << "    root " << P << "/www;\n"
    << FOptions.ExtraServerConfig << "\n"
    << (FOptions.ExampleSite
            ? LExample + "locations.conf;\n"
            : "    location / { dav_methods PUT DELETE; create_full_put_path on; dav_access user:rw; }\n")
    << "  }\n}\n";
  return C.str();
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
  int32_t LCount = 0;
  for (int32_t LWait = 0; (LCount = CountRequests(AText)) < ACount && LWait < 200; ++LWait)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return LCount;
}

TTinyproxy::TTinyproxy() {
  const std::string P = FDir.Path();
  if (P.empty()) throw std::runtime_error("cannot make tinyproxy's directory");
  FPid = StartServer(
      FPort, P + "/tinyproxy.conf",
      [&] {
        return "Port " + std::to_string(FPort) +
               "\nListen 127.0.0.1\nTimeout 30\nMaxClients 16\nAllow 127.0.0.1\n" + "LogFile \"" + P +
               "/tinyproxy.log\"\nLogLevel Info\nPidFile \"" + P + "/tinyproxy.pid\"\n";
      },
      {Program("tinyproxy"), "-d", "-c", P + "/tinyproxy.conf"}, P + "/tinyproxy.log");
}

TTinyproxy::~TTinyproxy() { StopServer(FPid); }

std::string TTinyproxy::Url() const { return "http://127.0.0.1:" + std::to_string(FPort); }

std::string TTinyproxy::Log() const { return ReadFile(FDir.Path() + "/tinyproxy.log"); }

}  // namespace Orvane::Testing
