#pragma once

#include <string>

#include "OrvaneCore/Conditions/StartCondition.h"

namespace Orvane {

// The part that the conditions due at times of the clock (once, daily, interval) share.
//
// A kind names its occurrences; the job owes every occurrence after its reference point (the last
// run, the moment a recurring job was first seen, a skip at start) and is due, since the first
// owed occurrence, once that occurrence has come. One run settles all owed occurrences, so a job
// that missed three daily runs runs once.
//
// Options every time-based kind has:
// - MaxSplaySeconds: occurrences move by a random offset from 0 to this bound, drawn once per job
//   and kept in the storage, so that thousands of clients with one schedule do not all call the
//   server in the same second;
// - CatchUp: an occurrence that came while the agent was off shows up as owed in the pass after the
//   agent started (IsStartupPass); true runs it once then, false skips it to the next regular time
//   and keeps the skip in the storage.
// No run is due while the service stops (IsStopping). Such a job may wait in the queue a while, so
// the dispatcher evaluates it again before it runs; nothing but stopping changes its answer then.
//
// Evaluation reads ANow, the options, the storage and the run information. It writes the storage
// only to fix its own reference points, once each: the splay, the moment a recurring job was first
// seen, a skip at start. Evaluating again at the same moment gives the same answer.
class TStartConditionTimed : public TStartCondition {
public:
  std::string ClassName() const override { return "TStartConditionTimed"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  TDateTime CalcNextExecution(TDateTime ANow, TStartConditionStorage& AStorage) final;
  bool GetReEvaluateBeforeRun() const override { return true; }
  // The first owed occurrence (which may lie in the past); -1.0 when none is coming.
  TDateTime NextPlannedTime(TDateTime ANow, const TStartConditionStorage& AStorage) const final;

  int32_t GetMaxSplaySeconds() const { return FMaxSplaySeconds; }
  void SetMaxSplaySeconds(int32_t AValue) {
    FMaxSplaySeconds = AValue;
    MarkChanged();
  }
  bool GetCatchUp() const { return FCatchUp; }
  void SetCatchUp(bool AValue) {
    FCatchUp = AValue;
    MarkChanged();
  }

  // Empty when the definition can fall due; otherwise why not. Such a condition is never due.
  virtual std::string InvalidReason() const { return std::string(); }

protected:
  // The storage as the kind reads it: UTC moments, -1.0 for none.
  struct TMarks {
    TDateTime LastRun = CNoDateTime;
    TDateTime Anchor = CNoDateTime;
    TDateTime SkippedUntil = CNoDateTime;
    int32_t SplaySeconds = 0;
    // The latest of the three moments: occurrences up to it are settled.
    TDateTime SettledUntil() const;
  };

  // The first occurrence after the marks, UTC; -1.0 when there is none.
  virtual TDateTime FirstOwed(const TMarks& AMarks) const = 0;
  // A recurring kind counts from the moment it first sees the job, and distrusts reference points
  // that lie more than a day ahead of now (a clock set back by days would stall it for days). A
  // one-time kind keeps its reference points whatever the clock says: it never runs twice.
  virtual bool GetIsRecurring() const = 0;

  // Logs a definition read from data that can never fall due.
  void ReportInvalidDefinition(IMemberVisitor& AVisitor) const;

private:
  TMarks ReadMarks(const TStartConditionStorage& AStorage, TDateTime ANowUtc, int32_t ASplaySeconds) const;
  int32_t KeepSplay(TStartConditionStorage& AStorage) const;

  int32_t FMaxSplaySeconds = 0;
  bool FCatchUp = true;
};

}  // namespace Orvane
