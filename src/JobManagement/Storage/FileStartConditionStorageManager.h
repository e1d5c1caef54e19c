#pragma once

#include <memory>
#include <string>

#include "JobManagement/Storage/StartConditionStorageManager.h"
#include "OrvaneCore/Interfaces/JobStoragePathProvider.Intf.h"

namespace Orvane {

class TXmlSerializer;

// The start condition storage manager that keeps the state in one XML file:
//
//   <Root>
//     <N8A1F...-...>                      one element per job key: the active jobs first, then the
//       <TStartConditionStorageList>      inactive ones, each group in its dictionary's order
//         <TStartConditionStorage>...     one per storage, in list order
//       </TStartConditionStorageList>
//     </N8A1F...-...>
//   </Root>
//
// A key element is named "N" and the key without its first and last character, so the key
// "{8A1F...}" of an agent task is written as "N8A1F..." and read back as "{8A1F...}". Keys that
// are not enclosed in braces lose their first and last character on the way (the key ABC comes
// back as {B}): their state does not survive a restart, which RegisterJob warns about. Characters
// that an element name cannot hold are written as "_" and two hexadecimal digits per byte ("_"
// itself as "_5F"), so any braced key round-trips.
//
// Loading is forgiving: a missing file leaves nothing to merge; an unreadable one (empty,
// truncated, not XML, another root) is logged and leaves nothing to merge; within a readable one,
// a key element that cannot be read, or that repeats a key read before, is logged and skipped and
// the others load. Writing replaces the file atomically; a failed write is logged and the state
// stays in memory for the next save.
//
// The steps that variants change: SetFilePermissions (opens the file to every user through the
// permissions plug-in; without it the file stays owner-only), GetFilePath, and the hooks
// AfterXmlSaved, BeforeLoad and LoadFailed, which do nothing here.
//
// Threading: as its base, serialised by its callers.
class TFileStartConditionStorageManager : public TStartConditionStorageManager {
public:
  explicit TFileStartConditionStorageManager(std::string AFilePath);
  std::string ClassName() const override { return "TFileStartConditionStorageManager"; }

  // Warns, besides, when the job's key cannot come back from the file unchanged.
  void RegisterJob(const TJobPtr& AJob) override;

  virtual std::string GetFilePath() const { return FFilePath; }

  // The element name of a key: "N", then the key without its first and last character (UTF-8
  // characters, not bytes), with what a name cannot hold escaped.
  static std::string KeyToNodeName(const std::string& AKey);
  // The key of an element name: "{", the name without its first character, unescaped, "}".
  static std::string NodeNameToKey(const std::string& ANodeName);

protected:
  void InternalLoadStorages(TConditionStoresDict& ADict) override;
  void InternalSaveStorages(const TConditionStoresDict& AActive,
                            const TConditionStoresDict& AInactive) override;

  // The document just written, also after a failed write.
  virtual void AfterXmlSaved(const std::string& AXml);
  virtual void BeforeLoad();
  virtual void SetFilePermissions(const std::string& AFilePath);
  // LoadData found no file or failed as a whole; ADict holds what was read before the failure.
  virtual void LoadFailed(TConditionStoresDict& ADict);

  // Reads the file into ADict; false when there is no file or it could not be read at all.
  bool LoadData(TConditionStoresDict& ADict);

private:
  void WriteStoresDict(TXmlSerializer& ASerializer, const TConditionStoresDict& ADict) const;

  const std::string FFilePath;
};

template <class T = void>
class TFileStartConditionStorageManagerNoFilePermissions;

// Leaves the file owner-only.
template <>
class TFileStartConditionStorageManagerNoFilePermissions<void> : public TFileStartConditionStorageManager {
public:
  using TFileStartConditionStorageManager::TFileStartConditionStorageManager;
  std::string ClassName() const override { return "TFileStartConditionStorageManagerNoFilePermissions"; }

protected:
  void SetFilePermissions(const std::string& AFilePath) override;
};

class TScannerJobAction;

// The manager of agent tasks, one per process: "ConditionStorage.xml" in the storage directory of
// TScannerJobAction, owner-only.
template <>
class TFileStartConditionStorageManagerNoFilePermissions<TScannerJobAction>
    : public TFileStartConditionStorageManagerNoFilePermissions<>,
      public virtual IStartConditionStorageManager<TScannerJobAction> {
public:
  explicit TFileStartConditionStorageManagerNoFilePermissions(
      std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>> APathProvider);
  std::string ClassName() const override {
    return "TFileStartConditionStorageManagerNoFilePermissions<TScannerJobAction>";
  }

  std::string GetFilePath() const override { return FGenerateFilePath; }

private:
  const std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>> FJobStoragePathProvider;
  const std::string FGenerateFilePath;
};

inline constexpr const char* CConditionStorageFileName = "ConditionStorage.xml";

}  // namespace Orvane
