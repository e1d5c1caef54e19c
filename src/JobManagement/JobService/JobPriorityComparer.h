#pragma once

#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {

// Orders two items: negative when ALeft comes first, positive when ARight does, 0 when neither.
template <class T>
struct IComparer;

template <>
struct IComparer<TJob> {
  static constexpr const char* IID = "{9A8F16B6-E552-4C8B-BA6F-8008950EC695}";
  static constexpr const char* Name = "IComparer<TJob>";
  virtual ~IComparer() = default;

  virtual int Compare(const TJob& ALeft, const TJob& ARight) = 0;
};

// The order in which queued jobs run: manual jobs first; then the earlier due time, where a job
// without one (-1.0) comes after every job with one and due times less than a millisecond apart
// count as equal; then the smaller Order; then the smaller QueueIndex. Stateless, so any thread may
// use it without a lock.
class TJobPriorityComparer final : public virtual IComparer<TJob> {
public:
  int Compare(const TJob& ALeft, const TJob& ARight) override;
};

}  // namespace Orvane
