#include "Tasks/ComputerScannerTask.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <utility>

#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

namespace {

namespace fs = std::filesystem;

// File system types that hold no storage of their own.
const std::set<std::string> CPseudoFileSystems = {
    "proc",    "sysfs",      "devpts",    "cgroup",   "cgroup2",   "securityfs",  "pstore", "debugfs",
    "tracefs", "mqueue",     "hugetlbfs", "configfs", "fusectl",   "binfmt_misc", "autofs", "bpf",
    "nsfs",    "rpc_pipefs", "efivarfs",  "devtmpfs", "selinuxfs", "ramfs"};

std::string ReadKeyValue(const std::string& AFileName, const std::string& AKey, char ASeparator) {
  std::ifstream LStream(AFileName);
  std::string LLine;
  while (std::getline(LStream, LLine)) {
    const std::size_t LAt = LLine.find(ASeparator);
    if (LAt == std::string::npos || Trim(LLine.substr(0, LAt)) != AKey) continue;
    std::string LValue = Trim(LLine.substr(LAt + 1));
    if (LValue.size() >= 2 && LValue.front() == '"' && LValue.back() == '"')
      LValue = LValue.substr(1, LValue.size() - 2);
    return LValue;
  }
  return "";
}

// A /proc/meminfo value ("16318624 kB") in bytes.
std::string MemInfoBytes(const std::string& AKey) {
  const std::string LValue = ReadKeyValue("/proc/meminfo", AKey, ':');
  try {
    return std::to_string(std::stoull(LValue) * 1024ull);
  } catch (const std::exception&) {
    return "";
  }
}

// /proc/mounts escapes blanks and the like as octal "\040".
std::string UnescapeMountField(const std::string& AText) {
  std::string LResult;
  for (std::size_t I = 0; I < AText.size(); ++I) {
    if (AText[I] == '\\' && I + 3 < AText.size()) {
      const std::string LOctal = AText.substr(I + 1, 3);
      if (LOctal.size() == 3 &&
          std::all_of(LOctal.begin(), LOctal.end(), [](char C) { return C >= '0' && C <= '7'; })) {
        LResult += static_cast<char>(std::stoi(LOctal, nullptr, 8));
        I += 3;
        continue;
      }
    }
    LResult += AText[I];
  }
  return LResult;
}

void CollectSystem(TComputerInventory& A) {
  char LHost[256] = {};
  if (gethostname(LHost, sizeof(LHost) - 1) == 0) A.HostName = LHost;
  A.OsRelease = ReadKeyValue("/etc/os-release", "PRETTY_NAME", '=');
  utsname LName{};
  if (uname(&LName) == 0)
    A.Kernel = std::string(LName.sysname) + " " + LName.release + " " + LName.version + " " + LName.machine;
}

void CollectProcessor(TComputerInventory& A) {
  A.CpuModel = ReadKeyValue("/proc/cpuinfo", "model name", ':');
  if (A.CpuModel.empty()) A.CpuModel = ReadKeyValue("/proc/cpuinfo", "Model", ':');
  A.CpuCount = static_cast<int32_t>(sysconf(_SC_NPROCESSORS_ONLN));
}

void CollectMemory(TComputerInventory& A) {
  A.MemoryTotalBytes = MemInfoBytes("MemTotal");
  A.MemoryAvailableBytes = MemInfoBytes("MemAvailable");
}

void CollectFileSystems(TComputerInventory& A) {
  std::ifstream LMounts("/proc/mounts");
  std::string LDevice, LMountPoint, LType, LRest;
  std::set<std::string> LSeen;
  while (LMounts >> LDevice >> LMountPoint >> LType && std::getline(LMounts, LRest)) {
    if (CPseudoFileSystems.count(LType) != 0) continue;
    LMountPoint = UnescapeMountField(LMountPoint);
    if (!LSeen.insert(LMountPoint).second) continue;
    struct statvfs LStat {};
    if (statvfs(LMountPoint.c_str(), &LStat) != 0 || LStat.f_blocks == 0) continue;
    auto LInfo = std::make_shared<TFileSystemInfo>();
    LInfo->MountPoint = LMountPoint;
    LInfo->Device = UnescapeMountField(LDevice);
    LInfo->FileSystemType = LType;
    LInfo->SizeBytes = std::to_string(static_cast<unsigned long long>(LStat.f_blocks) * LStat.f_frsize);
    LInfo->FreeBytes = std::to_string(static_cast<unsigned long long>(LStat.f_bavail) * LStat.f_frsize);
    A.FileSystems.push_back(std::move(LInfo));
  }
}

void CollectNetwork(TComputerInventory& A) {
  ifaddrs* LList = nullptr;
  if (getifaddrs(&LList) != 0) {
    OrvaneLogger()->LastError("Computer Scanner: the network interfaces cannot be read", errno);
    return;
  }
  std::map<std::string, std::shared_ptr<TNetworkInterfaceInfo>> LByName;
  std::vector<std::string> LOrder;
  for (ifaddrs* LItem = LList; LItem; LItem = LItem->ifa_next) {
    if (!LItem->ifa_name) continue;
    std::shared_ptr<TNetworkInterfaceInfo>& LInfo = LByName[LItem->ifa_name];
    if (!LInfo) {
      LInfo = std::make_shared<TNetworkInterfaceInfo>();
      LInfo->Name = LItem->ifa_name;
      LOrder.push_back(LInfo->Name);
    }
    if (!LItem->ifa_addr) continue;
    char LText[INET6_ADDRSTRLEN] = {};
    switch (LItem->ifa_addr->sa_family) {
      case AF_INET:
        if (inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(LItem->ifa_addr)->sin_addr, LText,
                      sizeof(LText)))
          LInfo->Addresses.push_back(LText);
        break;
      case AF_INET6:
        if (inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(LItem->ifa_addr)->sin6_addr, LText,
                      sizeof(LText)))
          LInfo->Addresses.push_back(LText);
        break;
      case AF_PACKET: {
        const auto* LLink = reinterpret_cast<sockaddr_ll*>(LItem->ifa_addr);
        std::string LMac;
        for (int I = 0; I < LLink->sll_halen; ++I) {
          char LByte[4];
          std::snprintf(LByte, sizeof(LByte), I ? ":%02x" : "%02x", LLink->sll_addr[I]);
          LMac += LByte;
        }
        LInfo->MacAddress = LMac;
        break;
      }
      default:
        break;
    }
  }
  freeifaddrs(LList);
  for (const std::string& LName : LOrder) A.NetworkInterfaces.push_back(LByName[LName]);
}

}  // namespace

TComputerScannerTask::TComputerScannerTask(const std::string& ADataDir)
    : TResultTask(ADataDir, std::string(CComputerScannerId), CTaskName) {}

bool TComputerScannerTask::Collect(TComputerInventory& AInventory, const TContinueCheck& ACanContinue) {
  const std::pair<const char*, void (*)(TComputerInventory&)> LSteps[] = {
      {"system", CollectSystem},
      {"processor", CollectProcessor},
      {"memory", CollectMemory},
      {"file systems", CollectFileSystems},
      {"network", CollectNetwork}};
  AInventory.ScannedAt = Now();
  for (const auto& [LName, LStep] : LSteps) {
    if (ACanContinue && !ACanContinue()) {
      OrvaneLogger()->Message("Computer Scanner cut short before the step: %s", {LName});
      return false;
    }
    LStep(AInventory);
  }
  return true;
}

TResultTask::TTaskRun TComputerScannerTask::CollectRun(const std::string& AClientId,
                                                       const std::shared_ptr<TScannerJobAction>&,
                                                       const TContinueCheck& ACanContinue) {
  return CollectDocument<TComputerInventory>(
      AClientId, [&](TComputerInventory& AInventory) { return Collect(AInventory, ACanContinue); });
}

}  // namespace Orvane
