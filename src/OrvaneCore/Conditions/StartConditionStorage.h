#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Data/TessraData.h"

namespace Orvane {

// The state a start condition keeps between evaluations and across restarts. One concrete class
// for every condition kind: its name (unique within its job, stable across restarts) and a small set
// of typed values that each kind reads and writes as it needs. Times are UTC.
//
// The values are atomics: the scheduler reads them, a finished job's thread writes them and the
// storage file is written from them, on different threads. Name is written only while the storage
// is not shared (creation, or Assign under the job list's lock).
class TStartConditionStorage : public TTessraData {
public:
  std::string ClassName() const override { return "TStartConditionStorage"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  // Runs after Assign has copied stored state into a live storage; kinds that derive values from
  // the stored ones may refresh them here. Nothing to do for the values kept so far.
  virtual void AfterAssign() {}

  const std::string& GetName() const { return FName; }
  void SetName(std::string AValue) {
    FName = std::move(AValue);
    MarkChanged();
  }

  // The last run, UTC; -1 for none.
  TDateTime GetLastRun() const { return FLastRun.load(); }
  void SetLastRun(TDateTime AValue) {
    FLastRun.store(AValue);
    MarkChanged();
  }
  // The last drop (a due run that did not happen), UTC; -1 for none.
  TDateTime GetLastDrop() const { return FLastDrop.load(); }
  void SetLastDrop(TDateTime AValue) {
    FLastDrop.store(AValue);
    MarkChanged();
  }
  // A random offset in seconds drawn once per client and job; -1 until drawn.
  int32_t GetSplaySeconds() const { return FSplaySeconds.load(); }
  void SetSplaySeconds(int32_t AValue) {
    FSplaySeconds.store(AValue);
    MarkChanged();
  }
  // Stores ADesired only while the value is still AExpected; false when another thread changed it
  // first (two passes drawing a splay for the same job keep one of the two draws).
  bool ReplaceSplaySeconds(int32_t AExpected, int32_t ADesired) {
    if (!FSplaySeconds.compare_exchange_strong(AExpected, ADesired)) return false;
    MarkChanged();
    return true;
  }
  // A reference moment a kind counts from, UTC; -1 for none. Daily and interval conditions keep the
  // moment they first saw the job; the agent-start condition the pass in which it fell due.
  TDateTime GetAnchor() const { return FAnchor.load(); }
  void SetAnchor(TDateTime AValue) {
    FAnchor.store(AValue);
    MarkChanged();
  }
  bool ReplaceAnchor(TDateTime AExpected, TDateTime ADesired) {
    if (!FAnchor.compare_exchange_strong(AExpected, ADesired)) return false;
    MarkChanged();
    return true;
  }
  // Due times up to this moment were skipped rather than caught up when the agent started, UTC; -1
  // for none. Unlike a drop, a skip moves the schedule on to the next regular time.
  TDateTime GetSkippedUntil() const { return FSkippedUntil.load(); }
  void SetSkippedUntil(TDateTime AValue) {
    FSkippedUntil.store(AValue);
    MarkChanged();
  }

private:
  std::string FName;
  std::atomic<TDateTime> FLastRun{CNoDateTime};
  std::atomic<TDateTime> FLastDrop{CNoDateTime};
  std::atomic<int32_t> FSplaySeconds{-1};
  std::atomic<TDateTime> FAnchor{CNoDateTime};
  std::atomic<TDateTime> FSkippedUntil{CNoDateTime};
};

using TStartConditionStoragePtr = std::shared_ptr<TStartConditionStorage>;
// The storages of one job: the facade holds the list, and the storage manager refers to the very
// same list object while the job is registered with it.
using TStorageList = std::vector<TStartConditionStoragePtr>;
using TStorageListPtr = std::shared_ptr<TStorageList>;

}  // namespace Orvane
