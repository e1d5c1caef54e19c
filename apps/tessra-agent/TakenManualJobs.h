#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "OrvaneCore/DataTransfer/DataTransfer.h"
#include "OrvaneCore/Interfaces/ItemSaver.Intf.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

// The server's manual jobs that this client has taken, so that each runs once, also across
// crashes and restarts. It wraps whichever sender reaches the server and works on every answer:
//   - a listed manual job already taken is left out of the answer;
//   - a listed manual job whose identifier the request names among the client's own manual jobs is
//     on this client's disk already (a crash came between its save and the record's): it is taken;
//   - what the answer hands out is taken only when the job list's saver reports the job written
//     (ManualJobSaved): a crash before that loses nothing, the server hands the job out again;
//   - taken jobs the server no longer lists are forgotten, so the record stays as small as the
//     server's list.
// A job is known by its execution id, else by its identifier, letter case aside. The record is the
// file DATA/taken-manual-jobs, one job a line, replaced atomically before the call that changed it
// returns.
//
// Threading: any thread; calls come from the job list's load, under its lock, and its saver's
// events. The record's lock is the innermost: nothing is called out while it is held.
class TTakenManualJobs : public IServerRequestSender {
public:
  static constexpr const char* CFileName = "taken-manual-jobs";

  TTakenManualJobs(std::shared_ptr<IServerRequestSender> ASender, std::string ADataDir);
  ~TTakenManualJobs() override;
  TTakenManualJobs(const TTakenManualJobs&) = delete;
  TTakenManualJobs& operator=(const TTakenManualJobs&) = delete;

  int32_t SendRequest(TRequest& ARequest, TResponse& AResponse) override;

  // A manual job that the job list has just saved; a job the last answer handed out is taken now.
  void ManualJobSaved(const TJobPtr& AJob);
  // Hears of each job ASaver has saved (its after-save-item event, raised after a successful write)
  // for as long as this object lives.
  void WatchSaver(std::shared_ptr<IItemSaver<TJob>> ASaver);

  std::vector<std::string> GetTaken() const;

private:
  void Take(const std::string& AKey) REQUIRES(FLock);
  void SaveRecord() REQUIRES(FLock);

  const std::shared_ptr<IServerRequestSender> FSender;
  const std::string FDataDir;
  std::shared_ptr<IItemSaver<TJob>> FSaver;
  TAfterSaveItemEvent::TToken FSaverToken{};

  mutable TMutex FLock;
  std::vector<std::string> FTaken GUARDED_BY(FLock);              // in the record's order
  std::unordered_set<std::string> FTakenKeys GUARDED_BY(FLock);   // the same, upper case
  std::unordered_set<std::string> FHandedOut GUARDED_BY(FLock);   // by the last answer, upper case
};

}  // namespace Orvane
